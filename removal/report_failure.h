// The one failure reporter both programs share.
#pragma once

#include "platform/platform.h"

// Writes one line on standard error naming the failed operation and the
// last-error code: below 0x10000 in decimal with the system's text, from
// 0x10000 on in hex as Windows tools write it, with SetupAPI's symbolic name
// where the system has no text for it. Hands the failure to the sink of the
// run under way, if any. Leaves the last-error code as it found it, and
// returns false.
bool ReportFailure(const char* operationName);

// Reports a configuration manager function that answered `result`, a
// CONFIGRET rather than a last-error code: one line on standard error with
// the value in hex and its CR_ name where known. Leaves the last-error code
// alone.
void ReportConfigManagerFailure(const char* operationName, CONFIGRET result);

// Where a report goes besides standard error. `code` is a last-error code,
// or a CONFIGRET when `configRet` is set; `text` is the system's text on one
// line (for a CONFIGRET, its CR_ name), or nullptr; it lives only for the call.
typedef void (*FailureSink)(const char* operationName, DWORD code, bool configRet, const char* text, void* context);

// Runs `run(runContext)` with every report made meanwhile also handed to
// `sink`, and returns what it returns. The sink is withdrawn (the one in force
// before comes back) before this returns: no report after the run reaches it.
bool RunWithFailureSink(FailureSink sink, void* sinkContext, bool (*run)(void* runContext), void* runContext);

// SetupAPI's symbolic name for `code`, or nullptr when it is not one of the
// setup codes a pass can meet.
const char* SetupErrorName(DWORD code);
