// The control panel of the simulated Windows behind platform.h on hosts that
// are not Windows: what tests include to start, script and inspect the
// machine. The logic never includes this header.
#pragma once

#include "platform/host/boot.h"              // Reset, Boot
#include "platform/host/code_pages.h"        // the ANSI code page and its case data
#include "platform/host/fault_script.h"      // ParseFaults
#include "platform/host/machine.h"           // database, faults, calls, heap, sets
#include "platform/host/machine_database.h"  // UseDatabaseFile, the sample
#include "platform/host/node.h"              // Node, MakeNode...
#include "platform/host/windows_names.h"
