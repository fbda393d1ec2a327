// hwpurge-preview's calls on the simulated Windows: a node's instance ID,
// its status in the device tree, and the conversions between narrow text,
// UTF-16 and UTF-8.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/host/simulated_windows.h"

namespace {

// A node is in the device tree while it is present and not removed.
const ULONG kStartedStatus = DN_DRIVER_LOADED | DN_STARTED;

}  // namespace

BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PSTR DeviceInstanceId,
                                 DWORD DeviceInstanceIdSize, PDWORD RequiredSize)
{
    const hwsim::Node* node = hwsim::NodeOfRecord(DeviceInfoSet, DeviceInfoData);
    if (node == nullptr) {
        return FALSE;
    }
    if (DeviceInstanceId == nullptr && DeviceInstanceIdSize != 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const auto size = static_cast<DWORD>(node->instanceId.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (DeviceInstanceIdSize < size || DeviceInstanceId == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(DeviceInstanceId, node->instanceId.c_str(), size);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

CONFIGRET CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags)
{
    if (pulStatus == nullptr || pulProblemNumber == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    const hwsim::Node* node = hwsim::NodeOfDevInst(dnDevInst);
    if (node == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    if (!node->present) {
        return CR_NO_SUCH_DEVNODE;
    }
    *pulStatus = kStartedStatus;
    *pulProblemNumber = 0;
    return CR_SUCCESS;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar)
{
    hwsim::Boot();
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 || dwFlags != 0 ||
        (lpWideCharStr == nullptr && cchWideChar != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT codePage = CodePage == CP_ACP ? hwsim::AnsiCodePage() : CodePage;
    if (codePage != CP_UTF8 && !IsValidCodePage(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the string and its NUL.
    const size_t length = cbMultiByte < 0 ? strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const std::u16string wide = hwsim::AnsiToWide(std::string(lpMultiByteStr, length), codePage);
    if (cchWideChar == 0) {
        return static_cast<int>(wide.size());
    }
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // A counted result: no terminator is added, as on Windows.
    memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));  // NOLINT(bugprone-not-null-terminated-result)
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    hwsim::Boot();
    const UINT codePage = CodePage == CP_ACP ? hwsim::AnsiCodePage() : CodePage;
    // UTF-8 has no default character to report.
    const bool defaultsGiven = lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr;
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 || dwFlags != 0 ||
        (lpMultiByteStr == nullptr && cbMultiByte != 0) || (codePage == CP_UTF8 && defaultsGiven) ||
        (codePage != CP_UTF8 && !IsValidCodePage(codePage))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[length] != 0) {
            ++length;
        }
        ++length;
    } else {
        length = static_cast<size_t>(cchWideChar);
    }
    const std::u16string wide(lpWideCharStr, length);
    const std::string bytes = hwsim::WideToAnsi(wide, codePage);
    if (lpUsedDefaultChar != nullptr) {
        // Each character the code page lacks became a '?' of its own.
        const auto asked = std::count(wide.begin(), wide.end(), u'?');
        *lpUsedDefaultChar = std::count(bytes.begin(), bytes.end(), '?') > asked ? TRUE : FALSE;
    }
    if (cbMultiByte == 0) {
        return static_cast<int>(bytes.size());
    }
    if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpMultiByteStr, bytes.data(), bytes.size());  // NOLINT(bugprone-not-null-terminated-result)
    return static_cast<int>(bytes.size());
}
