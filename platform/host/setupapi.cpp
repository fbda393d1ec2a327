// The simulated SetupAPI: the one kind of device information set hwpurge
// opens (every node of every class, present or not), its enumeration, the
// hardware-ID, class, name, manufacturer and driver properties, a node's
// instance ID, its driver key, the class installer's removal, and closing the
// set. A removed node keeps its place in the sets that hold it, but every
// call about it answers that it is gone.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/host/machine.h"
#include "platform/host/machine_database.h"

namespace hwsim {
namespace {

DeviceSet* FindSet(HDEVINFO handle)
{
    auto* set = static_cast<DeviceSet*>(handle);
    return Machine().sets.count(set) != 0 ? set : nullptr;
}

// The member index a record names, or -1 when it names none of the set.
long MemberOf(const DeviceSet* set, const SP_DEVINFO_DATA* record)
{
    if (record == nullptr || record->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return -1;
    }
    const long index = static_cast<long>(record->Reserved) - 1;
    return index >= 0 && static_cast<size_t>(index) < set->members.size() ? index : -1;
}

// The node a valid member index (from MemberOf) stands for.
Node& MemberNode(const DeviceSet* set, long index)
{
    return Machine().database[set->members[static_cast<size_t>(index)]];
}

GUID ParseGuid(const std::string& text)
{
    GUID guid = {};
    unsigned parts[11] = {};
    // All eleven fields must convert; a text that is not a GUID gives zero.
    const char* format = "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}";
    const int converted =
        sscanf(text.c_str(), format, &parts[0], &parts[1], &parts[2],  // NOLINT(cert-err34-c)
               &parts[3], &parts[4], &parts[5], &parts[6], &parts[7], &parts[8], &parts[9], &parts[10]);
    if (converted == 11) {
        guid.Data1 = parts[0];
        guid.Data2 = static_cast<uint16_t>(parts[1]);
        guid.Data3 = static_cast<uint16_t>(parts[2]);
        for (int i = 0; i < 8; ++i) {
            guid.Data4[i] = static_cast<uint8_t>(parts[3 + i]);
        }
    }
    return guid;
}

// A node's text property, or nullptr for one the simulation does not hold.
const std::string* TextProperty(const Node& node, DWORD property)
{
    switch (property) {
        case SPDRP_CLASS:
            return &node.className;
        case SPDRP_CLASSGUID:
            return &node.classGuid;
        case SPDRP_DEVICEDESC:
            return &node.deviceDesc;
        case SPDRP_FRIENDLYNAME:
            return &node.friendlyName;
        case SPDRP_MFG:
            return &node.manufacturer;
        case SPDRP_DRIVER:
            return &node.driver;
        default:
            return nullptr;
    }
}

// A text property, REG_SZ as Windows keeps it; an empty one is a property
// the node does not have.
BOOL ReadTextProperty(const std::string& text, PDWORD type, PBYTE buffer, DWORD bufferSize, PDWORD requiredSize)
{
    if (text.empty()) {
        return Fail(ERROR_INVALID_DATA);
    }
    const auto size = static_cast<DWORD>(text.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = size;
    }
    if (type != nullptr) {
        *type = REG_SZ;
    }
    if (bufferSize < size || buffer == nullptr) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, text.c_str(), size);
    LastError() = ERROR_SUCCESS;
    return TRUE;
}

}  // namespace
}  // namespace hwsim

