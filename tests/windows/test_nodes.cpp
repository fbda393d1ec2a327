#include "tests/windows/test_nodes.h"

#include <cstdio>
#include <cstring>

namespace testnodes {

const char kIdPrefix[] = "HWPURGE-TEST\\";
const char kInstancePrefix[] = "ROOT\\HWPURGE-TEST_";
// The device name of every node: ROOT\ then this make kInstancePrefix.
const char kNamePrefix[] = "HWPURGE-TEST_";
const GUID kCheckClass = {0x8f0c2b4e, 0x5d1a, 0x4e7b, {0x9c, 0x3f, 0x61, 0x2a, 0x7e, 0x90, 0xd4, 0x5b}};
const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

// Device instance IDs are at most 200 characters.
const DWORD kMaxInstanceId = 201;

// Making a node and removing them all take turns, so that a console event
// handled on its own thread never leaves a node made half-way behind.
CRITICAL_SECTION g_lock;
const char* g_program = "";

const std::string& Token()
{
    static const std::string token = [] {
        char text[16];
        snprintf(text, sizeof text, "%08lX",
                 static_cast<unsigned long>((GetTickCount() << 12) ^ GetCurrentProcessId()));
        return std::string(text);
    }();
    return token;
}

bool Elevated()
{
    // Under UAC an administrator's unelevated token holds the group for
    // denial only, and the check answers false for it.
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           CheckTokenMembership(nullptr, sid, &member) && member;
}

// Removes every node whose instance ID begins with kInstancePrefix, through
// its class installer as hwpurge does. Answers how many it removed, or -1
// with *why set when the list cannot be read or a node is left.
int RemoveUnderPrefix(std::string* why)
{
    EnterCriticalSection(&g_lock);
    int removed = 0;
    for (int pass = 0; pass < 2 && why->empty(); ++pass) {
        HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
        if (set == INVALID_HANDLE_VALUE) {
            *why = "listing the device nodes failed with error " + std::to_string(GetLastError());
            break;
        }
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
            char id[kMaxInstanceId] = "";
            if (!SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr) || !IsCheckNode(id)) {
                continue;
            }
            // The second pass only looks: whatever it finds was not removed.
            // Where a class installer refuses DIF_REMOVE for a node that was
            // never installed, SetupAPI's default handler removes it, so that
            // one refusal does not stop every later run at its start.
            if (pass == 1 || (!SetupDiCallClassInstaller(DIF_REMOVE, set, &data) && !SetupDiRemoveDevice(set, &data))) {
                *why = std::string(id) + " could not be removed (error " + std::to_string(GetLastError()) + ")";
                break;
            }
            ++removed;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    LeaveCriticalSection(&g_lock);
    return why->empty() ? removed : -1;
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    // Held to the end, so that the program makes no node after this point.
    EnterCriticalSection(&g_lock);
    std::string why;
    const int removed = RemoveUnderPrefix(&why);
    printf("FAIL: %s: interrupted; %s\n", g_program,
           removed < 0 ? why.c_str() : ("removed the " + std::to_string(removed) + " nodes it made").c_str());
    fflush(stdout);
    ExitProcess(3);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS*)
{
    std::string why;
    const int removed = RemoveUnderPrefix(&why);
    printf("FAIL: %s crashed; %s\n", g_program, removed < 0 ? why.c_str() : "the nodes it made are removed");
    fflush(stdout);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool Begin(const char* program)
{
    g_program = program;
    InitializeCriticalSection(&g_lock);
    if (!Elevated()) {
        printf("FAIL: %s needs administrator rights to make and remove device nodes; run it from an elevated prompt\n",
               program);
        return false;
    }
    std::string why;
    const int left = RemoveUnderPrefix(&why);
    if (left < 0) {
        printf("FAIL: %s: removing what an earlier run left: %s\n", program, why.c_str());
        return false;
    }
    if (left > 0) {
        printf("note: removed %d device nodes an earlier run left behind\n", left);
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    SetUnhandledExceptionFilter(OnCrash);
    printf("note: %s on %s; its nodes are %s%s_*, its hardware IDs begin with %s\n", program,
           OnWine() ? "Wine" : "Windows", kInstancePrefix, Token().c_str(), IdPrefix().c_str());
    return true;
}

bool End(const char* program)
{
    std::string why;
    if (RemoveUnderPrefix(&why) < 0) {
        printf("FAIL: %s: removing its nodes: %s\n", program, why.c_str());
        return false;
    }
    return true;
}

bool IsCheckNode(const char* instanceId)
{
    return _strnicmp(instanceId, kInstancePrefix, sizeof kInstancePrefix - 1) == 0;
}

const std::string& IdPrefix()
{
    static const std::string prefix = kIdPrefix + Token() + "\\";
    return prefix;
}

namespace {

// Gives a registered node the names, manufacturer and driver key `details`
// holds, through the public SetupAPI and registry calls. Answers the step
// that failed, or nullptr.
const char* Describe(HDEVINFO set, SP_DEVINFO_DATA* data, const Details& details)
{
    // The description was given when the node was made: Windows reserves
    // SPDRP_DEVICEDESC (and SPDRP_MFG) for itself in this call.
    const struct {
        DWORD property;
        const char* text;
    } properties[] = {{SPDRP_FRIENDLYNAME, details.friendlyName}, {SPDRP_MFG, details.manufacturer}};
    for (const auto& property : properties) {
        if (property.text != nullptr && !SetupDiSetDeviceRegistryPropertyA(
                                            set, data, property.property, reinterpret_cast<const BYTE*>(property.text),
                                            static_cast<DWORD>(strlen(property.text) + 1))) {
            return "SetupDiSetDeviceRegistryPropertyA";
        }
    }
    if (details.inf == nullptr) {
        return nullptr;
    }
    HKEY key = SetupDiCreateDevRegKeyA(set, data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) {
        return "SetupDiCreateDevRegKeyA(DIREG_DRV)";
    }
    const struct {
        const char* name;
        const char* text;
    } values[] = {{"InfPath", details.inf},
                  {"ProviderName", details.provider},
                  {"DriverVersion", details.version},
                  {"DriverDate", details.date}};
    const char* failed = nullptr;
    for (const auto& value : values) {
        if (value.text != nullptr &&
            RegSetValueExA(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text),
                           static_cast<DWORD>(strlen(value.text) + 1)) != ERROR_SUCCESS) {
            failed = "RegSetValueExA";
            break;
        }
    }
    RegCloseKey(key);
    return failed;
}

}  // namespace

std::string MakeNode(const GUID& setupClass, const std::string& name, Property kind, const std::string& bytes,
                     std::string* why, const Details* details)
{
    EnterCriticalSection(&g_lock);
    const std::string deviceName = kNamePrefix + Token() + "_" + name;
    std::string instanceId;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&setupClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        *why = "SetupDiCreateDeviceInfoList failed with error " + std::to_string(GetLastError());
        LeaveCriticalSection(&g_lock);
        return instanceId;
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    // Windows creates a node through SetupAPI only under the ROOT
    // enumerator: DIF_REGISTERDEVICE registers non-PnP devices, which are
    // root-enumerated, and the documented name for a new one is a root
    // device ID with DICD_GENERATE_ID, which gives ROOT\<name>\NNNN.
    const char* step = "SetupDiCreateDeviceInfoA";
    const char* description = details != nullptr ? details->description : nullptr;
    bool ok = SetupDiCreateDeviceInfoA(set, deviceName.c_str(), &setupClass, description, nullptr, DICD_GENERATE_ID,
                                       &data) != FALSE;
    const BYTE* buffer = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD size = static_cast<DWORD>(bytes.size());
    if (ok && kind == Property::kNarrow) {
        step = "SetupDiSetDeviceRegistryPropertyA";
        ok = SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, buffer, size) != FALSE;
    } else if (ok && kind == Property::kWide) {
        step = "SetupDiSetDeviceRegistryPropertyW";
        ok = SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, buffer, size) != FALSE;
    } else if (ok && kind == Property::kZeroBytes) {
        step = "SetupDiSetDeviceRegistryPropertyA(0 bytes)";
        ok = SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr, 0) != FALSE || !OnWine();
    }
    if (ok) {
        step = "SetupDiRegisterDeviceInfo";
        ok = SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr) != FALSE;
    }
    // A driver key needs a registered node.
    if (ok && details != nullptr) {
        const char* failed = Describe(set, &data, *details);
        step = failed != nullptr ? failed : step;
        ok = failed == nullptr;
    }
    char id[kMaxInstanceId] = "";
    if (ok) {
        step = "SetupDiGetDeviceInstanceIdA";
        ok = SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr) != FALSE;
    }
    if (ok) {
        instanceId = id;
    } else {
        *why = "making node " + deviceName + ": " + step + " failed with error " + std::to_string(GetLastError());
    }
    SetupDiDestroyDeviceInfoList(set);
    LeaveCriticalSection(&g_lock);
    return instanceId;
}

bool RemoveNode(const std::string& instanceId, std::string* why)
{
    EnterCriticalSection(&g_lock);
    bool removed = false;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD index = 0; set != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        char id[kMaxInstanceId] = "";
        if (SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr) && _stricmp(id, instanceId.c_str()) == 0) {
            removed = SetupDiRemoveDevice(set, &data) != FALSE;
            if (!removed) {
                *why = instanceId + " could not be removed (error " + std::to_string(GetLastError()) + ")";
            }
            break;
        }
    }
    if (set != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(set);
    }
    if (!removed && why->empty()) {
        *why = instanceId + " is not listed";
    }
    LeaveCriticalSection(&g_lock);
    return removed;
}

bool OnWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testnodes
