#include "removal/device_walk.h"

#include <cstring>

#include "removal/hardware_id.h"
#include "removal/report_failure.h"

namespace {

const char kOpenSetName[] = "GetClassDevs(All Present / not Present Devices)";
const char kEnumName[] = "EnumDeviceInfo";
const char kReadName[] = "GetDeviceRegistryProperty";
const char kAllocName[] = "LocalAlloc";

BOOL RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* record, DWORD property, BYTE* buffer, DWORD bufferSize,
                      DWORD* required)
{
    DWORD dataType = 0;  // not examined
    return SetupDiGetDeviceRegistryPropertyA(set, record, property, &dataType, buffer, bufferSize, required);
}

// Examines one node; returns false when the walk must end.
bool ExamineDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* identifier, MatchHandler onMatch,
                   OtherNodeHandler onOther, void* context)
{
    bool matched = false;
    BYTE* buffer = nullptr;
    DWORD listSize = 0;
    const PropertyRead outcome = ReadDeviceProperty(set, record, SPDRP_HARDWAREID, kReadName, &buffer, &listSize);
    if (outcome == kPropertyRead && buffer != nullptr) {
        const char* list = reinterpret_cast<const char*>(buffer);
        const char* entry = FindMatchingHardwareId(list, listSize, identifier);
        if (entry != nullptr) {
            const size_t length = BoundedEntryLength(entry, listSize - static_cast<size_t>(entry - list));
            onMatch(set, record, entry, length, context);
            matched = true;
        }
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    if (outcome != kPropertyFailed && !matched && onOther != nullptr) {
        onOther(set, record, context);
    }
    return outcome != kPropertyFailed;
}

}  // namespace

PropertyRead ReadNodeBytes(HDEVINFO set, SP_DEVINFO_DATA* record, NodeBytesCall call, DWORD what, const char* readName,
                           BYTE** buffer, DWORD* size)
{
    DWORD bufferSize = 0;
    DWORD required = 0;
    while (!call(set, record, what, *buffer, bufferSize, &required)) {
        const DWORD code = GetLastError();
        if (code == ERROR_INVALID_DATA) {
            return kPropertyMissing;
        }
        if (code != ERROR_INSUFFICIENT_BUFFER) {
            ReportFailure(readName);
            return kPropertyFailed;
        }
        if (required <= bufferSize) {
            // Asking again at a size the platform already refused would
            // never end. Nothing needed means nothing there.
            if (required == 0) {
                return kPropertyMissing;
            }
            ReportFailure(readName);
            return kPropertyFailed;
        }
        if (*buffer != nullptr) {
            LocalFree(*buffer);
        }
        *buffer = static_cast<BYTE*>(LocalAlloc(LPTR, required));
        if (*buffer == nullptr) {
            ReportFailure(kAllocName);
            return kPropertyFailed;
        }
        bufferSize = required;
    }
    // Never trust a reported length beyond the bytes we actually own.
    *size = required < bufferSize ? required : bufferSize;
    return kPropertyRead;
}

PropertyRead ReadDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* record, DWORD property, const char* readName,
                                BYTE** buffer, DWORD* size)
{
    return ReadNodeBytes(set, record, RegistryProperty, property, readName, buffer, size);
}

bool WalkMatchingDevices(const char* identifier, MatchHandler onMatch, void* context)
{
    return WalkAllDevices(identifier, onMatch, nullptr, context);
}

bool WalkAllDevices(const char* identifier, MatchHandler onMatch, OtherNodeHandler onOther, void* context)
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        ReportFailure(kOpenSetName);
        return false;
    }

    SP_DEVINFO_DATA record;
    memset(&record, 0, sizeof record);
    record.cbSize = sizeof record;
    DWORD index = 0;
    bool walkGoesOn = true;
    while (walkGoesOn && SetupDiEnumDeviceInfo(set, index, &record)) {
        walkGoesOn = ExamineDevice(set, &record, identifier, onMatch, onOther, context);
        ++index;
    }
    bool complete = walkGoesOn;
    if (walkGoesOn) {
        const DWORD code = GetLastError();
        if (code != ERROR_SUCCESS && code != ERROR_NO_MORE_ITEMS) {
            ReportFailure(kEnumName);
            complete = false;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return complete;
}
