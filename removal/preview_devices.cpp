#include "removal/preview_devices.h"

#include <cstdio>
#include <cstring>

#include "removal/device_walk.h"
#include "removal/hardware_id.h"
#include "removal/json_writer.h"
#include "removal/report_failure.h"

namespace {

const char kInstanceIdName[] = "GetDeviceInstanceId";
const char kClassName[] = "GetDeviceRegistryProperty(CLASS)";
const char kClassGuidName[] = "GetDeviceRegistryProperty(CLASSGUID)";

struct Failure {
    const char* operation;  // one of the fixed report names
    DWORD code;
    bool hasText;
    char text[512];  // the system's text, cut short if need be
};

// Fixed room is enough: the walk ends at its first failure, and each of a
// node's three reads (instance ID, class, class GUID) stops at its first.
const size_t kMaxWalkFailures = 1;
const size_t kMaxNodeFailures = 3;

struct FailureList {
    Failure* slots;
    size_t capacity;
    size_t count;
};

struct PreviewRun {
    PreviewFormat format;
    DWORD listed;
    FailureList* failures;  // where reports go now: the walk's or the node's
};

void KeepFailure(const char* operationName, DWORD code, const char* text, void* context)
{
    FailureList* list = static_cast<PreviewRun*>(context)->failures;
    if (list->count == list->capacity) {
        return;
    }
    Failure& failure = list->slots[list->count++];
    failure.operation = operationName;
    failure.code = code;
    failure.hasText = text != nullptr;
    failure.text[0] = '\0';
    if (text != nullptr) {
        snprintf(failure.text, sizeof failure.text, "%s", text);
    }
}

BOOL InstanceId(HDEVINFO set, SP_DEVINFO_DATA* record, DWORD, BYTE* buffer, DWORD bufferSize, DWORD* required)
{
    return SetupDiGetDeviceInstanceIdA(set, record, reinterpret_cast<PSTR>(buffer), bufferSize, required);
}

// A node's instance ID, read like a property; null when it cannot be had.
char* ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    BYTE* buffer = nullptr;
    DWORD size = 0;
    const PropertyRead read = ReadNodeBytes(set, record, InstanceId, 0, kInstanceIdName, &buffer, &size);
    // The ID must end within the bytes read.
    if (read == kPropertyRead && buffer != nullptr && memchr(buffer, '\0', size) != nullptr) {
        return reinterpret_cast<char*>(buffer);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return nullptr;
}

struct Text {
    const char* bytes;  // null: missing
    size_t length;
};

Text PropertyText(const BYTE* buffer, DWORD size, PropertyRead outcome)
{
    Text text = {nullptr, 0};
    if (outcome == kPropertyRead && buffer != nullptr) {
        text.bytes = reinterpret_cast<const char*>(buffer);
        text.length = BoundedEntryLength(text.bytes, size);
    }
    return text;
}

void WriteJsonText(const Text& text)
{
    if (text.bytes == nullptr) {
        fputs("null", stdout);
    } else {
        WriteJsonNarrowString(stdout, text.bytes, text.length);
    }
}

void WriteJsonFailures(const FailureList& list)
{
    fputc('[', stdout);
    for (size_t i = 0; i < list.count; ++i) {
        const Failure& failure = list.slots[i];
        fputs(i == 0 ? "{\"operation\":" : ",{\"operation\":", stdout);
        WriteJsonString(stdout, failure.operation, strlen(failure.operation));
        printf(",\"code\":%lu,\"text\":", static_cast<unsigned long>(failure.code));
        WriteJsonText({failure.hasText ? failure.text : nullptr, strlen(failure.text)});
        fputc('}', stdout);
    }
    fputc(']', stdout);
}

void WriteTextLine(const Text& entry, const Text& instanceId, const Text& className, const Text& classGuid,
                   bool present)
{
    printf("[%.*s] ", static_cast<int>(entry.length), entry.bytes);
    if (instanceId.bytes != nullptr) {
        printf("%.*s", static_cast<int>(instanceId.length), instanceId.bytes);
    } else {
        fputs("(instance ID unknown)", stdout);
    }
    if (className.bytes == nullptr && classGuid.bytes == nullptr) {
        fputs(" (no class", stdout);
    } else {
        fputs(" (class", stdout);
    }
    if (className.bytes != nullptr) {
        printf(" %.*s", static_cast<int>(className.length), className.bytes);
    }
    if (classGuid.bytes != nullptr) {
        printf(" %.*s", static_cast<int>(classGuid.length), classGuid.bytes);
    }
    fputs(present ? ", present)\n" : ", not present)\n", stdout);
}

void ListDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* entry, size_t length, void* context)
{
    auto* run = static_cast<PreviewRun*>(context);
    Failure slots[kMaxNodeFailures];
    FailureList nodeFailures = {slots, kMaxNodeFailures, 0};
    FailureList* walkFailures = run->failures;
    run->failures = &nodeFailures;

    char* instanceId = ReadInstanceId(set, record);
    BYTE* className = nullptr;
    DWORD classNameSize = 0;
    const PropertyRead classRead = ReadDeviceProperty(set, record, SPDRP_CLASS, kClassName, &className, &classNameSize);
    BYTE* classGuid = nullptr;
    DWORD classGuidSize = 0;
    const PropertyRead guidRead =
        ReadDeviceProperty(set, record, SPDRP_CLASSGUID, kClassGuidName, &classGuid, &classGuidSize);
    // A node that is not in the device tree now has no status to give.
    ULONG status = 0;
    ULONG problem = 0;
    const bool present = CM_Get_DevNode_Status(&status, &problem, record->DevInst, 0) == CR_SUCCESS;
    run->failures = walkFailures;

    const Text entryText = {entry, length};
    const Text idText = {instanceId, instanceId != nullptr ? strlen(instanceId) : 0};
    const Text classText = PropertyText(className, classNameSize, classRead);
    const Text guidText = PropertyText(classGuid, classGuidSize, guidRead);
    if (run->format == kPreviewText) {
        WriteTextLine(entryText, idText, classText, guidText, present);
    } else {
        fputs(run->listed == 0 ? "{\"hardwareId\":" : ",{\"hardwareId\":", stdout);
        WriteJsonText(entryText);
        fputs(",\"instanceId\":", stdout);
        WriteJsonText(idText);
        fputs(",\"class\":", stdout);
        WriteJsonText(classText);
        fputs(",\"classGuid\":", stdout);
        WriteJsonText(guidText);
        fputs(present ? ",\"present\":true" : ",\"present\":false", stdout);
        if (nodeFailures.count != 0) {
            fputs(",\"failures\":", stdout);
            WriteJsonFailures(nodeFailures);
        }
        fputc('}', stdout);
    }
    ++run->listed;

    if (instanceId != nullptr) {
        LocalFree(instanceId);
    }
    if (className != nullptr) {
        LocalFree(className);
    }
    if (classGuid != nullptr) {
        LocalFree(classGuid);
    }
}

