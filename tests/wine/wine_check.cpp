// Runs hwpurge.exe against Wine's own SetupAPI. Each case builds the device
// nodes it needs through SetupAPI, starts hwpurge.exe with an exact command
// line, and checks the bytes it wrote, its exit status and the nodes left.
//
// usage: wine_check <case> <path of hwpurge.exe> [case arguments]
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// SetupAPI's header needs the base types from <windows.h> first.
#include <setupapi.h>
// The configuration manager, for what hwpurge-preview says of presence.
#include <cfgmgr32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

// Device instance IDs are at most 200 characters.
const DWORD kMaxInstanceId = 201;

std::string Printable(const std::string& bytes)
{
    std::string out;
    for (char byte : bytes) {
        const unsigned char c = static_cast<unsigned char>(byte);
        char hex[8];
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n\n";
        } else if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

void Check(bool ok, const std::string& what)
{
    if (!ok) {
        ++g_failures;
        printf("FAIL: %s\n", what.c_str());
    }
}

void CheckBytes(const std::string& seen, const std::string& expected, const std::string& what)
{
    if (seen != expected) {
        ++g_failures;
        printf("FAIL: %s\n--- expected:\n%s\n--- seen:\n%s\n---\n", what.c_str(), Printable(expected).c_str(),
               Printable(seen).c_str());
    }
}

// ---------------------------------------------------------------------------
// Device nodes

struct Node {
    std::string instanceId;
    bool hasHardwareIds;
    std::wstring hardwareIds;  // REG_MULTI_SZ as stored, without the list's final NUL
};

const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kNetClass = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kMediaClass = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
const GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

enum PropertyKind { kNarrow, kWide, kNone, kZeroBytes };

// Creates a registered, never-started node ROOT\<name>\NNNN. `ids` is a
// REG_MULTI_SZ body (entries each with their NUL) without the closing NUL.
// Returns its instance ID, or "" after reporting a failure.
std::string CreateNode(const GUID& setupClass, const char* name, PropertyKind kind, const std::string& narrowIds,
                       const std::wstring& wideIds = std::wstring())
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&setupClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        Check(false, "SetupDiCreateDeviceInfoList failed");
        return "";
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    std::string instanceId;
    bool ok = SetupDiCreateDeviceInfoA(set, name, &setupClass, nullptr, nullptr, DICD_GENERATE_ID, &data) != FALSE;
    if (ok && kind == kNarrow) {
        const std::string list = narrowIds + '\0';
        ok = SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(list.data()),
                                               static_cast<DWORD>(list.size())) != FALSE;
    } else if (ok && kind == kWide) {
        const std::wstring list = wideIds + L'\0';
        ok = SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(list.data()),
                                               static_cast<DWORD>(list.size() * sizeof(wchar_t))) != FALSE;
    } else if (ok && kind == kZeroBytes) {
        const BYTE none = 0;
        ok = SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, &none, 0) != FALSE;
    }
    if (ok) {
        ok = SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr) != FALSE;
    }
    char id[kMaxInstanceId];
    if (ok) {
        ok = SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr) != FALSE;
    }
    if (ok) {
        instanceId = id;
    } else {
        Check(false, std::string("creating node ") + name + " failed with error " + std::to_string(GetLastError()));
    }
    SetupDiDestroyDeviceInfoList(set);
    return instanceId;
}

// Every node SetupAPI knows, present or not, in enumeration order.
std::vector<Node> ListNodes()
{
    std::vector<Node> nodes;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        Check(false, "listing: SetupDiGetClassDevsA failed");
        return nodes;
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        Node node;
        char id[kMaxInstanceId] = "";
        SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr);
        node.instanceId = id;
        BYTE buffer[4096] = {};
        DWORD size = 0;
        node.hasHardwareIds = SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, nullptr, buffer,
                                                                sizeof buffer - 2, &size) != FALSE;
        if (node.hasHardwareIds) {
            std::wstring list(reinterpret_cast<const wchar_t*>(buffer), size / sizeof(wchar_t));
            while (!list.empty() && list.back() == L'\0') {
                list.pop_back();
            }
            node.hardwareIds = list;
        }
        nodes.push_back(node);
    }
    SetupDiDestroyDeviceInfoList(set);
    return nodes;
}

