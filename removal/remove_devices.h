// The removal pass: every device node whose hardware-ID list holds an entry
// that begins with the identifier is handed to its class installer.
#pragma once

// Writes the banner, then examines every device node of every setup class,
// present or not, and requests the removal of each one that matches.
// Failures of platform calls are reported on standard error; none of them
// reaches the caller.
void RemoveDevicesByHardwareId(const char* identifier);

// Writes one line on standard error naming the failed operation, the
// last-error code and the system's text for it. Leaves the last-error code as
// it found it, and returns false.
bool ReportFailure(const char* operationName);