struct Walk {
    const char* identifier;
    PreviewRun* run;
};

bool ListMatchingDevices(void* context)
{
    const Walk* walk = static_cast<const Walk*>(context);
    return WalkMatchingDevices(walk->identifier, ListDevice, walk->run);
}

void WriteClosingLine(DWORD listed, bool complete)
{
    const unsigned long count = listed;
    if (!complete) {
        if (listed == 0) {
            printf("the list is incomplete: no device node was listed\n");
        } else {
            printf("the list is incomplete: at least %lu device node%s would be removed\n", count,
                   listed == 1 ? "" : "s");
        }
    } else if (listed == 0) {
        printf("no device node would be removed\n");
    } else {
        printf("%lu device node%s would be removed\n", count, listed == 1 ? "" : "s");
    }
}

}  // namespace

bool PreviewDevicesByHardwareId(const char* identifier, PreviewFormat format, DWORD* listed)
{
    Failure slots[kMaxWalkFailures];
    FailureList walkFailures = {slots, kMaxWalkFailures, 0};
    PreviewRun run = {format, 0, &walkFailures};
    if (format == kPreviewJson) {
        fputs("{\"identifier\":", stdout);
        WriteJsonNarrowString(stdout, identifier, strlen(identifier));
        fputs(",\"devices\":[", stdout);
    }
    Walk walk = {identifier, &run};
    const bool complete = RunWithFailureSink(KeepFailure, &run, ListMatchingDevices, &walk);
    if (format == kPreviewJson) {
        fputs(complete ? "],\"complete\":true,\"failures\":" : "],\"complete\":false,\"failures\":", stdout);
        WriteJsonFailures(walkFailures);
        fputs("}\n", stdout);
    } else {
        WriteClosingLine(run.listed, complete);
    }
    *listed = run.listed;
    return complete;
}
