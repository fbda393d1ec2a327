// The control panel of the simulated Windows behind platform.h on hosts that
// are not Windows: what tests include to start, script and inspect the
// machine. The logic never includes this header.
//
// The simulated functions answer as Windows does for the forms the programs
// and their tests use. The other forms are refused with
// ERROR_INVALID_PARAMETER rather than answered as Windows might; whoever
// starts using one of them teaches the simulation Windows' answer first:
// - SetupDiGetClassDevsA: anything but (NULL, NULL, NULL, DIGCF_ALLCLASSES).
// - SetupDiEnumDeviceInfo: a null record.
// - SetupDiGetDeviceRegistryPropertyA, SetupDiGetDeviceInstanceIdA: a null
//   buffer with a size that is not 0.
// - SetupDiOpenDevRegKey: any key but a driver key (DIREG_DRV) of the global
//   scope and the current hardware profile (0), opened with rights beyond
//   KEY_READ or without KEY_QUERY_VALUE (another scope, DIREG_BOTH or a key
//   type of 0: ERROR_INVALID_FLAGS, as Windows).
// - SetupDiCallClassInstaller: a null record (Windows calls the class's
//   installers for the whole set).
// - SetupDiGetDeviceInstallParamsA: no parameters block, or a record that
//   names no member of the set (a null record reads the set's own).
// - RegQueryValueExA: a reserved pointer, or data without a size.
// - LocalAlloc: any kind of block but LMEM_FIXED, with or without
//   LMEM_ZEROINIT (LPTR).
// - FormatMessageA: without FORMAT_MESSAGE_ALLOCATE_BUFFER and
//   FORMAT_MESSAGE_FROM_SYSTEM, with a flag beyond those and
//   FORMAT_MESSAGE_IGNORE_INSERTS, or with nowhere to put the pointer (in a
//   language other than the user's default: ERROR_RESOURCE_LANG_NOT_FOUND).
// - MultiByteToWideChar, WideCharToMultiByte: flags that are not 0, or a code
//   page the system lacks; GetStringTypeA: anything but CT_CTYPE1;
//   LCMapStringA: anything but LCMAP_LOWERCASE or LCMAP_UPPERCASE; both: a
//   locale but LOCALE_SYSTEM_DEFAULT or LOCALE_USER_DEFAULT.
// SetupDiCallClassInstaller answers any function but DIF_REMOVE as a class
// with no installer does (ERROR_DI_DO_DEFAULT); a property the simulated
// nodes do not hold (any but SPDRP_HARDWAREID, SPDRP_CLASS, SPDRP_CLASSGUID,
// SPDRP_DEVICEDESC, SPDRP_FRIENDLYNAME, SPDRP_MFG, SPDRP_DRIVER) is answered
// as missing (ERROR_INVALID_DATA); CM_Get_DevNode_Status refuses null
// pointers (CR_INVALID_POINTER), flags (CR_INVALID_FLAG) and a DevInst that
// names no node (CR_INVALID_DEVNODE).
//
// In the simulated functions each answer cites its source where it is made:
// "Learn:" a Microsoft Learn page, "Wine:" a check of Wine's conformance
// tests that is not todo_wine, "Assumption:" what has neither, "Scripted:"
// a fault the tests ask for. docs/simulated-windows.md lists the assumptions.
#pragma once

#include "platform/host/boot.h"              // Reset, Boot
#include "platform/host/code_pages.h"        // the ANSI code page and its case data
#include "platform/host/fault_script.h"      // ParseFaults
#include "platform/host/machine.h"           // database, faults, calls, heap, sets
#include "platform/host/machine_database.h"  // UseDatabaseFile, the sample
#include "platform/host/node.h"              // Node, MakeNode...
#include "platform/host/windows_names.h"
