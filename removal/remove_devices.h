// The removal pass: every device node whose hardware-ID list holds an entry
// that begins with the identifier is handed to its class installer.
#pragma once

// Writes the banner, then examines every device node of every setup class,
// present or not, and requests the removal of each one that matches.
// Failures of platform calls are reported on standard error; none of them
// reaches the caller. After the first removal refused for want of rights,
// one line says that an elevated prompt is needed. When any removal finishes
// only at the next restart, the last line on standard error says how many:
// "hwpurge: N device nodes are removed when Windows restarts" ("1 device
// node is"), fixed so that scripts can rely on it.
void RemoveDevicesByHardwareId(const char* identifier);