bool Listed(const std::vector<Node>& nodes, const std::string& instanceId)
{
    for (const Node& node : nodes) {
        if (node.instanceId == instanceId) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Running hwpurge.exe

struct Run {
    bool started;
    bool timedOut;
    DWORD exitCode;
    std::string out;
    std::string err;
};

std::string g_program;  // hwpurge.exe (or hwpurge-preview.exe) as a Windows path
std::string g_scratch;  // folder for the captured output

HANDLE CreateCapture(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadCapture(HANDLE file)
{
    std::string bytes;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

// Starts hwpurge.exe with exactly `commandLine`; standard output and error
// go to files of their own, so their bytes arrive as the program wrote them.
Run RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000)
{
    Run run = {false, false, 0, "", ""};
    HANDLE out = CreateCapture(g_scratch + "\\stdout.bin");
    HANDLE err = CreateCapture(g_scratch + "\\stderr.bin");
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        Check(false, "cannot create the capture files in " + g_scratch);
        return run;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    run.started = CreateProcessA(g_program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process) != FALSE;
    if (!run.started) {
        Check(false, "CreateProcessA failed for: " + commandLine);
    } else {
        if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    run.out = ReadCapture(out);
    run.err = ReadCapture(err);
    return run;
}

void CheckRun(const Run& run, const std::string& out, const std::string& err, DWORD exitCode, const std::string& what)
{
    if (!run.started) {
        return;
    }
    Check(!run.timedOut, what + ": hwpurge.exe did not end in time");
    CheckBytes(run.out, out, what + ": standard output");
    CheckBytes(run.err, err, what + ": standard error");
    Check(run.exitCode == exitCode,
          what + ": exit status " + std::to_string(run.exitCode) + ", expected " + std::to_string(exitCode));
}

const char kBanner[] =
    "**************************************************\r\n"
    "*                                                *\r\n"
    "*  KIVO 4100, KIVO 720 Driver UnInstall Program. *\r\n"
    "*                                                *\r\n"
    "*           Please Wait For Completion.          *\r\n"
    "*                                                *\r\n"
    "**************************************************\r\n";
const char kUsage[] = "usage: hwpurge <Hardware_ID> \r\n";

std::string RemovalLine(const std::string& entry)
{
    return " Removed: KIVO Device with ID [" + entry + "] \r\n";
}

// ---------------------------------------------------------------------------
// Cases

void CaseUsage()
{
    const struct {
        const char* commandLine;
        const char* what;
    } cases[] = {
        {"hwpurge.exe", "no argument"},
        {"hwpurge.exe   ", "no argument, trailing spaces"},
        {"hwpurge.exe HWPT_USAGE\\A HWPT_USAGE\\B", "two arguments"},
        {"hwpurge.exe \"HWPT_USAGE\\A\" \"\"", "a valid identifier and an empty second argument"},
        {"hwpurge.exe HWPT_USAGE\\A\tHWPT_USAGE\\B", "two arguments split by a tab"},
    };
    for (const auto& c : cases) {
        CheckRun(RunProgram(c.commandLine), kUsage, "", 2, c.what);
    }
    // Quotes group: one argument holding a space runs the pass (and finds
    // nothing, since no hardware ID holds that text).
    CheckRun(RunProgram("hwpurge.exe \"HWPT_USAGE\\NO SUCH DEVICE\""), kBanner, "", 0, "one quoted argument");
}

// An identifier with a space reaches the program whole only when quoted.
void CaseQuoting()
{
    using namespace std::string_literals;
    const std::string spaced = CreateNode(kUsbClass, "HWPT_QT", kNarrow, "HWPT_QT\\KIVO 4100 CAM\0"s);
    CheckRun(RunProgram("hwpurge.exe hwpt_qt\\kivo 4100"), kUsage, "", 2, "unquoted identifier with a space");
    Check(Listed(ListNodes(), spaced), "the unquoted run removed the node");
    CheckRun(RunProgram("hwpurge.exe \"hwpt_qt\\kivo 4100\""),
             std::string(kBanner) + RemovalLine("HWPT_QT\\KIVO 4100 CAM"), "", 0, "quoted identifier with a space");
    Check(!Listed(ListNodes(), spaced), "the quoted run left the node");
}

void CaseEmpty()
{
    const std::string refused = "hwpurge: the hardware ID is empty; nothing was removed\r\n";
    const std::vector<Node> before = ListNodes();
    CheckRun(RunProgram("hwpurge.exe \"\""), "", refused, 2, "empty argument");
    CheckRun(RunProgram("hwpurge.exe \"\"  "), "", refused, 2, "empty argument, trailing spaces");
    Check(ListNodes().size() == before.size(), "empty argument: nodes were removed");
}

struct Planned {
    const GUID* setupClass;
    const char* name;
    PropertyKind kind;
    std::string ids;    // REG_MULTI_SZ body
    const char* match;  // the entry the removal line names, or nullptr
    std::string instanceId;
};

void CaseRemoval()
{
    using namespace std::string_literals;
    std::vector<Planned> plan = {
        {&kSystemClass, "HWPT_RM_SECOND", kNarrow, "HWPT_RM\\OTHER_1\0HWPT_RM\\KIVO_4100&REV_02\0"s,
         "HWPT_RM\\KIVO_4100&REV_02", ""},
        {&kPortsClass, "HWPT_RM_TWICE", kNarrow, "HWPT_RM\\KIVO_720&REV_01\0HWPT_RM\\KIVO_720\0"s,
         "HWPT_RM\\KIVO_720&REV_01", ""},
        {&kHidClass, "HWPT_RM_CASE", kNarrow, "hwpt_rm\\kivo_case\0"s, "hwpt_rm\\kivo_case", ""},
        {&kUsbClass, "HWPT_RM_EXACT", kNarrow, "HWPT_RM\\KIVO_\0"s, "HWPT_RM\\KIVO_", ""},
        {&kNetClass, "HWPT_RM_NOPROP", kNone, "", nullptr, ""},
        {&kMediaClass, "HWPT_RM_SHORT", kNarrow, "HWPT_RM\\KIVO\0"s, nullptr, ""},
        {&kSystemClass, "HWPT_RM_NEAR", kNarrow, "HWPT_RM\\KIVX_1\0XHWPT_RM\\KIVO_1\0HWPT_RM KIVO_1\0"s, nullptr, ""},
        {&kPortsClass, "HWPT_RM_ACCENT", kNarrow, "HWPT_RM\\KIVO_\xC4\0"s, "HWPT_RM\\KIVO_\xC4", ""},
    };
    for (Planned& node : plan) {
        node.instanceId = CreateNode(*node.setupClass, node.name, node.kind, node.ids);
    }
    const std::vector<Node> before = ListNodes();

    // The expected lines follow the order in which SetupAPI enumerates.
    std::string expected = kBanner;
    size_t wineNodes = 0;
    for (const Node& node : before) {
        bool mine = false;
        for (const Planned& planned : plan) {
            if (planned.instanceId == node.instanceId) {
                mine = true;
                Check(node.hasHardwareIds == (planned.kind != kNone),
                      std::string("node ") + planned.name + " does not have the hardware-ID property it was given");
                if (planned.match != nullptr) {
                    expected += RemovalLine(planned.match);
                }
            }
        }
        wineNodes += mine ? 0 : 1;
    }
    for (const Planned& planned : plan) {
        Check(!planned.instanceId.empty() && Listed(before, planned.instanceId),
              std::string("node ") + planned.name + " is not listed before the run");
    }
    Check(wineNodes > 0, "Wine's own device nodes are not listed");

    // Mixed case in the identifier; the backslash is not before a quote, so
    // it reaches the program as it stands.
    CheckRun(RunProgram("hwpurge.exe Hwpt_rm\\kivo_"), expected, "", 0, "removal run");

    std::vector<Node> expectedAfter;
    for (const Node& node : before) {
        bool removed = false;
        for (const Planned& planned : plan) {
            removed = removed || (planned.instanceId == node.instanceId && planned.match != nullptr);
        }
        if (!removed) {
            expectedAfter.push_back(node);
        }
    }
    const std::vector<Node> after = ListNodes();
    bool same = after.size() == expectedAfter.size();
    for (size_t i = 0; same && i < after.size(); ++i) {
        same = after[i].instanceId == expectedAfter[i].instanceId &&
               after[i].hasHardwareIds == expectedAfter[i].hasHardwareIds &&
               after[i].hardwareIds == expectedAfter[i].hardwareIds;
    }
    if (!same) {
        std::string seen;
        for (const Node& node : after) {
            seen += node.instanceId + "\n";
        }
        Check(false, "nodes after the run are not those before less the matched ones; seen:\n" + seen);
    }

    CheckRun(RunProgram("hwpurge.exe HWPT_RM\\KIVO_"), kBanner, "", 0, "second run");
    Check(ListNodes().size() == after.size(), "second run: the node count changed");
}

void CaseZeroBytes()
{
    const std::string empty = CreateNode(kSystemClass, "HWPT_ZB_0EMPTY", kZeroBytes, "");
    const std::string next = CreateNode(kSystemClass, "HWPT_ZB_1NEXT", kNarrow, std::string("HWPT_ZB\\NEXT\0", 13));

    // Say what this Wine answers for the empty property, so a log shows
    // whether the run below meets the answer that used to hang it.
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    size_t emptyAt = 0;
    size_t nextAt = 0;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        char id[kMaxInstanceId] = "";
        SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr);
        if (empty == id) {
            emptyAt = index + 1;
            DWORD required = 12345;
            const BOOL read =
                SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr, nullptr, 0, &required);
            const DWORD error = GetLastError();
            printf("note: empty hardware-ID read: result %d, error %lu, required size %lu\n", read,
                   static_cast<unsigned long>(error), static_cast<unsigned long>(required));
            // The answer that once hung the pass; without it this case proves nothing.
            Check(!read && error == ERROR_INSUFFICIENT_BUFFER && required == 0,
                  "Wine no longer answers the empty property with \"too small, 0 bytes\"");
        }
        if (next == id) {
            nextAt = index + 1;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    Check(emptyAt != 0 && nextAt > emptyAt, "the empty node is not enumerated before the next one");

    CheckRun(RunProgram("hwpurge.exe HWPT_ZB\\", 20000), std::string(kBanner) + RemovalLine("HWPT_ZB\\NEXT"), "", 0,
             "zero-byte hardware IDs");
    const std::vector<Node> after = ListNodes();
    Check(Listed(after, empty), "the node with the empty property was removed");
    Check(!Listed(after, next), "the node after the empty one was not removed");
}

// Full-width capitals in the identifier against full-width small letters in
// the node, in whatever code page Wine took from LC_ALL.
void CaseFullWidth(UINT identifierCodePage, UINT expectedAcp, bool expectRemoved)
{
    Check(GetACP() == expectedAcp,
          "the ANSI code page is " + std::to_string(GetACP()) + ", expected " + std::to_string(expectedAcp));
    const std::wstring prefix = L"HWPT_FW" + std::to_wstring(expectedAcp) + L"\\";
    const std::wstring entry = prefix + L"\xFF4B\xFF49\xFF56\xFF4F_\xFF44\xFF45\xFF56";  // ｋｉｖｏ_ｄｅｖ
    const std::wstring capitals = prefix + L"\xFF2B\xFF29\xFF36\xFF2F";                  // ＫＩＶＯ
    const std::string name = "HWPT_FW" + std::to_string(expectedAcp);
    const std::string instanceId = CreateNode(kHidClass, name.c_str(), kWide, "", entry + L'\0');

    char identifier[128] = "";
    const int length = WideCharToMultiByte(identifierCodePage, 0, capitals.c_str(), -1, identifier, sizeof identifier,
                                           nullptr, nullptr);
    Check(length == static_cast<int>(capitals.size()) - 4 + 4 * 2 + 1,
          "the identifier is not made of two-byte capitals in code page " + std::to_string(identifierCodePage));
    if (identifierCodePage == 932) {
        char a[3] = "";
        WideCharToMultiByte(932, 0, L"\xFF21", 1, a, 2, nullptr, nullptr);
        Check(memcmp(a, "\x82\x60", 2) == 0, "full-width A is not 0x82 0x60 in code page 932");
    }

    std::string expected = kBanner;
    if (expectRemoved) {
        char narrow[128] = "";
        WideCharToMultiByte(CP_ACP, 0, entry.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
        expected += RemovalLine(narrow);
    }
    CheckRun(RunProgram(std::string("hwpurge.exe ") + identifier), expected, "", 0,
             "full-width identifier in code page " + std::to_string(GetACP()));
    Check(Listed(ListNodes(), instanceId) != expectRemoved,
          expectRemoved ? "the full-width node is still there" : "the full-width node was removed");
}

// What this SetupAPI says of a node: class name, class GUID and the
// configuration manager's answer for it.
struct Description {
    std::string className;  // "" when the node has none
    std::string classGuid;
    CONFIGRET status;
};

Description Describe(const std::string& instanceId)
{
    Description description = {"", "", CR_FAILURE};
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        char id[kMaxInstanceId] = "";
        SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr);
        if (instanceId != id) {
            continue;
        }
        char text[256] = "";
        if (SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_CLASS, nullptr, reinterpret_cast<BYTE*>(text),
                                              sizeof text, nullptr)) {
            description.className = text;
        }
        text[0] = '\0';
        if (SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_CLASSGUID, nullptr, reinterpret_cast<BYTE*>(text),
                                              sizeof text, nullptr)) {
            description.classGuid = text;
        }
        ULONG status = 0;
        ULONG problem = 0;
        description.status = CM_Get_DevNode_Status(&status, &problem, data.DevInst, 0);
    }
    SetupDiDestroyDeviceInfoList(set);
    return description;
}

