#include "removal/remove_devices.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "removal/hardware_id.h"

namespace {

const char* const kBanner[] = {
    "**************************************************\n", "*                                                *\n",
    "*  KIVO 4100, KIVO 720 Driver UnInstall Program. *\n", "*                                                *\n",
    "*           Please Wait For Completion.          *\n", "*                                                *\n",
    "**************************************************\n",
};

const char kOpenSetName[] = "GetClassDevs(All Present / not Present Devices)";
const char kEnumName[] = "EnumDeviceInfo";
const char kReadName[] = "GetDeviceRegistryProperty";
const char kRemoveName[] = "CallClassInstaller(REMOVE)";
const char kAllocName[] = "LocalAlloc";

enum ReadOutcome {
    kListRead,  // the buffer holds the list (or is absent for an empty one)
    kNoList,    // the node has no hardware IDs: pass it over
    kPassEnds,  // an unexpected failure, already reported
};

// Reads a node's hardware-ID list into a buffer of exactly the size the
// platform asks for. On kListRead, *buffer (possibly null) and *listSize
// describe the list; the caller frees *buffer in every outcome.
ReadOutcome ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* record, BYTE** buffer, DWORD* listSize)
{
    DWORD bufferSize = 0;
    DWORD required = 0;
    DWORD dataType = 0;
    while (
        !SetupDiGetDeviceRegistryPropertyA(set, record, SPDRP_HARDWAREID, &dataType, *buffer, bufferSize, &required)) {
        const DWORD code = GetLastError();
        if (code == ERROR_INVALID_DATA) {
            return kNoList;
        }
        if (code != ERROR_INSUFFICIENT_BUFFER) {
            ReportFailure(kReadName);
            return kPassEnds;
        }
        if (required <= bufferSize) {
            // Asking again at a size the platform already refused would
            // never end. Nothing needed means nothing there.
            if (required == 0) {
                return kNoList;
            }
            ReportFailure(kReadName);
            return kPassEnds;
        }
        if (*buffer != nullptr) {
            LocalFree(*buffer);
        }
        *buffer = static_cast<BYTE*>(LocalAlloc(LPTR, required));
        if (*buffer == nullptr) {
            ReportFailure(kAllocName);
            return kPassEnds;
        }
        bufferSize = required;
    }
    // Never trust a reported length beyond the bytes we actually own.
    *listSize = required < bufferSize ? required : bufferSize;
    return kListRead;
}

// Examines one node; returns false when the pass must end.
bool ExamineDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* identifier)
{
    BYTE* buffer = nullptr;
    DWORD listSize = 0;
    const ReadOutcome outcome = ReadHardwareIds(set, record, &buffer, &listSize);
    if (outcome == kListRead && buffer != nullptr) {
        const char* list = reinterpret_cast<const char*>(buffer);
        const char* entry = FindMatchingHardwareId(list, listSize, identifier);
        if (entry != nullptr) {
            const size_t length = BoundedEntryLength(entry, listSize - static_cast<size_t>(entry - list));
            printf(" Removed: KIVO Device with ID [%.*s] \n", static_cast<int>(length), entry);
            if (!SetupDiCallClassInstaller(DIF_REMOVE, set, record)) {
                ReportFailure(kRemoveName);
            }
        }
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return outcome != kPassEnds;
}

// Strips the line break and spaces the system ends its message texts with,
// and joins a text of several lines into one, so that a report stays one line.
void TrimMessage(char* text)
{
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i) {
        const bool lineBreak = text[i] == '\r' || text[i] == '\n';
        if (!lineBreak) {
            text[kept++] = text[i];
        } else if (kept > 0 && text[kept - 1] != ' ') {
            text[kept++] = ' ';
        }
    }
    text[kept] = '\0';
}

}  // namespace

bool ReportFailure(const char* operationName)
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    // Inserts are left as they stand: there are no arguments to put in them.
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length != 0 && text != nullptr) {
        TrimMessage(text);
        fprintf(stderr, "hwpurge: %s failed with error %lu: %s\n", operationName, static_cast<unsigned long>(code),
                text);
    } else {
        fprintf(stderr, "hwpurge: %s failed with error %lu\n", operationName, static_cast<unsigned long>(code));
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    SetLastError(code);
    return false;
}

void RemoveDevicesByHardwareId(const char* identifier)
{
    for (const char* line : kBanner) {
        printf("%s", line);
    }

    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        ReportFailure(kOpenSetName);
        return;
    }

    SP_DEVINFO_DATA record;
    memset(&record, 0, sizeof record);
    record.cbSize = sizeof record;
    DWORD index = 0;
    bool passGoesOn = true;
    while (passGoesOn && SetupDiEnumDeviceInfo(set, index, &record)) {
        passGoesOn = ExamineDevice(set, &record, identifier);
        ++index;
    }
    if (passGoesOn) {
        const DWORD code = GetLastError();
        if (code != ERROR_SUCCESS && code != ERROR_NO_MORE_ITEMS) {
            ReportFailure(kEnumName);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}
