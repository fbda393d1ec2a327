// The simulated SetupAPI: the one kind of device information set hwpurge
// opens (every node of every class, present or not), its enumeration, the
// hardware-ID, class, name, manufacturer and driver properties, a node's
// instance ID, its driver key, the class installer's removal, and closing the
// set. A removed node keeps its place in the sets that hold it, but every
// call about it answers that it is gone, its install parameters excepted.
// Each answer cites where it comes from: a Microsoft Learn page ("Learn:"),
// a Wine conformance check that is not todo_wine ("Wine:", the test
// function), or "Assumption:" when there is neither. "Scripted" answers come
// from the fault script and claim nothing about Windows. Assumption, for
// every call: one that succeeds sets the last error to 0, as
// SetupDiDestroyDeviceInfoList does (Wine: test_call_class_installer).
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

// A text property, REG_SZ as Windows keeps it (Learn:
// SetupDiGetDeviceRegistryPropertyA function; Wine: test_registry_property_a;
// an assumption for SPDRP_DRIVER, which Learn only calls a string); an empty
// one is a property the node does not have.
BOOL ReadTextProperty(const std::string& text, PDWORD type, PBYTE buffer, DWORD bufferSize, PDWORD requiredSize)
{
    // Learn: SetupDiGetDeviceRegistryPropertyA function (a property that does
    // not exist); Wine: test_registry_property_a, test_device_key.
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
    // Wine: test_registry_property_a (no buffer: the size with its NUL).
    // Assumption: a buffer short of it but not empty is answered alike.
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
    // Only the one kind of set hwpurge asks for is simulated; the rest is
    // refused (simulated_windows.h). Windows refuses (NULL, NULL, NULL, 0)
    // alike (Wine: test_get_class_devs).
    if (ClassGuid != nullptr || Enumerator != nullptr || hwndParent != nullptr || Flags != DIGCF_ALLCLASSES) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    // Scripted: the export or the fault script could not be read.
    if (state.startError != ERROR_SUCCESS) {
        fprintf(stderr, "%s\n", state.startMessage.c_str());
        hwsim::Fail(state.startError);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    // Scripted: open=.
    if (state.faults.openError != 0) {
        hwsim::Fail(state.faults.openError);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    // Every node, present or not (Wine: test_get_class_devs); a removed one is
    // in no set opened after it (Wine: test_register_device_info).
    auto* set = new hwsim::DeviceSet;
    for (size_t i = 0; i < state.database.size(); ++i) {
        if (!state.database[i].removed) {
            set->members.push_back(i);
        }
    }
    // Assumption: a fresh member's install flags are clear, as Wine's
    // test_device_install_params shows for a member it created; the set's
    // own start clear too.
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
    // Assumption: the bad handle and the record of the wrong size answer as
    // Wine checks them for other SetupDi calls (test_get_device_instance_id,
    // test_device_info); a null record is a refused form.
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
    } else if (DeviceInfoData == nullptr) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
    } else if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        hwsim::Fail(ERROR_INVALID_USER_BUFFER);
    } else if (state.faults.enumStopAt != hwsim::kNever && index >= state.faults.enumStopAt) {
        // Scripted: enum@K.
        hwsim::Fail(state.faults.enumStopError);
    } else if (MemberIndex >= set->members.size()) {
        // Learn: SetupDiEnumDeviceInfo function; Wine: test_device_info.
        hwsim::Fail(ERROR_NO_MORE_ITEMS);
    } else {
        // A removed member still enumerates with its class (Wine:
        // test_device_info).
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
    // Wine: test_registry_property_a (a bad handle, a null record).
    // Assumption: a record of the wrong size or naming no member is refused
    // alike, as SetupDiGetDeviceInstanceIdA does (Wine:
    // test_get_device_instance_id).
    if (set == nullptr) {
        return answer(hwsim::Fail(ERROR_INVALID_HANDLE));
    }
    if (index < 0) {
        return answer(hwsim::Fail(ERROR_INVALID_PARAMETER));
    }
    // Assumption: a removed member's properties answer as its instance ID
    // does (Wine: test_device_info).
    hwsim::Node& node = hwsim::MemberNode(set, index);
    if (node.removed) {
        return answer(hwsim::Fail(ERROR_NO_SUCH_DEVINST));
    }
    // No property has a number from SPDRP_MAXIMUM_PROPERTY on. Assumption:
    // Wine's test_registry_property_a expects this error, but todo_wine.
    if (Property >= SPDRP_MAXIMUM_PROPERTY) {
        return answer(hwsim::Fail(ERROR_INVALID_REG_PROPERTY));
    }
    // A refused form; Windows fails it too, with an error Wine's
    // test_registry_property_a does not read.
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return answer(hwsim::Fail(ERROR_INVALID_PARAMETER));
    }
    // Scripted: read@K, details@K.
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
    // Learn: SetupDiGetDeviceRegistryPropertyA function; Wine:
    // test_registry_property_a (SPDRP_HARDWAREID missing).
    if (Property != SPDRP_HARDWAREID || !node.hasHardwareId) {
        return answer(hwsim::Fail(ERROR_INVALID_DATA));
    }
    // Scripted: a size that never fits, zero-size-too-small, grow@K and an
    // overstated size below too.
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
    // Learn: SetupDiGetDeviceRegistryPropertyA function (SPDRP_HARDWAREID is
    // REG_MULTI_SZ).
    const DWORD size = static_cast<DWORD>(node.hardwareId.size());
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = REG_MULTI_SZ;
    }
    // Wine: test_registry_property_a (the size asked with no buffer).
    // Assumption: a short buffer that is not empty is answered alike.
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
    // Wine: test_get_device_instance_id (a bad handle; a null record, one of
    // cbSize 0, one naming no member).
    if (set == nullptr) {
        return hwsim::Fail(ERROR_INVALID_HANDLE);
    }
    const long index = hwsim::MemberOf(set, DeviceInfoData);
    if (index < 0) {
        return hwsim::Fail(ERROR_INVALID_PARAMETER);
    }
    // Wine: test_device_info.
    const hwsim::Node& node = hwsim::MemberNode(set, index);
    if (node.removed) {
        return hwsim::Fail(ERROR_NO_SUCH_DEVINST);
    }
    // A refused form.
    if (DeviceInstanceId == nullptr && DeviceInstanceIdSize != 0) {
        return hwsim::Fail(ERROR_INVALID_PARAMETER);
    }
    // Scripted: details@K.
    if (state.faults.detailsFailAt == index) {
        return hwsim::Fail(state.faults.detailsError);
    }
    // Assumption: the size counts the NUL (Learn: SetupDiGetDeviceInstanceIdA
    // function, the characters "required to store" the ID).
    const auto size = static_cast<DWORD>(node.instanceId.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    // Wine: test_get_device_instance_id (no buffer).
    if (DeviceInstanceIdSize < size || DeviceInstanceId == nullptr) {
        return hwsim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // Wine: test_device_info.
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
    // Wine: test_device_key (a bad handle, a null record). Assumption: a
    // record of the wrong size or naming no member is refused alike.
    if (set == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (index < 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Wine: test_device_key (scope 0, key type 0, DIREG_BOTH).
    if (Scope != DICS_FLAG_GLOBAL || (KeyType != DIREG_DRV && KeyType != DIREG_DEV)) {
        return fail(ERROR_INVALID_FLAGS);
    }
    // Only a driver key, opened to read, is simulated; the rest is refused.
    if (KeyType != DIREG_DRV || HwProfile != 0 || (samDesired & KEY_QUERY_VALUE) == 0 ||
        (samDesired & ~static_cast<REGSAM>(KEY_READ)) != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Assumption: ERROR_NO_SUCH_DEVINST, as for its instance ID; Wine's
    // test_call_class_installer shows only that the open fails after
    // DIF_REMOVE, with another error than ERROR_KEY_DOES_NOT_EXIST.
    const hwsim::Node& node = hwsim::MemberNode(set, index);
    if (node.removed) {
        return fail(ERROR_NO_SUCH_DEVINST);
    }
    // Scripted: driverkey@K.
    if (state.faults.driverKeyFailAt == index) {
        return fail(state.faults.driverKeyError);
    }
    // Keys are found without regard to ASCII case (Learn: Structure of the
    // Registry). No key: Wine: test_device_key.
    const auto found =
        node.driver.empty() ? state.driverKeys.end() : state.driverKeys.find(hwsim::FoldedName(node.driver));
    if (found == state.driverKeys.end()) {
        return fail(ERROR_KEY_DOES_NOT_EXIST);
    }
    // Wine: test_device_key (opened with KEY_READ, read with RegQueryValueExA).
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
    // Assumption: a bad handle and a record naming no member answer as Wine
    // checks them for other SetupDi calls; a null record (the class's
    // installers, Learn: SetupDiCallClassInstaller function) is refused.
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
    } else if (index < 0) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
    } else if (hwsim::MemberNode(set, index).removed) {
        // Assumption: as for its instance ID (Wine: test_device_info).
        hwsim::Fail(ERROR_NO_SUCH_DEVINST);
    } else if (InstallFunction != DIF_REMOVE) {
        // What Windows answers when no class installer handles the function
        // (Wine: test_call_class_installer).
        hwsim::Fail(ERROR_DI_DO_DEFAULT);
    } else if (state.faults.removeFailsAll || state.faults.removeFailAt == index) {
        // Scripted: remove=, remove@K (ERROR_ACCESS_DENIED, say, for a caller
        // who is no administrator, as Learn: SetupDiRemoveDevice function
        // requires, though it names no error).
        hwsim::Fail(state.faults.removeError);
    } else {
        // Learn: SetupDiRemoveDevice function: the device's hardware and
        // software keys are deleted and an active device is stopped; one that
        // cannot be stopped (scripted: restart) gets flags in the set's install
        // parameters that ask for a restart. A device that is not present has
        // nothing to stop. Wine: test_call_class_installer and
        // test_register_device_info (the node is gone). Assumption: the flag
        // is DI_NEEDREBOOT (Learn: SP_DEVINSTALL_PARAMS_A structure), set in
        // the member's parameters as well as the set's (scripted: restartset,
        // the set's alone); the record's DevInst is left as it was.
        hwsim::Node& node = hwsim::MemberNode(set, index);
        if ((state.faults.restartAll || state.faults.restartAt == index) && node.present) {
            if (!state.faults.restartSetOnly) {
                set->installFlags[static_cast<size_t>(index)] |= state.faults.restartFlags;
            }
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
    // Assumption: a bad handle answers as Wine checks it for other SetupDi
    // calls. No parameters, or a record naming no member: refused forms.
    if (set == nullptr) {
        return answer(hwsim::Fail(ERROR_INVALID_HANDLE));
    }
    if ((!whole && index < 0) || DeviceInstallParams == nullptr) {
        return answer(hwsim::Fail(ERROR_INVALID_PARAMETER));
    }
    // Wine: test_device_install_params: one byte more or less than the
    // structure is refused with ERROR_INVALID_USER_BUFFER.
    if (DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
        return answer(hwsim::Fail(ERROR_INVALID_USER_BUFFER));
    }
    // Scripted: installparams@K, installparams=, setinstallparams=.
    const bool memberFails = state.faults.installParamsFailsAll || state.faults.installParamsFailAt == index;
    if (whole ? state.faults.setInstallParamsError != 0 : memberFails) {
        return answer(hwsim::Fail(whole ? state.faults.setInstallParamsError : state.faults.installParamsError));
    }
    // Learn: SetupDiGetDeviceInstallParamsA function: without a record, the
    // set's own parameters. Assumption: a removed member still answers
    // (Learn: SetupDiCallClassInstaller function has the caller read them
    // once DIF_REMOVE returned TRUE; Wine answers ERROR_NO_SUCH_DEVINST, the
    // installparams fault). Untouched, every field is 0 (Wine:
    // test_device_install_params, for a member it created).
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
    // Assumption: as Wine checks a bad handle for other SetupDi calls.
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
    // The export file loses the removed nodes' keys now, while Windows deletes
    // them at the removal (Learn: SetupDiRemoveDevice function): only a
    // reader of the file during the run could tell. A run that removed
    // nothing leaves it untouched.
    hwsim::SaveRemovals();
    // Wine: test_call_class_installer (the last error is 0).
    hwsim::LastError() = ERROR_SUCCESS;
    hwsim::Record(Op::DestroyDeviceInfoList, hwsim::kNever, 0, true, DeviceInfoSet);
    return TRUE;
}