std::string JsonText(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    }
    return quoted + "\"";
}

// hwpurge-preview.exe lists the nodes a run of hwpurge.exe would remove,
// removes none of them, and finds none once hwpurge.exe removed them.
void CasePreview(const std::string& hwpurge, UINT codePage)
{
    using namespace std::string_literals;
    struct {
        const GUID* setupClass;
        const char* name;
        std::string ids;
        const char* match;      // or nullptr
        const char* jsonMatch;  // the same in UTF-8
        std::string instanceId;
    } plan[] = {
        {&kPortsClass, "HWPT_PV_SECOND", "HWPT_PV\\OTHER\0HWPT_PV\\KIVO_4100\0"s, "HWPT_PV\\KIVO_4100",
         "HWPT_PV\\KIVO_4100", ""},
        {&kUsbClass, "HWPT_PV_CASE", "hwpt_pv\\kivo_720\0"s, "hwpt_pv\\kivo_720", "hwpt_pv\\kivo_720", ""},
        // A-umlaut in 1252, a full-width small k in 932: the JSON gives it in UTF-8.
        {&kMediaClass, "HWPT_PV_ACCENT", "", nullptr, nullptr, ""},
        {&kHidClass, "HWPT_PV_NOT", "HWPT_PV\\KIV\0"s, nullptr, nullptr, ""},
    };
    const bool japanese = codePage == 932;
    plan[2].ids = japanese ? "HWPT_PV\\KIVO_\x82\x8B\0"s : "HWPT_PV\\KIVO_\xC4\0"s;
    plan[2].match = japanese ? "HWPT_PV\\KIVO_\x82\x8B" : "HWPT_PV\\KIVO_\xC4";
    plan[2].jsonMatch = japanese ? "HWPT_PV\\KIVO_\xEF\xBD\x8B" : "HWPT_PV\\KIVO_\xC3\x84";
    Check(GetACP() == codePage, "the ANSI code page is " + std::to_string(GetACP()));
    for (auto& node : plan) {
        node.instanceId = CreateNode(*node.setupClass, node.name, kNarrow, node.ids);
    }
    const std::vector<Node> before = ListNodes();

    std::string text;
    std::string json = "{\"identifier\":\"HWPT_PV\\\\KIVO_\",\"devices\":[";
    size_t listed = 0;
    for (const Node& node : before) {
        for (const auto& planned : plan) {
            if (planned.instanceId != node.instanceId || planned.match == nullptr) {
                continue;
            }
            const Description d = Describe(node.instanceId);
            printf("note: %s: class \"%s\" %s, CM_Get_DevNode_Status answers 0x%02lX\n", node.instanceId.c_str(),
                   d.className.c_str(), d.classGuid.c_str(), static_cast<unsigned long>(d.status));
            const bool present = d.status == CR_SUCCESS;
            text += "["s + planned.match + "] " + node.instanceId + " (class";
            text += d.className.empty() ? "" : " " + d.className;
            text += d.classGuid.empty() ? "" : " " + d.classGuid;
            text += present ? ", present)\r\n" : ", not present)\r\n";
            json += listed == 0 ? "{" : ",{";
            json += "\"hardwareId\":" + JsonText(planned.jsonMatch) + ",\"instanceId\":" + JsonText(node.instanceId) +
                    ",\"class\":" + (d.className.empty() ? "null" : JsonText(d.className)) +
                    ",\"classGuid\":" + (d.classGuid.empty() ? "null" : JsonText(d.classGuid)) +
                    ",\"present\":" + (present ? "true" : "false") + "}";
            ++listed;
        }
    }
    text += "3 device nodes would be removed\r\n";
    json += "],\"complete\":true,\"failures\":[]}\r\n";
    Check(listed == 3, "the planned nodes are not enumerated");

    CheckRun(RunProgram("hwpurge-preview.exe HWPT_PV\\KIVO_"), text, "", 1, "preview");
    CheckRun(RunProgram("hwpurge-preview.exe --json HWPT_PV\\KIVO_"), json, "", 1, "preview --json");
    Check(ListNodes().size() == before.size(), "the preview removed nodes");

    const std::string preview = g_program;
    g_program = hwpurge;
    const Run removal = RunProgram("hwpurge.exe HWPT_PV\\KIVO_");
    g_program = preview;
    Check(removal.exitCode == 0 && removal.err.empty(), "hwpurge.exe failed: " + removal.err);
    for (const auto& planned : plan) {
        Check(Listed(ListNodes(), planned.instanceId) == (planned.match == nullptr),
              std::string("hwpurge.exe did not remove exactly the listed nodes: ") + planned.name);
    }
    CheckRun(RunProgram("hwpurge-preview.exe HWPT_PV\\KIVO_"), "no device node would be removed\r\n", "", 0,
             "preview after the removal");
    // Windows documents this call as reading the status from the node's
    // devnode in the device tree, with an error code for anything else.
    // This Wine answers CR_SUCCESS for every handle, one that names no node
    // included, so under Wine every listed node is "present".
    // Should that change, docs/fleet.md must say so too.
    ULONG status = 0;
    ULONG problem = 0;
    const CONFIGRET none = CM_Get_DevNode_Status(&status, &problem, 0x7FFF, 0);
    printf("note: CM_Get_DevNode_Status on a handle no node has answers 0x%02lX\n", static_cast<unsigned long>(none));
    Check(none == CR_SUCCESS, "Wine's configuration manager now refuses a handle that names no node");
}

