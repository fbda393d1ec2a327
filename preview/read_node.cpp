// hwpurge-preview's reading: what it says of a listed node (instance ID,
// class, name, manufacturer, driver package, state) and the driver package
// of every other node, for the count of who uses each package.
#include <cstring>

#include "preview/preview_run.h"
#include "removal/hardware_id.h"
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
const char kDevNodeStatusName[] = "CM_Get_DevNode_Status";

// Room for an INF name on the stack: a driver-store name (oemNNN.inf) is
// far shorter, and a longer one is read into a block of its own.
const DWORD kInfNameRoom = 260;

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

// Reads a listed node's driver package and counts it.
DriverText ReadDriver(PreviewRun* run, HDEVINFO set, SP_DEVINFO_DATA* record, NodeBlocks* blocks)
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
        NoteDetail(run, ReadKeyValue(key, names[i], readNames[i], blocks->rooms[i], kValueRoom, &blocks->values[i],
                                     fields[i]));
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

// Only "no such device instance" means that the node is not in the device
// tree now; any other failure leaves its state unknown and the run
// incomplete.
NodeState ReadNodeState(PreviewRun* run, const SP_DEVINFO_DATA* record)
{
    ULONG status = 0;
    ULONG problem = 0;
    const CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, record->DevInst, 0);
    if (result == CR_SUCCESS) {
        return WaitsForRestart(status, problem) ? kNodeWaiting : kNodePresent;
    }
    if (result == CR_NO_SUCH_DEVINST) {
        return kNodeNotPresent;
    }
    ReportConfigManagerFailure(kDevNodeStatusName, result);
    run->detailsComplete = false;
    return kNodeUnknown;
}

}  // namespace

Text TextOf(const char* text)
{
    return {text, text != nullptr ? strlen(text) : 0};
}

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

void FreeBlocks(NodeBlocks* blocks)
{
    if (blocks->instanceId != nullptr) {
        LocalFree(blocks->instanceId);
    }
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

void ReadListedNode(PreviewRun* run, HDEVINFO set, SP_DEVINFO_DATA* record, NodeText* node, NodeBlocks* blocks)
{
    blocks->instanceId = ReadInstanceId(set, record);
    node->instanceId = TextOf(blocks->instanceId);
    node->className = ReadTextProperty(nullptr, set, record, SPDRP_CLASS, kClassName, &blocks->properties[0]);
    node->classGuid = ReadTextProperty(nullptr, set, record, SPDRP_CLASSGUID, kClassGuidName, &blocks->properties[1]);
    // Device Manager's name for it: the friendly name, else the description.
    // A friendly name that could not be read is not stood in for.
    PropertyRead friendly = kPropertyMissing;
    node->name =
        ReadTextProperty(run, set, record, SPDRP_FRIENDLYNAME, kFriendlyNameName, &blocks->properties[2], &friendly);
    if (friendly == kPropertyMissing) {
        node->name = ReadTextProperty(run, set, record, SPDRP_DEVICEDESC, kDescriptionName, &blocks->properties[3]);
    }
    node->manufacturer = ReadTextProperty(run, set, record, SPDRP_MFG, kManufacturerName, &blocks->properties[4]);
    node->driver = ReadDriver(run, set, record, blocks);
    node->state = ReadNodeState(run, record);
}