using hwsim::Op;

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    // Only the one kind of set hwpurge asks for is simulated.
    if (ClassGuid != nullptr || Enumerator != nullptr || hwndParent != nullptr || Flags != DIGCF_ALLCLASSES) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    if (state.startError != ERROR_SUCCESS) {
        fprintf(stderr, "%s\n", state.startMessage.c_str());
        hwsim::Fail(state.startError);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    if (state.faults.openError != 0) {
        hwsim::Fail(state.faults.openError);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new hwsim::DeviceSet;
    for (size_t i = 0; i < state.database.size(); ++i) {
        if (!state.database[i].removed) {
            set->members.push_back(i);
        }
    }
    set->installFlags.assign(set->members.size(), 0);
    state.sets.insert(set);
    hwsim::LastError() = ERROR_SUCCESS;
    hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, true, set);
    return set;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    const long index = static_cast<long>(MemberIndex);
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    BOOL ok = FALSE;
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
    } else if (DeviceInfoData == nullptr) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
    } else if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        hwsim::Fail(ERROR_INVALID_USER_BUFFER);
    } else if (state.faults.enumStopAt != hwsim::kNever && index >= state.faults.enumStopAt) {
        hwsim::Fail(state.faults.enumStopError);
    } else if (MemberIndex >= set->members.size()) {
        hwsim::Fail(ERROR_NO_MORE_ITEMS);
    } else {
        const hwsim::Node& node = state.database[set->members[MemberIndex]];
        DeviceInfoData->ClassGuid = hwsim::ParseGuid(node.classGuid);
        DeviceInfoData->DevInst = hwsim::DevInstOf(set->members[MemberIndex]);
        DeviceInfoData->Reserved = static_cast<ULONG_PTR>(MemberIndex) + 1;
        hwsim::LastError() = ERROR_SUCCESS;
        ok = TRUE;
    }
    hwsim::Record(Op::EnumDeviceInfo, index, 0, ok != FALSE);
    return ok;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    const long index = set != nullptr ? hwsim::MemberOf(set, DeviceInfoData) : hwsim::kNever;
    auto answer = [&](BOOL ok) {
        hwsim::Record(Op::GetDeviceRegistryProperty, index, PropertyBufferSize, ok != FALSE, PropertyBuffer,
                      RequiredSize != nullptr ? *RequiredSize : 0);
        return ok;
    };
    if (set == nullptr) {
        return answer(hwsim::Fail(ERROR_INVALID_HANDLE));
    }
    if (index < 0) {
        return answer(hwsim::Fail(ERROR_INVALID_PARAMETER));
    }
    hwsim::Node& node = hwsim::MemberNode(set, index);
    if (node.removed) {
        return answer(hwsim::Fail(ERROR_NO_SUCH_DEVINST));
    }
    // No property has a number from SPDRP_MAXIMUM_PROPERTY on.
    if (Property >= SPDRP_MAXIMUM_PROPERTY) {
        return answer(hwsim::Fail(ERROR_INVALID_REG_PROPERTY));
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return answer(hwsim::Fail(ERROR_INVALID_PARAMETER));
    }
    if (state.faults.readFailAt == index) {
        return answer(hwsim::Fail(state.faults.readError));
    }
    if (state.faults.detailsFailAt == index && Property != SPDRP_HARDWAREID) {
        return answer(hwsim::Fail(state.faults.detailsError));
    }
    if (const std::string* text = hwsim::TextProperty(node, Property)) {
        return answer(
            hwsim::ReadTextProperty(*text, PropertyRegDataType, PropertyBuffer, PropertyBufferSize, RequiredSize));
    }
    if (Property != SPDRP_HARDWAREID || !node.hasHardwareId) {
        return answer(hwsim::Fail(ERROR_INVALID_DATA));
    }
    if (state.faults.stuckAt == index) {
        if (RequiredSize != nullptr) {
            *RequiredSize = state.faults.stuckSize;
        }
        return answer(hwsim::Fail(ERROR_INSUFFICIENT_BUFFER));
    }
    if (node.hardwareId.empty() && state.faults.zeroByteAnswersInsufficient) {
        if (RequiredSize != nullptr) {
            *RequiredSize = 0;
        }
        return answer(hwsim::Fail(ERROR_INSUFFICIENT_BUFFER));
    }
    const DWORD size = static_cast<DWORD>(node.hardwareId.size());
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = REG_MULTI_SZ;
    }
    if (PropertyBufferSize < size) {
        BOOL ok = hwsim::Fail(ERROR_INSUFFICIENT_BUFFER);
        answer(ok);
        // Another program adds an entry between this answer and the next read.
        int& grown = state.grown[index];
        if (state.faults.growAt == index && grown < state.faults.growTimes) {
            ++grown;
            node.hardwareId.insert(node.hardwareId.size() - 1, std::string("GROWN\\") + std::to_string(grown) + '\0');
        }
        return ok;
    }
    if (size != 0) {
        // The property's own bytes, malformed or not: no terminator is added.
        memcpy(PropertyBuffer, node.hardwareId.data(), size);  // NOLINT(bugprone-not-null-terminated-result)
    }
    if (state.faults.overstateAt == index && RequiredSize != nullptr) {
        *RequiredSize = size + state.faults.overstateBy;
    }
    hwsim::LastError() = ERROR_SUCCESS;
    return answer(TRUE);
}

BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PSTR DeviceInstanceId,
                                 DWORD DeviceInstanceIdSize, PDWORD RequiredSize)
{
    const hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    const hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    if (set == nullptr) {
        return hwsim::Fail(ERROR_INVALID_HANDLE);
    }
    const long index = hwsim::MemberOf(set, DeviceInfoData);
    if (index < 0) {
        return hwsim::Fail(ERROR_INVALID_PARAMETER);
    }
    const hwsim::Node& node = hwsim::MemberNode(set, index);
    if (node.removed) {
        return hwsim::Fail(ERROR_NO_SUCH_DEVINST);
    }
    if (DeviceInstanceId == nullptr && DeviceInstanceIdSize != 0) {
        return hwsim::Fail(ERROR_INVALID_PARAMETER);
    }
    if (state.faults.detailsFailAt == index) {
        return hwsim::Fail(state.faults.detailsError);
    }
    const auto size = static_cast<DWORD>(node.instanceId.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (DeviceInstanceIdSize < size || DeviceInstanceId == nullptr) {
        return hwsim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(DeviceInstanceId, node.instanceId.c_str(), size);
    hwsim::LastError() = ERROR_SUCCESS;
    return TRUE;
}

HKEY SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD HwProfile,
                          DWORD KeyType, REGSAM samDesired)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    const long index = set != nullptr ? hwsim::MemberOf(set, DeviceInfoData) : hwsim::kNever;
    auto fail = [&](DWORD code) {
        hwsim::Fail(code);
        hwsim::Record(Op::OpenDevRegKey, index, KeyType, false);
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    };
    if (set == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (index < 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (Scope != DICS_FLAG_GLOBAL || (KeyType != DIREG_DRV && KeyType != DIREG_DEV)) {
        return fail(ERROR_INVALID_FLAGS);
    }
    // Only a driver key, opened to read, is simulated.
    if (KeyType != DIREG_DRV || HwProfile != 0 || (samDesired & KEY_QUERY_VALUE) == 0 ||
        (samDesired & ~static_cast<REGSAM>(KEY_READ)) != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const hwsim::Node& node = hwsim::MemberNode(set, index);
    if (node.removed) {
        return fail(ERROR_NO_SUCH_DEVINST);
    }
    if (state.faults.driverKeyFailAt == index) {
        return fail(state.faults.driverKeyError);
    }
    const auto found =
        node.driver.empty() ? state.driverKeys.end() : state.driverKeys.find(hwsim::FoldedName(node.driver));
    if (found == state.driverKeys.end()) {
        return fail(ERROR_KEY_DOES_NOT_EXIST);
    }
    auto* key = new hwsim::OpenKey{&found->second, index};
    state.keys.insert(key);
    hwsim::LastError() = ERROR_SUCCESS;
    hwsim::Record(Op::OpenDevRegKey, index, KeyType, true, key);
    return key;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    const long index = set != nullptr ? hwsim::MemberOf(set, DeviceInfoData) : hwsim::kNever;
    BOOL ok = FALSE;
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
    } else if (index < 0) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
    } else if (hwsim::MemberNode(set, index).removed) {
        hwsim::Fail(ERROR_NO_SUCH_DEVINST);
    } else if (InstallFunction != DIF_REMOVE) {
        // What Windows answers when no class installer handles the function.
        hwsim::Fail(ERROR_DI_DO_DEFAULT);
    } else if (state.faults.removeFailsAll || state.faults.removeFailAt == index) {
        hwsim::Fail(state.faults.removeError);
    } else {
        // "SetupDiRemoveDevice function": the device's hardware and software
        // keys are deleted, and a device whose devnode is active is stopped;
        // one that cannot be stopped (in use) stays in the device tree until
        // the next restart, which DI_NEEDREBOOT in its install parameters
        // asks for. A device that is not present has nothing to stop.
        hwsim::Node& node = hwsim::MemberNode(set, index);
        if ((state.faults.restartAll || state.faults.restartAt == index) && node.present) {
            set->installFlags[static_cast<size_t>(index)] |= state.faults.restartFlags;
            set->setFlags |= state.faults.restartFlags;
        }
        node.removed = true;
        state.file.unsaved = true;
        hwsim::LastError() = ERROR_SUCCESS;
        ok = TRUE;
    }
    hwsim::Record(Op::CallClassInstaller, index, InstallFunction, ok != FALSE);
    return ok;
}

BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    const bool whole = DeviceInfoData == nullptr;
    const long index = set != nullptr && !whole ? hwsim::MemberOf(set, DeviceInfoData) : hwsim::kNever;
    auto answer = [&](BOOL ok) {
        hwsim::Record(Op::GetDeviceInstallParams, index, 0, ok != FALSE, DeviceInstallParams);
        return ok;
    };
    if (set == nullptr) {
        return answer(hwsim::Fail(ERROR_INVALID_HANDLE));
    }
    if ((!whole && index < 0) || DeviceInstallParams == nullptr) {
        return answer(hwsim::Fail(ERROR_INVALID_PARAMETER));
    }
    // Wine's test_device_install_params: one byte more or less than the
    // structure is refused with ERROR_INVALID_USER_BUFFER.
    if (DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        return answer(hwsim::Fail(ERROR_INVALID_USER_BUFFER));
    }
    const bool memberFails = state.faults.installParamsFailsAll || state.faults.installParamsFailAt == index;
    if (whole ? state.faults.setInstallParamsError != 0 : memberFails) {
        return answer(hwsim::Fail(whole ? state.faults.setInstallParamsError : state.faults.installParamsError));
    }
    // "SetupDiGetDeviceInstallParamsA function": without a record, the set's
    // own parameters. A removed member still answers (assumed: "SetupDiCall-
    // ClassInstaller function" has the caller read them once DIF_REMOVE
    // returned TRUE; Wine answers ERROR_NO_SUCH_DEVINST, the installparams
    // fault). Untouched, every field is 0 (Wine's test_device_install_params,
    // for a member it created).
    memset(DeviceInstallParams, 0, sizeof *DeviceInstallParams);
    DeviceInstallParams->cbSize = sizeof *DeviceInstallParams;
    DeviceInstallParams->Flags = whole ? set->setFlags : set->installFlags[static_cast<size_t>(index)];
    hwsim::LastError() = ERROR_SUCCESS;
    return answer(TRUE);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
        hwsim::Record(Op::DestroyDeviceInfoList, hwsim::kNever, 0, false, DeviceInfoSet);
        return FALSE;
    }
    // The set is freed last: the call log keeps its handle, and a handle is
    // only ever recorded while the set it names is alive.
    std::unique_ptr<hwsim::DeviceSet> released(set);
    state.sets.erase(set);
    ++state.destroyedSets;
    // Like the registry, the file keeps what was removed only once the set
    // is closed; a run that removed nothing leaves it untouched.
    hwsim::SaveRemovals();
    hwsim::LastError() = ERROR_SUCCESS;
    hwsim::Record(Op::DestroyDeviceInfoList, hwsim::kNever, 0, true, DeviceInfoSet);
    return TRUE;
}