// The fleet scripts (examples/fleet) run by cmd.exe from a folder that
// holds them and both programs, as an engine deploys them: the detection
// step's status before and after the remediation step, and what they write.
void CaseFleet(const std::string& hwpurge, const std::string& scripts)
{
    const std::string folder = g_scratch + "\\fleet";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string files[][2] = {{g_program, "hwpurge-preview.exe"},
                                    {hwpurge, "hwpurge.exe"},
                                    {scripts + "\\detect.cmd", "detect.cmd"},
                                    {scripts + "\\remediate.cmd", "remediate.cmd"}};
    for (const auto& file : files) {
        Check(CopyFileA(file[0].c_str(), (folder + "\\" + file[1]).c_str(), FALSE) != FALSE, "cannot copy " + file[0]);
    }
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    const std::string preview = g_program;
    g_program = std::string(system) + "\\cmd.exe";
    // The identifier holds an ampersand: only the quotes keep it whole.
    const std::string identifier = "HWPT_FL\\KIVO&REV";
    auto step = [&](const char* script, const std::string& argument) {
        return RunProgram("cmd.exe /c \"\"" + folder + "\\" + script + "\" " + argument + "\"");
    };
    const std::string none = "no device node would be removed\r\n";

    CheckRun(step("detect.cmd", "\"" + identifier + "\""), none, "", 0, "detection, nothing there");
    using namespace std::string_literals;
    const std::string first = CreateNode(kUsbClass, "HWPT_FL_A", kNarrow, "HWPT_FL\\KIVO&REV_01\0"s);
    const std::string second = CreateNode(kUsbClass, "HWPT_FL_B", kNarrow, "hwpt_fl\\kivo&rev_02&mi_00\0"s);
    const std::string other = CreateNode(kUsbClass, "HWPT_FL_C", kNarrow, "HWPT_FL\\KIVO_REV\0"s);

    const Run detected = step("detect.cmd", "\"" + identifier + "\"");
    Check(detected.exitCode == 1, "detection with two nodes: exit status " + std::to_string(detected.exitCode));
    Check(detected.out.find("2 device nodes would be removed\r\n") != std::string::npos,
          "detection does not list the two nodes: " + detected.out);
    Check(Listed(ListNodes(), first) && Listed(ListNodes(), second), "the detection step removed nodes");

    CheckRun(
        step("remediate.cmd", "\"" + identifier + "\""),
        std::string(kBanner) + RemovalLine("HWPT_FL\\KIVO&REV_01") + RemovalLine("hwpt_fl\\kivo&rev_02&mi_00") + none,
        "", 0, "remediation");
    const std::vector<Node> after = ListNodes();
    Check(!Listed(after, first) && !Listed(after, second) && Listed(after, other),
          "the remediation did not remove exactly the matching nodes");
    CheckRun(step("detect.cmd", "\"" + identifier + "\""), none, "", 0, "detection after the remediation");
    // The script passes an empty argument on, which the preview refuses.
    CheckRun(step("detect.cmd", ""), "",
             "hwpurge-preview: the hardware ID is empty; it would match every device node\r\n", 2,
             "detection without a hardware ID");

    g_program = preview;
    for (const auto& file : files) {
        DeleteFileA((folder + "\\" + file[1]).c_str());
    }
    RemoveDirectoryA(folder.c_str());
}

