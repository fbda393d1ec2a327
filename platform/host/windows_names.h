// The Windows names the simulated Windows and its tests use beyond those the
// logic calls (platform/platform.h), with Windows' values. Host only.
#pragma once

#include "platform/platform.h"

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// SetupAPI
#define SPDRP_DRIVER 0x00000009
#define DIREG_DEV 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_MAXIMUM_PROPERTY 0x00000025

// The configuration manager
#define CR_NO_SUCH_DEVNODE CR_NO_SUCH_DEVINST
#define DN_DRIVER_LOADED 0x00000002
#define DN_STARTED 0x00000008

// Registry value types, as hex(N) numbers them in an export
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

// Last-error codes
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L

#define ERROR_INVALID_FLAGS 1004L

// The registry
#define KEY_READ 0x00020019

// Local heap
#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040

// Message texts

// Code pages and character types
#define CP_UTF7 65000
#define C1_LOWER 0x0002
#define LCMAP_UPPERCASE 0x00000200
#define LOCALE_USER_DEFAULT 0x0400
