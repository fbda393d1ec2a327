#include "removal/preview_devices.h"

#include <cstdio>
#include <cstring>

#include "removal/device_walk.h"
#include "removal/driver_packages.h"
#include "removal/hardware_id.h"
#include "removal/json_writer.h"
#include "removal/report_failure.h"

namespace {

const char kInstanceIdName[] = "GetDeviceInstanceId";
const char kClassName[] = "GetDeviceRegistryProperty(CLASS)";
const char kClassGuidName[] = "GetDeviceRegistryProperty(CLASSGUID)";
const char kFriendlyNameName[] = "GetDeviceRegistryProperty(FRIENDLYNAME)";
const char kDescriptionName[] = "GetDeviceRegistryProperty(DEVICEDESC)";
const char kManufacturerName[] = "GetDeviceRegistryProperty(MFG)";
const char kDriverKeyName[] = "OpenDevRegKey(DRV)";
const char kInfPathName[] = "RegQueryValueEx(InfPath)";
const char kProviderName[] = "RegQueryValueEx(ProviderName)";
const char kVersionName[] = "RegQueryValueEx(DriverVersion)";
const char kDateName[] = "RegQueryValueEx(DriverDate)";
const char kAllocName[] = "LocalAlloc";

// Room for an INF name on the stack: a driver-store name (oemNNN.inf) is
// far shorter, and a longer one is read into a block of its own.
const DWORD kInfNameRoom = 260;

struct Failure {
    const char* operation;  // one of the fixed report names
    DWORD code;
    bool hasText;
    char text[512];  // the system's text, cut short if need be
};

// Fixed room is enough: the walk ends at its first failure, the other nodes'
// driver packages are no longer looked at after the first failure there, and
// each of a listed node's reads (instance ID, class, class GUID, friendly
// name, description, manufacturer, driver key and its four values) stops at
// its first.
const size_t kMaxWalkFailures = 2;
const size_t kMaxNodeFailures = 11;

struct FailureList {
    Failure* slots;
    size_t capacity;
    size_t count;
};

struct PreviewRun {
    PreviewFormat format;
    DWORD listed;
    DWORD waiting;         // listed nodes whose removal waits for a restart
    bool detailsComplete;  // every listed name, manufacturer and package read, and the others counted where needed
    bool othersCounted;    // every other node's driver package so far was counted
    PackageTally packages;
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

// A read whose failure leaves the run's details incomplete.
void NoteDetail(PreviewRun* run, PropertyRead read)
{
    if (read == kPropertyFailed) {
        run->detailsComplete = false;
    }
}

// A node's text property: its bytes in *buffer (freed by the caller), its
// text in the result, missing when the node has none or the read failed.
// `run` is null for the class reads, whose failure leaves the field out and
// the run complete, as it always has.
Text ReadTextProperty(PreviewRun* run, HDEVINFO set, SP_DEVINFO_DATA* record, DWORD property, const char* readName,
                      BYTE** buffer, PropertyRead* outcome = nullptr)
{
    DWORD size = 0;
    const PropertyRead read = ReadDeviceProperty(set, record, property, readName, buffer, &size);
    if (run != nullptr) {
        NoteDetail(run, read);
    }
    if (outcome != nullptr) {
        *outcome = read;
    }
    return PropertyText(*buffer, size, read);
}

// Reads value `name` of a driver key into `room` (`roomSize` bytes) or, when
// it does not fit, into a block from the local heap at *grown, freed by the
// caller. The registry answers with its result, not the last error: a
// failure is reported with that result as the code.
PropertyRead ReadKeyValue(HKEY key, const char* name, const char* readName, BYTE* room, DWORD roomSize, BYTE** grown,
                          Text* text)
{
    BYTE* target = room;
    DWORD offered = roomSize;
    for (;;) {
        DWORD size = offered;
        DWORD type = 0;
        const LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, target, &size);
        if (status == ERROR_SUCCESS) {
            // Only text is shown: a value of another type, or an empty one,
            // says nothing.
            const Text read = PropertyText(target, size < offered ? size : offered, kPropertyRead);
            if ((type != REG_SZ && type != REG_EXPAND_SZ) || read.length == 0) {
                return kPropertyMissing;
            }
            *text = read;
            return kPropertyRead;
        }
        if (status == ERROR_FILE_NOT_FOUND) {
            return kPropertyMissing;
        }
        // A size no larger than the one refused would be asked for forever.
        if (status != ERROR_MORE_DATA || size <= offered) {
            SetLastError(static_cast<DWORD>(status));
            ReportFailure(readName);
            return kPropertyFailed;
        }
        if (*grown != nullptr) {
            LocalFree(*grown);
        }
        *grown = static_cast<BYTE*>(LocalAlloc(LPTR, size));
        if (*grown == nullptr) {
            ReportFailure(kAllocName);
            return kPropertyFailed;
        }
        target = *grown;
        offered = size;
    }
}

// Opens a node's driver key to read; INVALID_HANDLE_VALUE when it has none
// (*read kPropertyMissing) or the opening failed (reported).
HKEY OpenDriverKey(HDEVINFO set, SP_DEVINFO_DATA* record, PropertyRead* read)
{
    HKEY key = SetupDiOpenDevRegKey(set, record, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    *read = kPropertyRead;
    if (key == INVALID_HANDLE_VALUE) {
        // A node that never had a driver installed has no driver key.
        if (GetLastError() == ERROR_KEY_DOES_NOT_EXIST) {
            *read = kPropertyMissing;
        } else {
            ReportFailure(kDriverKeyName);
            *read = kPropertyFailed;
        }
    }
    return key;
}

// A copy of `text` from the local heap, or null for a missing text or when
// memory runs out (reported).
char* CopyOf(const Text& text)
{
    if (text.bytes == nullptr) {
        return nullptr;
    }
    auto* copy = static_cast<char*>(LocalAlloc(LPTR, text.length + 1));
    if (copy == nullptr) {
        ReportFailure(kAllocName);
        return nullptr;
    }
    memcpy(copy, text.bytes, text.length);
    return copy;
}

// Another node's driver package, counted once: one look at its driver key's
// INF name. After the first failure here the count cannot be finished, and
// no further node is looked at.
void CountOtherNode(HDEVINFO set, SP_DEVINFO_DATA* record, void* context)
{
    auto* run = static_cast<PreviewRun*>(context);
    if (!run->othersCounted) {
        return;
    }
    PropertyRead read = kPropertyRead;
    HKEY key = OpenDriverKey(set, record, &read);
    if (key != INVALID_HANDLE_VALUE) {
        BYTE room[kInfNameRoom];
        BYTE* grown = nullptr;
        Text inf = {nullptr, 0};
        read = ReadKeyValue(key, "InfPath", kInfPathName, room, sizeof room, &grown, &inf);
        if (read == kPropertyRead && CountPackageUse(&run->packages, inf.bytes, inf.length, false) == nullptr) {
            read = kPropertyFailed;
        }
        if (grown != nullptr) {
            LocalFree(grown);
        }
        RegCloseKey(key);
    }
    // The count is unfinished from here; whether that leaves the run
    // incomplete depends on whether a listed node uses a package at all.
    if (read == kPropertyFailed) {
        run->othersCounted = false;
    }
}

// What a listed node's driver key says of its package.
struct DriverText {
    Text inf;  // missing: no package known
    Text provider;
    Text version;
    Text date;
};

// The blocks a listed node's reads hold until its line is written.
struct NodeBlocks {
    BYTE* values[4];  // a driver key value that did not fit its room
    BYTE* properties[5];
};

void FreeBlocks(NodeBlocks* blocks)
{
    for (BYTE* block : blocks->values) {
        if (block != nullptr) {
            LocalFree(block);
        }
    }
    for (BYTE* block : blocks->properties) {
        if (block != nullptr) {
            LocalFree(block);
        }
    }
}

const size_t kValueRoom = 128;

// Reads a listed node's driver package and counts it.
DriverText ReadDriver(PreviewRun* run, HDEVINFO set, SP_DEVINFO_DATA* record, BYTE (*rooms)[kValueRoom],
                      NodeBlocks* blocks)
{
    DriverText driver = {};
    PropertyRead read = kPropertyRead;
    HKEY key = OpenDriverKey(set, record, &read);
    NoteDetail(run, read);
    if (key == INVALID_HANDLE_VALUE) {
        return driver;
    }
    const char* names[4] = {"InfPath", "ProviderName", "DriverVersion", "DriverDate"};
    const char* readNames[4] = {kInfPathName, kProviderName, kVersionName, kDateName};
    Text* fields[4] = {&driver.inf, &driver.provider, &driver.version, &driver.date};
    for (size_t i = 0; i < 4; ++i) {
        NoteDetail(run, ReadKeyValue(key, names[i], readNames[i], rooms[i], kValueRoom, &blocks->values[i], fields[i]));
        // Without an INF name there is no package to name.
        if (i == 0 && driver.inf.bytes == nullptr) {
            break;
        }
    }
    RegCloseKey(key);
    if (driver.inf.bytes != nullptr) {
        DriverPackage* package = CountPackageUse(&run->packages, driver.inf.bytes, driver.inf.length, true);
        if (package == nullptr) {
            run->detailsComplete = false;
        } else if (package->listedNodes == 1) {
            package->provider = CopyOf(driver.provider);
            package->version = CopyOf(driver.version);
            package->date = CopyOf(driver.date);
            // A fact the package lost for want of memory leaves it incomplete.
            if ((driver.provider.bytes != nullptr && package->provider == nullptr) ||
                (driver.version.bytes != nullptr && package->version == nullptr) ||
                (driver.date.bytes != nullptr && package->date == nullptr)) {
                run->detailsComplete = false;
            }
        }
    }
    return driver;
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

// The package's provider, version and date, those it has, in parentheses.
void WritePackageFacts(const Text& provider, const Text& version, const Text& date)
{
    const Text* facts[3] = {&provider, &version, &date};
    const char* separator = " (";
    for (const Text* fact : facts) {
        if (fact->bytes != nullptr) {
            printf("%s%.*s", separator, static_cast<int>(fact->length), fact->bytes);
            separator = ", ";
        }
    }
    if (separator[0] == ',') {
        fputc(')', stdout);
    }
}

Text TextOf(const char* text)
{
    return {text, text != nullptr ? strlen(text) : 0};
}

struct NodeText {
    Text entry;
    Text instanceId;
    Text className;
    Text classGuid;
    bool present;
    bool waiting;
    Text name;
    Text manufacturer;
    DriverText driver;
};

void WriteTextLine(const NodeText& node)
{
    printf("[%.*s] ", static_cast<int>(node.entry.length), node.entry.bytes);
    if (node.instanceId.bytes != nullptr) {
        printf("%.*s", static_cast<int>(node.instanceId.length), node.instanceId.bytes);
    } else {
        fputs("(instance ID unknown)", stdout);
    }
    if (node.className.bytes == nullptr && node.classGuid.bytes == nullptr) {
        fputs(" (no class", stdout);
    } else {
        fputs(" (class", stdout);
    }
    if (node.className.bytes != nullptr) {
        printf(" %.*s", static_cast<int>(node.className.length), node.className.bytes);
    }
    if (node.classGuid.bytes != nullptr) {
        printf(" %.*s", static_cast<int>(node.classGuid.length), node.classGuid.bytes);
    }
    fputs(node.waiting ? ", waiting for a restart)" : node.present ? ", present)" : ", not present)", stdout);
    if (node.name.bytes != nullptr) {
        printf(" \"%.*s\"", static_cast<int>(node.name.length), node.name.bytes);
    } else {
        fputs(" no name", stdout);
    }
    if (node.manufacturer.bytes != nullptr) {
        printf(" by %.*s", static_cast<int>(node.manufacturer.length), node.manufacturer.bytes);
    }
    if (node.driver.inf.bytes != nullptr) {
        printf(", driver package %.*s", static_cast<int>(node.driver.inf.length), node.driver.inf.bytes);
        WritePackageFacts(node.driver.provider, node.driver.version, node.driver.date);
        fputc('\n', stdout);
    } else {
        fputs(", no driver package\n", stdout);
    }
}

void WriteJsonLine(const NodeText& node, bool first, const FailureList& failures)
{
    fputs(first ? "{\"hardwareId\":" : ",{\"hardwareId\":", stdout);
    WriteJsonText(node.entry);
    fputs(",\"instanceId\":", stdout);
    WriteJsonText(node.instanceId);
    fputs(",\"class\":", stdout);
    WriteJsonText(node.className);
    fputs(",\"classGuid\":", stdout);
    WriteJsonText(node.classGuid);
    fputs(node.present ? ",\"present\":true" : ",\"present\":false", stdout);
    fputs(node.waiting ? ",\"waitingForRestart\":true,\"name\":" : ",\"waitingForRestart\":false,\"name\":", stdout);
    WriteJsonText(node.name);
    fputs(",\"manufacturer\":", stdout);
    WriteJsonText(node.manufacturer);
    fputs(",\"driver\":", stdout);
    if (node.driver.inf.bytes == nullptr) {
        fputs("null", stdout);
    } else {
        fputs("{\"inf\":", stdout);
        WriteJsonText(node.driver.inf);
        fputs(",\"provider\":", stdout);
        WriteJsonText(node.driver.provider);
        fputs(",\"version\":", stdout);
        WriteJsonText(node.driver.version);
        fputs(",\"date\":", stdout);
        WriteJsonText(node.driver.date);
        fputc('}', stdout);
    }
    if (failures.count != 0) {
        fputs(",\"failures\":", stdout);
        WriteJsonFailures(failures);
    }
    fputc('}', stdout);
}

// Whether the configuration manager says the node's removal waits for a
// restart: it will be removed, or it has the problem that says so. (A
// device that needs a restart after a driver update is not being removed.)
bool WaitsForRestart(ULONG status, ULONG problem)
{
    if ((status & DN_WILL_BE_REMOVED) != 0) {
        return true;
    }
    return (status & DN_HAS_PROBLEM) != 0 && problem == CM_PROB_WILL_BE_REMOVED;
}

void ListDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* entry, size_t length, void* context)
{
    auto* run = static_cast<PreviewRun*>(context);
    Failure slots[kMaxNodeFailures];
    FailureList nodeFailures = {slots, kMaxNodeFailures, 0};
    FailureList* walkFailures = run->failures;
    run->failures = &nodeFailures;

    NodeBlocks blocks = {};
    BYTE rooms[4][kValueRoom];
    char* instanceId = ReadInstanceId(set, record);
    NodeText node = {};
    node.entry = {entry, length};
    node.instanceId = TextOf(instanceId);
    node.className = ReadTextProperty(nullptr, set, record, SPDRP_CLASS, kClassName, &blocks.properties[0]);
    node.classGuid = ReadTextProperty(nullptr, set, record, SPDRP_CLASSGUID, kClassGuidName, &blocks.properties[1]);
    // Device Manager's name for it: the friendly name, else the description.
    // A friendly name that could not be read is not stood in for.
    PropertyRead friendly = kPropertyMissing;
    node.name =
        ReadTextProperty(run, set, record, SPDRP_FRIENDLYNAME, kFriendlyNameName, &blocks.properties[2], &friendly);
    if (friendly == kPropertyMissing) {
        node.name = ReadTextProperty(run, set, record, SPDRP_DEVICEDESC, kDescriptionName, &blocks.properties[3]);
    }
    node.manufacturer = ReadTextProperty(run, set, record, SPDRP_MFG, kManufacturerName, &blocks.properties[4]);
    node.driver = ReadDriver(run, set, record, rooms, &blocks);
    // A node that is not in the device tree now has no status to give.
    ULONG status = 0;
    ULONG problem = 0;
    node.present = CM_Get_DevNode_Status(&status, &problem, record->DevInst, 0) == CR_SUCCESS;
    node.waiting = node.present && WaitsForRestart(status, problem);
    run->failures = walkFailures;

    if (run->format == kPreviewText) {
        WriteTextLine(node);
    } else {
        WriteJsonLine(node, run->listed == 0, nodeFailures);
    }
    ++run->listed;
    if (node.waiting) {
        ++run->waiting;
    }

    if (instanceId != nullptr) {
        LocalFree(instanceId);
    }
    FreeBlocks(&blocks);
}

struct Walk {
    const char* identifier;
    PreviewRun* run;
};

bool ListMatchingDevices(void* context)
{
    const Walk* walk = static_cast<const Walk*>(context);
    return WalkAllDevices(walk->identifier, ListDevice, CountOtherNode, walk->run);
}

void WritePackageLines(const PreviewRun& run)
{
    for (const DriverPackage* package = run.packages.firstListed; package != nullptr; package = package->nextListed) {
        printf("driver package %s", package->inf);
        WritePackageFacts(TextOf(package->provider), TextOf(package->version), TextOf(package->date));
        printf(": used by %lu listed node%s and ", static_cast<unsigned long>(package->listedNodes),
               package->listedNodes == 1 ? "" : "s");
        if (!run.othersCounted) {
            printf("an unknown number of other nodes\n");
        } else if (package->otherNodes == 0) {
            printf("no other node\n");
        } else {
            printf("%lu other node%s\n", static_cast<unsigned long>(package->otherNodes),
                   package->otherNodes == 1 ? "" : "s");
        }
    }
}

void WriteJsonPackages(const PreviewRun& run)
{
    fputs(",\"driverPackages\":[", stdout);
    for (const DriverPackage* package = run.packages.firstListed; package != nullptr; package = package->nextListed) {
        fputs(package == run.packages.firstListed ? "{\"inf\":" : ",{\"inf\":", stdout);
        WriteJsonText(TextOf(package->inf));
        fputs(",\"provider\":", stdout);
        WriteJsonText(TextOf(package->provider));
        fputs(",\"version\":", stdout);
        WriteJsonText(TextOf(package->version));
        fputs(",\"date\":", stdout);
        WriteJsonText(TextOf(package->date));
        printf(",\"listedNodes\":%lu,\"otherNodes\":", static_cast<unsigned long>(package->listedNodes));
        if (run.othersCounted) {
            printf("%lu}", static_cast<unsigned long>(package->otherNodes));
        } else {
            fputs("null}", stdout);
        }
    }
    fputc(']', stdout);
}

void WriteClosingLine(const PreviewRun& run, bool complete)
{
    const unsigned long count = run.listed;
    const char* plural = run.listed == 1 ? "" : "s";
    if (!complete) {
        if (run.listed == 0) {
            printf("the list is incomplete: no device node was listed");
        } else {
            printf("the list is incomplete: at least %lu device node%s would be removed", count, plural);
        }
    } else if (run.listed == 0) {
        printf("no device node would be removed");
    } else {
        printf("%lu device node%s would be removed", count, plural);
    }
    if (run.waiting == run.listed && run.listed != 0) {
        printf(run.listed == 1 ? "; it waits for a restart" : "; all of them wait for a restart");
    } else if (run.waiting != 0) {
        printf("; %lu of them wait%s for a restart", static_cast<unsigned long>(run.waiting),
               run.waiting == 1 ? "s" : "");
    }
    if (complete && !run.detailsComplete) {
        printf("; some details could not be read");
    }
    fputc('\n', stdout);
}

}  // namespace

void PreviewDevicesByHardwareId(const char* identifier, PreviewFormat format, PreviewResult* result)
{
    Failure slots[kMaxWalkFailures];
    FailureList walkFailures = {slots, kMaxWalkFailures, 0};
    PreviewRun run = {};
    run.format = format;
    run.detailsComplete = true;
    run.othersCounted = true;
    run.failures = &walkFailures;
    if (format == kPreviewJson) {
        fputs("{\"identifier\":", stdout);
        WriteJsonNarrowString(stdout, identifier, strlen(identifier));
        fputs(",\"devices\":[", stdout);
    }
    Walk walk = {identifier, &run};
    const bool complete = RunWithFailureSink(KeepFailure, &run, ListMatchingDevices, &walk);
    // A walk that stopped early never saw the rest of the machine: no
    // package's other users are known then, and saying "no other node"
    // could have one deleted that a device still uses.
    if (!complete) {
        run.othersCounted = false;
    }
    if (!run.othersCounted && run.packages.firstListed != nullptr) {
        run.detailsComplete = false;
    }
    if (format == kPreviewJson) {
        fputc(']', stdout);
        WriteJsonPackages(run);
        fputs(complete ? ",\"complete\":true" : ",\"complete\":false", stdout);
        fputs(run.detailsComplete ? ",\"detailsComplete\":true,\"failures\":"
                                  : ",\"detailsComplete\":false,\"failures\":",
              stdout);
        WriteJsonFailures(walkFailures);
        fputs("}\n", stdout);
    } else {
        WritePackageLines(run);
        WriteClosingLine(run, complete);
    }
    FreePackages(&run.packages);
    result->listed = run.listed;
    result->waiting = run.waiting;
    result->complete = complete;
    result->detailsComplete = run.detailsComplete;
}