// The built file: its version record and its manifest. Each program names
// itself in its record.
void CaseResources()
{
    const std::string fileName = g_program.substr(g_program.find_last_of('\\') + 1);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(g_program.c_str(), &ignored);
    Check(size != 0, fileName + " has no version record");
    if (size != 0) {
        std::vector<BYTE> info(size);
        GetFileVersionInfoA(g_program.c_str(), 0, size, info.data());
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        Check(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed != nullptr,
              "no fixed version part");
        if (fixed != nullptr) {
            Check(fixed->dwFileVersionMS == HWPURGE_VERSION_MS && fixed->dwFileVersionLS == HWPURGE_VERSION_LS,
                  "fixed file version is not " HWPURGE_VERSION);
            Check(fixed->dwProductVersionMS == HWPURGE_VERSION_MS && fixed->dwProductVersionLS == HWPURGE_VERSION_LS,
                  "fixed product version is not " HWPURGE_VERSION);
        }
        struct {
            WORD language;
            WORD codePage;
        }* translation = nullptr;
        UINT translationSize = 0;
        VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                       &translationSize);
        Check(translation != nullptr && translationSize >= 4, "no translation in the version record");
        if (translation != nullptr) {
            char block[64];
            snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
            const struct {
                const char* name;
                const char* value;  // nullptr: must be absent
            } strings[] = {
                {"FileVersion", HWPURGE_VERSION}, {"ProductVersion", HWPURGE_VERSION},
                {"ProductName", "hwpurge"},       {"OriginalFilename", fileName.c_str()},
                {"CompanyName", nullptr},
            };
            for (const auto& s : strings) {
                char* value = nullptr;
                UINT valueSize = 0;
                const bool found = VerQueryValueA(info.data(), (std::string(block) + s.name).c_str(),
                                                  reinterpret_cast<void**>(&value), &valueSize) &&
                                   value != nullptr;
                if (s.value == nullptr) {
                    Check(!found || value[0] == '\0', std::string("the version record names a ") + s.name);
                } else {
                    Check(found && strcmp(value, s.value) == 0,
                          std::string(s.name) + " is " + (found ? value : "absent") + ", expected " + s.value);
                }
            }
        }
    }

    HMODULE image = LoadLibraryExA(g_program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = image ? FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) : nullptr;
    Check(found != nullptr, fileName + " has no application manifest");
    if (found != nullptr) {
        const char* text = static_cast<const char*>(LockResource(LoadResource(image, found)));
        const std::string manifest(text, SizeofResource(image, found));
        Check(manifest.find("<assembly") != std::string::npos, "the manifest is not an assembly manifest");
        Check(manifest.find("requestedExecutionLevel") == std::string::npos,
              "the manifest requests an execution level");
        Check(manifest.find("activeCodePage") == std::string::npos, "the manifest sets a code page");
    }
    if (image != nullptr) {
        FreeLibrary(image);
    }
}

