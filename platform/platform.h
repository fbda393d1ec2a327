// The boundary between hwpurge's logic and the operating system.
//
// The logic in cli/ and removal/ calls Windows by its own names. On Windows
// this header brings in the SDK and nothing else. Elsewhere it declares the
// same names with Windows' values, and the host layer (platform/host)
// implements them on a simulated Windows that tests can script.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Needs the types windows.h declares.
#include <setupapi.h>
// The configuration manager: whether a node is in the device tree now.
#include <cfgmgr32.h>

#else

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Only the names cli/ and removal/ call, and the types their declarations
// need; platform/host/windows_names.h adds the ones the simulation uses.

// Base types, sized as on 64-bit Windows (LLP64: DWORD is 32 bits).
typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef DWORD LCID;
typedef char16_t WCHAR;  // UTF-16, as on Windows
typedef char* LPSTR;
typedef char* PSTR;
typedef const char* LPCSTR;
typedef const char* PCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const void* LPCVOID;
typedef BYTE* PBYTE;
typedef DWORD* PDWORD;
typedef ULONG* PULONG;
typedef WORD* LPWORD;
typedef BOOL* LPBOOL;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HWND;
typedef void* HDEVINFO;
typedef UINT DI_FUNCTION;
typedef DWORD DEVINST;
typedef DWORD CONFIGRET;
typedef int32_t LONG;  // 32 bits, as on 64-bit Windows
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef void* HKEY;
typedef void* PVOID;
typedef uintptr_t UINT_PTR;
typedef char CHAR;
typedef void* HSPFILEQ;
typedef UINT (*PSP_FILE_CALLBACK_A)(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

#define MAX_PATH 260

// A device information element's installation parameters.
struct SP_DEVINSTALL_PARAMS_A {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PSP_FILE_CALLBACK_A InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    HSPFILEQ FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    CHAR DriverPath[MAX_PATH];
};
typedef SP_DEVINSTALL_PARAMS_A* PSP_DEVINSTALL_PARAMS_A;

#define MAX_LEADBYTES 12
#define MAX_DEFAULTCHAR 2
struct CPINFO {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
};
typedef CPINFO* LPCPINFO;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

// SetupAPI
#define DIGCF_ALLCLASSES 0x00000004
#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_MFG 0x0000000B
#define SPDRP_FRIENDLYNAME 0x0000000C
#define DIF_REMOVE 0x00000005
#define DICS_FLAG_GLOBAL 0x00000001
#define DIREG_DRV 0x00000002
#define DI_NEEDRESTART 0x00000080
#define DI_NEEDREBOOT 0x00000100

// The registry
#define KEY_QUERY_VALUE 0x0001
#define REG_SZ 1
#define REG_EXPAND_SZ 2

// The configuration manager
#define CR_SUCCESS 0x00000000
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_NO_SUCH_DEVINST 0x0000000D
#define CR_FAILURE 0x00000013
#define CR_REGISTRY_ERROR 0x0000001D
#define CR_NO_CM_SERVICES 0x00000032
#define CR_ACCESS_DENIED 0x00000033
#define CR_CALL_NOT_IMPLEMENTED 0x00000034
#define DN_HAS_PROBLEM 0x00000400
#define DN_WILL_BE_REMOVED 0x00040000
#define CM_PROB_WILL_BE_REMOVED 0x00000015

// Last-error codes
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_DATA 13L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
// SetupAPI's own codes, for which the system has no text.
#define ERROR_NO_ASSOCIATED_CLASS 0xE0000200L
#define ERROR_KEY_DOES_NOT_EXIST 0xE0000204L
#define ERROR_INVALID_CLASS 0xE0000206L
#define ERROR_DEVINFO_NOT_REGISTERED 0xE0000208L
#define ERROR_INVALID_REG_PROPERTY 0xE0000209L
#define ERROR_NO_SUCH_DEVINST 0xE000020BL
#define ERROR_INVALID_CLASS_INSTALLER 0xE000020DL
#define ERROR_DI_DO_DEFAULT 0xE000020EL
#define ERROR_DEVINFO_LIST_LOCKED 0xE0000212L
#define ERROR_DEVINFO_DATA_LOCKED 0xE0000213L
#define ERROR_DI_BAD_PATH 0xE0000214L
#define ERROR_NO_ASSOCIATED_SERVICE 0xE0000219L
#define ERROR_NO_CONFIGMGR_SERVICES 0xE0000223L
#define ERROR_CANT_REMOVE_DEVINST 0xE0000232L
#define ERROR_IN_WOW64 0xE0000235L
#define ERROR_UNKNOWN_EXCEPTION 0xE0000239L
#define ERROR_PNP_REGISTRY_ERROR 0xE000023AL
#define ERROR_NOT_INSTALLED 0xE0001000L

// Local heap
#define LPTR 0x0040  // LMEM_FIXED | LMEM_ZEROINIT

// Message texts
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

// Code pages and character types
#define CP_ACP 0
#define CP_UTF8 65001
#define CT_CTYPE1 0x00000001
#define C1_UPPER 0x0001
#define LCMAP_LOWERCASE 0x00000100
#define LOCALE_SYSTEM_DEFAULT 0x0800

// Device setup interface
HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags);
BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize);
BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PSTR DeviceInstanceId,
                                 DWORD DeviceInstanceIdSize, PDWORD RequiredSize);
HKEY SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD HwProfile,
                          DWORD KeyType, REGSAM samDesired);
BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

// The configuration manager: whether a node is in the device tree now
CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags);

// The registry: values of a key SetupAPI opened
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);
LSTATUS RegCloseKey(HKEY hKey);

// Base services
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL LocalFree(HLOCAL hMem);
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments);

// Code-page services
UINT GetACP();
BOOL IsValidCodePage(UINT CodePage);
BOOL GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo);
BOOL GetStringTypeA(LCID Locale, DWORD dwInfoType, LPCSTR lpSrcStr, int cchSrc, LPWORD lpCharType);
int LCMapStringA(LCID Locale, DWORD dwMapFlags, LPCSTR lpSrcStr, int cchSrc, LPSTR lpDestStr, int cchDest);
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

#endif
