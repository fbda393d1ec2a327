// The simulated registry functions, for the one kind of key the programs
// open: a node's driver key, from SetupDiOpenDevRegKey. They answer with
// their result, as Windows' registry functions do, and leave the thread's
// last error alone.
#include <cstring>
#include <memory>

#include "platform/host/machine.h"

namespace hwsim {
namespace {

OpenKey* FindKey(HKEY handle)
{
    auto* key = static_cast<OpenKey*>(handle);
    return Machine().keys.count(key) != 0 ? key : nullptr;
}

}  // namespace
}  // namespace hwsim

using hwsim::Op;

// Windows' own signature, lpReserved not const included.
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName,
                         // cppcheck-suppress constParameter
                         LPDWORD lpReserved,  // NOLINT(readability-non-const-parameter)
                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    const hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    const hwsim::OpenKey* key = hwsim::FindKey(hKey);
    const long index = key != nullptr ? key->index : hwsim::kNever;
    const DWORD offered = lpcbData != nullptr ? *lpcbData : 0;
    auto answer = [&](LSTATUS status) {
        hwsim::Record(Op::RegQueryValue, index, offered, status == ERROR_SUCCESS, lpData,
                      lpcbData != nullptr ? *lpcbData : 0);
        return status;
    };
    if (key == nullptr) {
        return answer(ERROR_INVALID_HANDLE);
    }
    // The size may be left out only when the data is.
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return answer(ERROR_INVALID_PARAMETER);
    }
    if (state.faults.valueFailAt == index) {
        return answer(static_cast<LSTATUS>(state.faults.valueError));
    }
    const auto found = key->key->values.find(hwsim::FoldedName(lpValueName != nullptr ? lpValueName : ""));
    if (found == key->key->values.end()) {
        return answer(ERROR_FILE_NOT_FOUND);
    }
    const hwsim::RegValue& value = found->second;
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpType != nullptr) {
        *lpType = value.type;
    }
    if (lpData == nullptr) {
        if (lpcbData != nullptr) {
            *lpcbData = size;
        }
        return answer(ERROR_SUCCESS);
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return answer(ERROR_MORE_DATA);
    }
    if (size != 0) {
        // The value's own bytes: a string's terminator is among them.
        memcpy(lpData, value.data.data(), size);  // NOLINT(bugprone-not-null-terminated-result)
    }
    *lpcbData = size;
    return answer(ERROR_SUCCESS);
}

LSTATUS RegCloseKey(HKEY hKey)
{
    hwsim::MachineState& state = hwsim::BootedMachine(__func__);
    hwsim::OpenKey* key = hwsim::FindKey(hKey);
    if (key == nullptr) {
        hwsim::Record(Op::RegCloseKey, hwsim::kNever, 0, false, hKey);
        return ERROR_INVALID_HANDLE;
    }
    // The key is freed last: the call log keeps its handle, and a handle is
    // only ever recorded while the key it names is open.
    std::unique_ptr<hwsim::OpenKey> released(key);
    state.keys.erase(key);
    hwsim::Record(Op::RegCloseKey, key->index, 0, true, hKey);
    return ERROR_SUCCESS;
}