std::string WindowsPath(const std::string& path)
{
    // Wine maps the Unix root to drive Z:.
    std::string windows = path[0] == '/' ? "Z:" + path : path;
    for (char& c : windows) {
        c = c == '/' ? '\\' : c;
    }
    return windows;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr,
                "usage: wine_check <case> <hwpurge.exe> [code page of the identifier, ANSI code page, removed|kept]\n");
        return 2;
    }
    const std::string which = argv[1];
    g_program = WindowsPath(argv[2]);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    g_scratch = std::string(temp) + "hwpurge-" + which + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(g_scratch.c_str(), nullptr);

    if (which == "usage") {
        CaseUsage();
    } else if (which == "quoting") {
        CaseQuoting();
    } else if (which == "empty") {
        CaseEmpty();
    } else if (which == "removal") {
        CaseRemoval();
    } else if (which == "zero-bytes") {
        CaseZeroBytes();
    } else if (which == "full-width" && argc == 6) {
        CaseFullWidth(static_cast<UINT>(atoi(argv[3])), static_cast<UINT>(atoi(argv[4])),
                      strcmp(argv[5], "removed") == 0);
    } else if (which == "preview" && argc == 5) {
        CasePreview(WindowsPath(argv[3]), static_cast<UINT>(atoi(argv[4])));
    } else if (which == "fleet" && argc == 5) {
        CaseFleet(WindowsPath(argv[3]), WindowsPath(argv[4]));
    } else if (which == "resources") {
        CaseResources();
    } else {
        fprintf(stderr, "wine_check: unknown case or wrong arguments: %s\n", which.c_str());
        return 2;
    }
    DeleteFileA((g_scratch + "\\stdout.bin").c_str());
    DeleteFileA((g_scratch + "\\stderr.bin").c_str());
    RemoveDirectoryA(g_scratch.c_str());
    printf("%s: %s\n", which.c_str(), g_failures == 0 ? "passed" : "FAILED");
    return g_failures == 0 ? 0 : 1;
}
