// The one failure reporter both programs share.
#pragma once

#include "platform/platform.h"

// Writes one line on standard error naming the failed operation and the
// last-error code: below 0x10000 in decimal with the system's text, from
// 0x10000 on in hex as Windows tools write it, with SetupAPI's symbolic name
// where the system has no text for it. Hands the failure to the sink, if one
// is set. Leaves the last-error code as it found it, and returns false.
bool ReportFailure(const char* operationName);

// Where a report goes besides standard error. `text` is the system's text on
// one line, or nullptr; it lives only for the call.
typedef void (*FailureSink)(const char* operationName, DWORD code, const char* text, void* context);

// Sets the sink every later report is handed to; nullptr for none.
void SetFailureSink(FailureSink sink, void* context);

// SetupAPI's symbolic name for `code`, or nullptr when it is not one of the
// setup codes a pass can meet.
const char* SetupErrorName(DWORD code);
