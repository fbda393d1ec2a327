// For tests: a registry export of the Enum key as a device database, read
// from bytes (enum_key.h) or as a file on disk and rewritten without removed
// nodes (database_file.h), with the control panel that scripts the machine.
#pragma once

#include "platform/host/database_file.h"
#include "platform/host/enum_key.h"
#include "platform/host/simulated_windows.h"
