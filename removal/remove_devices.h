// The removal pass: every device node whose hardware-ID list holds an entry
// that begins with the identifier is handed to its class installer.
#pragma once

// Writes the banner, then examines every device node of every setup class,
// present or not, and requests the removal of each one that matches.
// Failures of platform calls are reported on standard error; none of them
// reaches the caller. After the first removal refused for want of rights,
// one line says that an elevated prompt is needed. After the pass, fixed
// lines on standard error, last, that scripts can rely on: "hwpurge: N
// device nodes are removed when Windows restarts" ("1 device node is") for
// the removals Windows said finish at the next restart, and "hwpurge: N
// device nodes may be removed only when Windows restarts" for those it said
// nothing of.
void RemoveDevicesByHardwareId(const char* identifier);
