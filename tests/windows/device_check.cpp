// Runs hwpurge.exe and hwpurge-preview.exe against the SetupAPI of the
// machine it runs on, Wine's or Windows' own. Each case makes the device
// nodes it needs (see test_nodes.h), starts a program with an exact command
// line, and checks the bytes it wrote, its exit status and the nodes left,
// enumerated afresh. Every identifier handed to a program begins with the
// run's own prefix (but the empty one, handed to hwpurge.exe on Wine alone),
// and a decoy node that a careless identifier would match must outlive every
// program run.
//
// usage: device_check <case> <hwpurge.exe> <hwpurge-preview.exe> [case arguments]
//   all <folder of the fleet scripts>   every case that holds on Windows
//   usage | quoting | empty | removal | zero-bytes | resources
//   preview <ANSI code page> | fleet <folder of detect.cmd and remediate.cmd>
//   full-width <identifier code page> <ANSI code page> removed|kept
//   leftovers                           a run's nodes go when it ends, dies or gets Ctrl+Break
//
// Where Wine answers otherwise than Windows, a check states what Windows must
// answer and expects Wine's own answer only on Wine, as Wine's todo_wine does.
#include "tests/windows/run_capture.h"
#include "tests/windows/test_nodes.h"
// The configuration manager, for what hwpurge-preview says of presence.
#include <cfgmgr32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using checkrun::Run;
using testnodes::Property;

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

// `windows` is what Windows answers; on Wine the check expects `wine`.
void CheckTodoWine(bool windows, bool wine, const std::string& what)
{
    Check(testnodes::OnWine() ? wine : windows, what);
}

void CheckBytes(const std::string& seen, const std::string& expected, const std::string& what)
{
    if (seen != expected) {
        ++g_failures;
        printf("FAIL: %s\n--- expected:\n%s\n--- seen:\n%s\n---\n", what.c_str(), Printable(expected).c_str(),
               Printable(seen).c_str());
    }
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

// ---------------------------------------------------------------------------
// Device nodes

struct Node {
    std::string instanceId;
    bool hasHardwareIds;
    std::wstring hardwareIds;  // REG_MULTI_SZ as stored, without the list's final NUL
};

using testnodes::kCheckClass;
using testnodes::kHidClass;
using testnodes::kPortsClass;
using testnodes::kSystemClass;
using testnodes::kUsbClass;

// Makes a node (see testnodes::MakeNode) whose hardware-ID list is `ids`, a
// REG_MULTI_SZ body (entries each with their NUL) without the closing NUL.
// Returns its instance ID, or "" after reporting a failure.
std::string CreateNode(const GUID& setupClass, const char* name, Property kind, const std::string& ids,
                       const testnodes::Details* details = nullptr)
{
    std::string why;
    const std::string id = testnodes::MakeNode(setupClass, name, kind, ids + '\0', &why, details);
    Check(!id.empty(), why);
    return id;
}

std::string CreateWideNode(const GUID& setupClass, const char* name, const std::wstring& ids)
{
    const std::wstring list = ids + L'\0';
    std::string bytes(reinterpret_cast<const char*>(list.data()), list.size() * sizeof(wchar_t));
    std::string why;
    const std::string id = testnodes::MakeNode(setupClass, name, Property::kWide, bytes, &why);
    Check(!id.empty(), why);
    return id;
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

const Node* Find(const std::vector<Node>& nodes, const std::string& instanceId)
{
    for (const Node& node : nodes) {
        if (node.instanceId == instanceId) {
            return &node;
        }
    }
    return nullptr;
}

bool Listed(const std::vector<Node>& nodes, const std::string& instanceId)
{
    return Find(nodes, instanceId) != nullptr;
}

// Whether a hardware ID of `node` holds the text every identifier of a
// check run begins with, so that a program run here could have matched it.
bool MatchableHere(const Node& node)
{
    std::wstring ids = node.hardwareIds;
    for (wchar_t& c : ids) {
        c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    const std::string prefix = testnodes::kIdPrefix;
    return ids.find(std::wstring(prefix.begin(), prefix.end() - 1)) != std::wstring::npos;
}

// Checks that the nodes listed now are those of `before` less exactly
// `gone`, each with the hardware IDs it had. A node that appeared meanwhile
// is only noted: a real machine may gain one at any time. So is one of the
// machine's own that went or changed, when none of its hardware IDs could
// match an identifier of a check run: the runner's own devices come and go.
void CheckLeft(const std::vector<Node>& before, const std::vector<std::string>& gone, const std::string& what)
{
    const std::vector<Node> after = ListNodes();
    for (const Node& node : before) {
        bool expectGone = false;
        for (const std::string& id : gone) {
            expectGone = expectGone || id == node.instanceId;
        }
        const Node* now = Find(after, node.instanceId);
        const bool same =
            now != nullptr && now->hasHardwareIds == node.hasHardwareIds && now->hardwareIds == node.hardwareIds;
        if (expectGone) {
            Check(now == nullptr, what + ": " + node.instanceId + " is still there");
        } else if (!same && !testnodes::IsCheckNode(node.instanceId.c_str()) && !MatchableHere(node) &&
                   (now == nullptr || !MatchableHere(*now))) {
            printf("note: %s: %s, a node of the machine's own that no identifier here can match, %s meanwhile\n",
                   what.c_str(), node.instanceId.c_str(), now == nullptr ? "went" : "changed its hardware IDs");
        } else {
            Check(now != nullptr, what + ": " + node.instanceId + " was removed");
            Check(now == nullptr || same, what + ": the hardware IDs of " + node.instanceId + " changed");
        }
    }
    for (const Node& node : after) {
        if (!Listed(before, node.instanceId)) {
            printf("note: %s: %s appeared meanwhile\n", what.c_str(), node.instanceId.c_str());
        }
    }
}

// ---------------------------------------------------------------------------
// Running the programs

std::string g_hwpurge;  // hwpurge.exe as a Windows path
std::string g_preview;  // hwpurge-preview.exe
std::string g_scratch;  // folder for the captured output
// The node a careless identifier would match ("" once a run removed it), and
// how many runs left it in place.
std::string g_decoy;
int g_runsBesideDecoy = 0;

// After a removal hwpurge reads the node's install parameters and the set's
// own ("SetupDiGetDeviceInstallParamsA function": no member, the set's
// parameters). Wine has neither for a removed member and refuses the set's
// with ERROR_INVALID_PARAMETER, so hwpurge reports that once a run and says
// that Windows did not say whether a restart is needed. Windows must not:
// those lines are taken out of standard error on Wine alone, the way Wine
// marks a test todo_wine.
std::string WithoutWinesInstallParamsLines(const std::string& err)
{
    if (!testnodes::OnWine()) {
        return err;
    }
    std::string kept;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        end = end == std::string::npos ? err.size() - 1 : end;
        const std::string line = err.substr(start, end + 1 - start);
        const bool report = line.rfind("hwpurge: GetDeviceInstallParams(set) failed with error 87", 0) == 0;
        const bool unknown = line.rfind("hwpurge: ", 0) == 0 &&
                             line.find(" may be removed only when Windows restarts\r\n") != std::string::npos;
        kept += report || unknown ? "" : line;
        start = end + 1;
    }
    return kept;
}

// Runs `program` with exactly `commandLine` (see checkrun::RunCaptured), and
// checks that the decoy outlived the run.
Run RunProgram(const std::string& program, const std::string& commandLine, DWORD timeoutMs = 60000)
{
    Run run = checkrun::RunCaptured(program, commandLine, g_scratch, "", timeoutMs);
    run.err = WithoutWinesInstallParamsLines(run.err);
    Check(run.started, run.why);
    if (!g_decoy.empty() && Listed(ListNodes(), g_decoy)) {
        ++g_runsBesideDecoy;
    } else if (!g_decoy.empty()) {
        Check(false, "the decoy " + g_decoy + " was removed by: " + commandLine);
        g_decoy.clear();
    }
    return run;
}

// The lines of a program's text output, without their line breaks.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// A last-error code as the programs write it, with the system's text.
std::string CodeText(DWORD code)
{
    char number[16];
    if (code >= 0x10000) {
        snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
    } else {
        snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(code));
    }
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string said = std::string("error ") + number;
    if (text != nullptr) {
        std::string trimmed = text;
        while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == '\n' || trimmed.back() == ' ')) {
            trimmed.pop_back();
        }
        said += " (" + trimmed + ")";
        LocalFree(text);
    }
    return said;
}

// The error a read of the node's hardware IDs meets, made as the programs
// make it (the size, then the list in a buffer of that size); 0 when the
// node has the list or none at all.
DWORD HardwareIdReadError(HDEVINFO set, SP_DEVINFO_DATA* data)
{
    DWORD required = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID, nullptr, nullptr, 0, &required)) {
        return 0;
    }
    DWORD error = GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER && required > 0) {
        std::vector<BYTE> list(required);
        error =
            SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID, nullptr, list.data(), required, &required)
                ? 0
                : GetLastError();
    }
    return error == ERROR_INVALID_DATA || error == ERROR_INSUFFICIENT_BUFFER ? 0 : error;
}

// A pass ends, by design, at the first node whose hardware IDs cannot be
// read, and a node of the runner's own can be one. When a program said so
// on standard error, names the nodes this SetupAPI fails such a read for,
// and the code, so that the log says what Windows answered.
void SayWhereThePassEnded(const std::string& err, const std::string& what)
{
    const bool ended = err.find("GetDeviceRegistryProperty failed with error") != std::string::npos ||
                       err.find("EnumDeviceInfo failed with error") != std::string::npos;
    // The preview counts every node's driver package, which needs every
    // driver key readable: say which of the machine's are not.
    const bool uncounted = err.find("OpenDevRegKey(DRV) failed") != std::string::npos ||
                           err.find("RegQueryValueEx(InfPath) failed") != std::string::npos;
    if (!ended && !uncounted) {
        return;
    }
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        Check(false, what + ": the pass ended early, and listing the nodes fails with " + CodeText(GetLastError()));
        return;
    }
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    int named = 0;
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        char id[kMaxInstanceId] = "";
        SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr);
        HKEY key = uncounted ? SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE)
                             : static_cast<HKEY>(INVALID_HANDLE_VALUE);
        const DWORD keyError = uncounted && key == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        DWORD size = 0;
        const LSTATUS infError = key != INVALID_HANDLE_VALUE
                                     ? RegQueryValueExA(key, "InfPath", nullptr, nullptr, nullptr, &size)
                                     : ERROR_SUCCESS;
        if (key != INVALID_HANDLE_VALUE) {
            RegCloseKey(key);
        }
        if ((keyError != ERROR_SUCCESS && keyError != ERROR_KEY_DOES_NOT_EXIST) ||
            (infError != ERROR_SUCCESS && infError != ERROR_FILE_NOT_FOUND)) {
            printf("note: %s: %s: its driver key %s %s\n", what.c_str(), id,
                   keyError != ERROR_SUCCESS ? "cannot be opened:" : "gives no InfPath:",
                   CodeText(keyError != ERROR_SUCCESS ? keyError : static_cast<DWORD>(infError)).c_str());
        }
        const DWORD error = ended ? HardwareIdReadError(set, &data) : 0;
        if (error != 0) {
            Check(false, what + ": the pass ended at member " + std::to_string(index) + ", " + id +
                             (testnodes::IsCheckNode(id) ? "" : " (a node of this machine's own)") +
                             ": reading its hardware IDs fails with " + CodeText(error) +
                             "; hwpurge ends its pass at such a node by design, so later nodes were not examined");
            ++named;
        }
    }
    const DWORD enumError = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    if (enumError != ERROR_NO_MORE_ITEMS) {
        Check(false, what + ": enumerating the nodes ends at member " + std::to_string(index) + " with " +
                         CodeText(enumError));
    } else if (ended && named == 0) {
        Check(false, what + ": the pass ended early, but every node's hardware IDs read cleanly now");
    }
}

void CheckRun(const Run& run, const std::string& out, const std::string& err, DWORD exitCode, const std::string& what)
{
    if (!run.started) {
        return;
    }
    Check(!run.timedOut, what + ": the program did not end in time");
    CheckBytes(run.out, out, what + ": standard output");
    CheckBytes(run.err, err, what + ": standard error");
    if (run.err != err) {
        SayWhereThePassEnded(run.err, what);
    }
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

// What this SetupAPI says of a node: class name, class GUID, its device
// instance handle and the configuration manager's answer for it.
struct Description {
    std::string className;  // "" when the node has none
    std::string classGuid;
    DEVINST devInst;
    CONFIGRET status;
};

Description Describe(const std::string& instanceId)
{
    Description description = {"", "", 0, CR_FAILURE};
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
        description.devInst = data.DevInst;
        description.status = CM_Get_DevNode_Status(&status, &problem, data.DevInst, 0);
    }
    SetupDiDestroyDeviceInfoList(set);
    return description;
}

// Checks a run of hwpurge.exe that removes `gone`, nodes of `before` in the
// order they are enumerated, and writes `out`. Windows asks a real setup
// class's installer to remove a node, and the installer may refuse one that
// was never installed; hwpurge then reports the refusal on standard error
// and goes on, by design. Off Wine, a node of a named class that stays, with
// one such report for each, is taken as refused: the check says what Windows
// answered and removes the node itself, so that the case can go on.
void CheckRemovalRun(const Run& run, const std::string& out, const std::vector<Node>& before,
                     const std::vector<std::string>& gone, const std::string& what)
{
    const std::vector<Node> after = ListNodes();
    std::vector<std::string> refused;
    for (const std::string& id : gone) {
        if (Listed(after, id)) {
            refused.push_back(id);
        }
    }
    const std::vector<std::string> reports = Lines(run.err);
    const std::string refusal = "hwpurge: CallClassInstaller(REMOVE) failed with error ";
    bool explained = !testnodes::OnWine() && !refused.empty() && reports.size() == refused.size();
    std::vector<std::string> classNames;
    for (size_t i = 0; explained && i < refused.size(); ++i) {
        classNames.push_back(Describe(refused[i]).className);
        explained = reports[i].compare(0, refusal.size(), refusal) == 0 && !classNames.back().empty() &&
                    reports[i].compare(refusal.size(), 2, "5:") != 0;
    }
    for (size_t i = 0; explained && i < refused.size(); ++i) {
        printf(
            "note: %s: Windows' %s class installer refused DIF_REMOVE of %s, a node never installed; "
            "hwpurge said so and went on: %s\n",
            what.c_str(), classNames[i].c_str(), refused[i].c_str(), reports[i].c_str());
        std::string why;
        Check(testnodes::RemoveNode(refused[i], &why), what + ": " + why);
    }
    CheckRun(run, out, explained ? run.err : "", 0, what);
    CheckLeft(before, gone, what);
}

// ---------------------------------------------------------------------------
// Cases

void CaseUsage()
{
    const std::string p = testnodes::IdPrefix();
    const std::string cases[][2] = {
        {"hwpurge.exe", "no argument"},
        {"hwpurge.exe   ", "no argument, trailing spaces"},
        {"hwpurge.exe " + p + "USAGE\\A " + p + "USAGE\\B", "two arguments"},
        {"hwpurge.exe " + p + "USAGE\\A\t" + p + "USAGE\\B", "two arguments split by a tab"},
    };
    for (const auto& c : cases) {
        CheckRun(RunProgram(g_hwpurge, c[0]), kUsage, "", 2, c[1]);
    }
    // Quotes group: one argument holding a space runs the pass (and finds
    // nothing, since no hardware ID holds that text).
    CheckRun(RunProgram(g_hwpurge, "hwpurge.exe \"" + p + "USAGE\\NO SUCH DEVICE\""), kBanner, "", 0,
             "one quoted argument");
}

// An identifier with a space reaches the program whole only when quoted.
// Each of its words begins with the run's prefix, so that unquoted it hands
// the program no other identifier either.
void CaseQuoting()
{
    const std::string p = testnodes::IdPrefix();
    const std::string entry = p + "QT\\KIVO " + p + "CAM";
    const std::string words = p + "qt\\kivo " + p + "ca";
    const std::string spaced = CreateNode(kCheckClass, "QT", Property::kNarrow, entry + '\0');
    CheckRun(RunProgram(g_hwpurge, "hwpurge.exe " + words), kUsage, "", 2, "unquoted identifier with a space");
    Check(Listed(ListNodes(), spaced), "the unquoted run removed the node");
    CheckRun(RunProgram(g_hwpurge, "hwpurge.exe \"" + words + "\""), std::string(kBanner) + RemovalLine(entry), "", 0,
             "quoted identifier with a space");
    Check(!Listed(ListNodes(), spaced), "the quoted run left the node");
}

// An empty argument, alone or second, would match every node. On a real
// machine a hwpurge.exe that stopped refusing it would remove every device,
// so off Wine it goes to hwpurge-preview.exe alone, which walks the nodes
// the same way and removes nothing.
void CaseEmpty()
{
    const std::string p = testnodes::IdPrefix();
    const std::string refused = "hwpurge: the hardware ID is empty; nothing was removed\r\n";
    const std::string previewRefused =
        "hwpurge-preview: the hardware ID is empty; it would match every device node\r\n";
    const std::string previewUsage =
        "usage: hwpurge-preview [--json | --summary | --unused-packages] <Hardware_ID>\r\n";
    const std::string second = "\"" + p + "USAGE\\A\" \"\"";
    const struct {
        bool hwpurge;  // Wine's only
        std::string arguments;
        std::string out;
        std::string err;
    } rows[] = {
        {true, "\"\"", "", refused},
        {true, "\"\"  ", "", refused},
        {true, second, kUsage, ""},
        {false, "\"\"", "", previewRefused},
        {false, "--json \"\"", "", previewRefused},
        {false, second, "", previewUsage},
    };
    const std::vector<Node> before = ListNodes();
    for (const auto& row : rows) {
        const std::string line = (row.hwpurge ? "hwpurge.exe " : "hwpurge-preview.exe ") + row.arguments;
        if (row.hwpurge && !testnodes::OnWine()) {
            printf("note: not handed to hwpurge.exe off Wine: %s\n", line.c_str());
            continue;
        }
        CheckRun(RunProgram(row.hwpurge ? g_hwpurge : g_preview, line), row.out, row.err, 2, line);
    }
    CheckLeft(before, {}, "empty argument");
}

struct Planned {
    const GUID* setupClass;
    const char* name;
    Property kind;
    std::string ids;    // REG_MULTI_SZ body
    std::string match;  // the entry the removal line names, or "" for a node that stays
    std::string instanceId;
};

void CaseRemoval()
{
    const std::string p = testnodes::IdPrefix();
    const std::string lp = Lower(p);
    const char nul = '\0';
    std::vector<Planned> plan = {
        {&kSystemClass, "RM_SECOND", Property::kNarrow, p + "RM\\OTHER_1" + nul + p + "RM\\KIVO_4100&REV_02" + nul,
         p + "RM\\KIVO_4100&REV_02", ""},
        {&kPortsClass, "RM_TWICE", Property::kNarrow, p + "RM\\KIVO_720&REV_01" + nul + p + "RM\\KIVO_720" + nul,
         p + "RM\\KIVO_720&REV_01", ""},
        {&kHidClass, "RM_CASE", Property::kNarrow, lp + "rm\\kivo_case" + nul, lp + "rm\\kivo_case", ""},
        {&kUsbClass, "RM_EXACT", Property::kNarrow, p + "RM\\KIVO_" + nul, p + "RM\\KIVO_", ""},
        {&kCheckClass, "RM_NOPROP", Property::kNone, "", "", ""},
        {&kCheckClass, "RM_SHORT", Property::kNarrow, p + "RM\\KIVO" + nul, "", ""},
        {&kSystemClass, "RM_NEAR", Property::kNarrow,
         p + "RM\\KIVX_1" + nul + "X" + p + "RM\\KIVO_1" + nul + p + "RM KIVO_1" + nul, "", ""},
        {&kPortsClass, "RM_ACCENT", Property::kNarrow, p + "RM\\KIVO_\xC4" + nul, p + "RM\\KIVO_\xC4", ""},
        // No class installer: SetupAPI's own handler removes it on any machine.
        {&kCheckClass, "RM_NOCLASS", Property::kNarrow, p + "RM\\KIVO_NOCLASS" + nul, p + "RM\\KIVO_NOCLASS", ""},
    };
    for (Planned& node : plan) {
        node.instanceId = CreateNode(*node.setupClass, node.name, node.kind, node.ids);
    }
    const std::vector<Node> before = ListNodes();

    // The expected lines follow the order in which SetupAPI enumerates.
    std::string expected = kBanner;
    std::vector<std::string> gone;
    size_t machineNodes = 0;
    for (const Node& node : before) {
        bool mine = false;
        for (const Planned& planned : plan) {
            if (planned.instanceId == node.instanceId) {
                mine = true;
                Check(node.hasHardwareIds == (planned.kind != Property::kNone),
                      std::string("node ") + planned.name + " does not have the hardware-ID property it was given");
                if (!planned.match.empty()) {
                    expected += RemovalLine(planned.match);
                    gone.push_back(planned.instanceId);
                }
            }
        }
        machineNodes += mine ? 0 : 1;
    }
    for (const Planned& planned : plan) {
        Check(!planned.instanceId.empty() && Listed(before, planned.instanceId),
              std::string("node ") + planned.name + " is not listed before the run");
    }
    Check(machineNodes > 0, "the machine's own device nodes are not listed");

    // Mixed case after the prefix; the backslash is not before a quote, so
    // it reaches the program as it stands.
    CheckRemovalRun(RunProgram(g_hwpurge, "hwpurge.exe " + p + "Rm\\kivo_"), expected, before, gone, "removal run");

    const std::vector<Node> after = ListNodes();
    CheckRun(RunProgram(g_hwpurge, "hwpurge.exe " + p + "RM\\KIVO_"), kBanner, "", 0, "second run");
    CheckLeft(after, {}, "second run");
}

void CaseZeroBytes()
{
    const std::string p = testnodes::IdPrefix();
    const std::string empty = CreateNode(kSystemClass, "ZB_0EMPTY", Property::kZeroBytes, "");
    const std::string next = CreateNode(kCheckClass, "ZB_1NEXT", Property::kNarrow, p + "ZB\\NEXT" + '\0');

    // Say what this SetupAPI answers for the empty property, so a log shows
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
            // Windows clears the property on a zero-byte write, so the node
            // has none. Wine keeps zero bytes and answers "too small, 0
            // bytes": the answer that once hung the pass.
            CheckTodoWine(!read && error == ERROR_INVALID_DATA,
                          !read && error == ERROR_INSUFFICIENT_BUFFER && required == 0,
                          "the zero-byte property is answered otherwise than expected");
        }
        if (next == id) {
            nextAt = index + 1;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    Check(emptyAt != 0 && nextAt != 0, "the two nodes are not both enumerated");
    // The run below meets the empty property before the next node only if it
    // comes first, as Wine lists them (their names are chosen for it); the
    // answer that hung the pass is Wine's. Windows documents no order.
    if (testnodes::OnWine()) {
        Check(nextAt > emptyAt, "Wine does not enumerate the empty node before the next one");
    }

    CheckRun(RunProgram(g_hwpurge, "hwpurge.exe " + p + "ZB\\", 20000),
             std::string(kBanner) + RemovalLine(p + "ZB\\NEXT"), "", 0, "zero-byte hardware IDs");
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
    const std::string narrowPrefix = testnodes::IdPrefix() + "FW" + std::to_string(expectedAcp) + "\\";
    const std::wstring prefix(narrowPrefix.begin(), narrowPrefix.end());
    const std::wstring entry = prefix + L"\xFF4B\xFF49\xFF56\xFF4F_\xFF44\xFF45\xFF56";  // ｋｉｖｏ_ｄｅｖ
    const std::wstring capitals = prefix + L"\xFF2B\xFF29\xFF36\xFF2F";                  // ＫＩＶＯ
    const std::string name = "FW" + std::to_string(expectedAcp);
    const std::string instanceId = CreateWideNode(kCheckClass, name.c_str(), entry + L'\0');

    char identifier[128] = "";
    const int length = WideCharToMultiByte(identifierCodePage, 0, capitals.c_str(), -1, identifier, sizeof identifier,
                                           nullptr, nullptr);
    Check(length == static_cast<int>(prefix.size() + 4 * 2 + 1),
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
    CheckRun(RunProgram(g_hwpurge, std::string("hwpurge.exe ") + identifier), expected, "", 0,
             "full-width identifier in code page " + std::to_string(GetACP()));
    Check(Listed(ListNodes(), instanceId) != expectRemoved,
          expectRemoved ? "the full-width node is still there" : "the full-width node was removed");
}

std::string JsonText(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    }
    return quoted + "\"";
}

// One character beyond ASCII in the ANSI code page, as its bytes: 0xC4
// (A-umlaut in 1252) in a single-byte code page; in a double-byte one, where
// 0xC4 may be a lead byte, the code page's two bytes for a full-width small k
// (0x82 0x8B in 932).
std::string NonAsciiCharacter()
{
    CPINFO info = {};
    if (GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1) {
        return "\xC4";
    }
    char bytes[4] = "";
    BOOL defaulted = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\xFF4B", 1, bytes, sizeof bytes, nullptr, &defaulted);
    Check(length == 2 && !defaulted && IsDBCSLeadByte(static_cast<BYTE>(bytes[0])),
          "code page " + std::to_string(GetACP()) + " has no two-byte full-width small k");
    return std::string(bytes, length > 0 ? static_cast<size_t>(length) : 0);
}

// `ansi` in UTF-8, as the system converts it, which is what the JSON gives.
std::string AnsiToUtf8(const std::string& ansi)
{
    wchar_t wide[16];
    const int wides =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), static_cast<int>(ansi.size()), wide, 16);
    char utf8[64];
    const int length =
        wides > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, wides, utf8, sizeof utf8, nullptr, nullptr) : 0;
    Check(length > 0, "the ANSI code page does not convert " + Printable(ansi));
    return std::string(utf8, length > 0 ? static_cast<size_t>(length) : 0);
}

// hwpurge-preview.exe lists the nodes a run of hwpurge.exe would remove,
// removes none of them, and finds none once hwpurge.exe removed them.
void CasePreview(UINT codePage)
{
    const std::string p = testnodes::IdPrefix();
    const char nul = '\0';
    // Names, a manufacturer and a driver package, as an installed driver
    // leaves them; one package is shared by two listed nodes and one that is
    // not listed.
    // Windows keeps a node's manufacturer for itself (SPDRP_MFG cannot be
    // set through SetupAPI there); Wine lets the check set it.
    const bool manufacturer = testnodes::OnWine();
    const testnodes::Details port = {"HWPURGE check port", nullptr,         manufacturer ? "HWPURGE check" : nullptr,
                                     "hwpurge-check.inf",  "HWPURGE check", "1.2.3.4",
                                     "12-8-2026"};
    const testnodes::Details device = {
        nullptr, "HWPURGE check device", nullptr, "hwpurge-check.inf", "HWPURGE check", "1.2.3.4", "12-8-2026"};
    const std::string namedPort = std::string(" \"HWPURGE check port\"") + (manufacturer ? " by HWPURGE check" : "") +
                                  ", driver package hwpurge-check.inf (HWPURGE check, 1.2.3.4, 12-8-2026)";
    const std::string namedDevice =
        " \"HWPURGE check device\", driver package hwpurge-check.inf (HWPURGE check, 1.2.3.4, 12-8-2026)";
    const std::string package =
        "{\"inf\":\"hwpurge-check.inf\",\"provider\":\"HWPURGE check\","
        "\"version\":\"1.2.3.4\",\"date\":\"12-8-2026\"}";
    const std::string portJson = std::string(",\"name\":\"HWPURGE check port\",\"manufacturer\":") +
                                 (manufacturer ? "\"HWPURGE check\"" : "null") + ",\"driver\":" + package;
    struct {
        const GUID* setupClass;
        const char* name;
        std::string ids;
        std::string match;      // or "" for a node that is not listed
        std::string jsonMatch;  // the same in UTF-8
        std::string instanceId;
        const testnodes::Details* details;
        std::string textDetails;  // what the text line says of them
        std::string jsonDetails;  // ...and the JSON
        std::string summaryName;  // ...and the summary
    } plan[] = {
        {&kPortsClass, "PV_SECOND", p + "PV\\OTHER" + nul + p + "PV\\KIVO_4100" + nul, p + "PV\\KIVO_4100",
         p + "PV\\KIVO_4100", "", &port, namedPort, portJson, " \"HWPURGE check port\""},
        {&kUsbClass, "PV_CASE", Lower(p) + "pv\\kivo_720" + nul, Lower(p) + "pv\\kivo_720", Lower(p) + "pv\\kivo_720",
         "", &device, namedDevice, ",\"name\":\"HWPURGE check device\",\"manufacturer\":null,\"driver\":" + package,
         " \"HWPURGE check device\""},
        // A character beyond ASCII, which the JSON gives in UTF-8. Its class
        // is unknown to the machine, so it has no name, and no driver key.
        {&kCheckClass, "PV_ACCENT", "", "", "", "", nullptr, " no name, no driver package",
         ",\"name\":null,\"manufacturer\":null,\"driver\":null", ""},
        {&kHidClass, "PV_NOT", p + "PV\\KIV" + nul, "", "", "", &device, "", "", ""},
    };
    const std::string beyondAscii = NonAsciiCharacter();
    plan[2].match = p + "PV\\KIVO_" + beyondAscii;
    plan[2].ids = plan[2].match + nul;
    plan[2].jsonMatch = p + "PV\\KIVO_" + AnsiToUtf8(beyondAscii);
    Check(GetACP() == codePage, "the ANSI code page is " + std::to_string(GetACP()));
    for (auto& node : plan) {
        node.instanceId = CreateNode(*node.setupClass, node.name, Property::kNarrow, node.ids, node.details);
    }
    const std::vector<Node> before = ListNodes();

    std::string text;
    std::string json = "{\"identifier\":" + JsonText(p + "PV\\KIVO_") + ",\"devices\":[";
    std::string summary = p + "PV\\KIVO_: 3 device nodes would be removed";
    std::string removalOut = kBanner;
    std::vector<std::string> gone;
    std::vector<DEVINST> handles;
    for (const Node& node : before) {
        for (const auto& planned : plan) {
            if (planned.instanceId != node.instanceId || planned.match.empty()) {
                continue;
            }
            const Description d = Describe(node.instanceId);
            printf("note: %s: class \"%s\" %s, CM_Get_DevNode_Status answers 0x%02lX\n", node.instanceId.c_str(),
                   d.className.c_str(), d.classGuid.c_str(), static_cast<unsigned long>(d.status));
            // Only "no such device instance" is "not present"; any other
            // failure would be a state the preview cannot give.
            const bool present = d.status == CR_SUCCESS;
            Check(present || d.status == CR_NO_SUCH_DEVINST,
                  node.instanceId + ": the configuration manager answers neither success nor CR_NO_SUCH_DEVINST");
            summary += (gone.empty() ? ": " : ", ") + node.instanceId + planned.summaryName;
            text += "[" + planned.match + "] " + node.instanceId + " (class";
            text += d.className.empty() ? "" : " " + d.className;
            text += d.classGuid.empty() ? "" : " " + d.classGuid;
            text += (present ? ", present)" : ", not present)") + planned.textDetails + "\r\n";
            json += gone.empty() ? "{" : ",{";
            json += "\"hardwareId\":" + JsonText(planned.jsonMatch) + ",\"instanceId\":" + JsonText(node.instanceId) +
                    ",\"class\":" + (d.className.empty() ? "null" : JsonText(d.className)) +
                    ",\"classGuid\":" + (d.classGuid.empty() ? "null" : JsonText(d.classGuid)) +
                    ",\"present\":" + (present ? "true" : "false") + ",\"waitingForRestart\":false" +
                    planned.jsonDetails + "}";
            removalOut += RemovalLine(planned.match);
            gone.push_back(node.instanceId);
            handles.push_back(d.devInst);
        }
    }
    text +=
        "driver package hwpurge-check.inf (HWPURGE check, 1.2.3.4, 12-8-2026): used by 2 listed nodes and 1 other "
        "node\r\n3 device nodes would be removed\r\n";
    json += "],\"driverPackages\":[" + package.substr(0, package.size() - 1) +
            ",\"listedNodes\":2,\"otherNodes\":1}],\"complete\":true,\"detailsComplete\":true,\"failures\":[]}\r\n";
    Check(gone.size() == 3, "the planned nodes are not enumerated");

    CheckRun(RunProgram(g_preview, "hwpurge-preview.exe " + p + "PV\\KIVO_"), text, "", 1, "preview");
    CheckRun(RunProgram(g_preview, "hwpurge-preview.exe --json " + p + "PV\\KIVO_"), json, "", 1, "preview --json");
    CheckRun(RunProgram(g_preview, "hwpurge-preview.exe --summary " + p + "PV\\KIVO_"), summary + "\r\n", "", 1,
             "preview --summary");
    // hwpurge-check.inf is no third-party package name, and a node that is
    // not listed uses it.
    CheckRun(RunProgram(g_preview, "hwpurge-preview.exe --unused-packages " + p + "PV\\KIVO_"), "", "", 1,
             "preview --unused-packages");
    CheckLeft(before, {}, "the preview");

    CheckRemovalRun(RunProgram(g_hwpurge, "hwpurge.exe " + p + "PV\\KIVO_"), removalOut, before, gone,
                    "hwpurge.exe after the preview");
    CheckRun(RunProgram(g_preview, "hwpurge-preview.exe " + p + "PV\\KIVO_"), "no device node would be removed\r\n", "",
             0, "preview after the removal");

    // Windows documents this call as reading the status from the node's
    // devnode in the device tree, with an error code for anything else, so
    // a node that is gone is "not present". This Wine answers CR_SUCCESS
    // for every handle, one that names no node included, so under Wine
    // every listed node is "present". Should that change, docs/fleet.md
    // must say so too.
    ULONG status = 0;
    ULONG problem = 0;
    for (DEVINST handle : handles) {
        const CONFIGRET removed = CM_Get_DevNode_Status(&status, &problem, handle, 0);
        printf("note: CM_Get_DevNode_Status on the handle of a removed node answers 0x%02lX\n",
               static_cast<unsigned long>(removed));
        CheckTodoWine(removed != CR_SUCCESS, removed == CR_SUCCESS,
                      "CM_Get_DevNode_Status answers a removed node's handle with " + std::to_string(removed));
    }
    const CONFIGRET none = CM_Get_DevNode_Status(&status, &problem, 0x7FFF, 0);
    printf("note: CM_Get_DevNode_Status on a handle no node has answers 0x%02lX\n", static_cast<unsigned long>(none));
    CheckTodoWine(none != CR_SUCCESS, none == CR_SUCCESS,
                  "CM_Get_DevNode_Status answers a handle that names no node with " + std::to_string(none));
}

// The fleet scripts (examples/fleet) run by cmd.exe from a folder that
// holds them and both programs, as an engine deploys them: the detection
// step's status before and after the remediation step, and what they write.
// The last line a program wrote, without its line break.
std::string LastLine(const std::string& out)
{
    std::string text = out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    const size_t start = text.find_last_of('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

// The PowerShell pair in `folder` (beside both programs) under `shell`:
// powershell.exe (Windows PowerShell 5.1) or pwsh.exe (PowerShell 7), with
// the exit statuses and summary lines Intune and the app deployments read.
void CheckPowerShellPair(const std::string& shell, const std::string& folder, const char* tag)
{
    const std::string p = testnodes::IdPrefix();
    const std::string identifier = p + tag + "\\KIVO&REV";
    const std::string head = identifier + ": ";
    auto script = [&](const char* name, const std::string& arguments) {
        return RunProgram(shell, "\"" + shell + "\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"" +
                                     folder + "\\" + name + "\" -ProgramFolder \"" + folder + "\" " + arguments);
    };
    const std::string id = "-HardwareId \"" + identifier + "\"";
    const std::string what = shell + " " + tag;
    const std::string none = head + "no device node would be removed\r\n";
    CheckRun(script("detect.ps1", id), none, "", 0, what + ": detection, nothing there");
    const std::string first =
        CreateNode(kCheckClass, (std::string(tag) + "_A").c_str(), Property::kNarrow, identifier + "_01" + '\0');
    const std::string second = CreateNode(kCheckClass, (std::string(tag) + "_B").c_str(), Property::kNarrow,
                                          Lower(identifier) + "_02&mi_00" + '\0');
    const std::string other =
        CreateNode(kCheckClass, (std::string(tag) + "_C").c_str(), Property::kNarrow, p + tag + "\\KIVO_REV" + '\0');

    const Run detected = script("detect.ps1", id);
    const std::string line = LastLine(detected.out);
    Check(detected.exitCode == 1 && line.rfind(head + "2 device nodes would be removed: ", 0) == 0 &&
              line.find(first) != std::string::npos && line.find(second) != std::string::npos,
          what + ": detection with two nodes: status " + std::to_string(detected.exitCode) + ", " + Printable(line) +
              ", standard error " + Printable(detected.err));
    CheckRun(script("detect.ps1", id + " -Mode Application"), "", "", 0, what + ": an app's detection, not installed");
    Check(Listed(ListNodes(), first) && Listed(ListNodes(), second), what + ": the detection removed nodes");

    const Run remedied = script("remediate.ps1", id);
    Check(remedied.exitCode == 0 && remedied.out.rfind(kBanner, 0) == 0 && LastLine(remedied.out) + "\r\n" == none,
          what + ": remediation: status " + std::to_string(remedied.exitCode) + ", " + Printable(remedied.out) +
              ", standard error " + Printable(remedied.err));
    const std::vector<Node> after = ListNodes();
    Check(!Listed(after, first) && !Listed(after, second) && Listed(after, other),
          what + ": the remediation did not remove exactly the matching nodes");
    CheckRun(script("detect.ps1", id), none, "", 0, what + ": detection afterwards");
    CheckRun(script("detect.ps1", id + " -Mode Application"), none, "", 0,
             what + ": an app's detection afterwards, installed");
    // The script as shipped names no hardware ID: it must not run.
    CheckRun(script("detect.ps1", ""), "",
             "detect.ps1: cannot run: no hardware ID (set the default of -HardwareId in this script, or pass "
             "-HardwareId)\r\n",
             2, what + ": detection without a hardware ID");
}

void CaseFleet(const std::string& scripts)
{
    const std::string folder = g_scratch + "\\fleet";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string files[][2] = {{g_preview, "hwpurge-preview.exe"},
                                    {g_hwpurge, "hwpurge.exe"},
                                    {scripts + "\\detect.cmd", "detect.cmd"},
                                    {scripts + "\\remediate.cmd", "remediate.cmd"}};
    for (const auto& file : files) {
        Check(CopyFileA(file[0].c_str(), (folder + "\\" + file[1]).c_str(), FALSE) != FALSE, "cannot copy " + file[0]);
    }
    char systemFolder[MAX_PATH] = "";
    GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    const std::string cmd = std::string(systemFolder) + "\\cmd.exe";
    // The identifier holds an ampersand: only the quotes keep it whole.
    const std::string p = testnodes::IdPrefix();
    const std::string identifier = p + "FL\\KIVO&REV";
    auto step = [&](const char* script, const std::string& argument) {
        return RunProgram(cmd, "cmd.exe /c \"\"" + folder + "\\" + script + "\" " + argument + "\"");
    };
    const std::string none = identifier + ": no device node would be removed\r\n";
    const std::string refused = "hwpurge-preview: the hardware ID is empty; it would match every device node\r\n";

    CheckRun(step("detect.cmd", "\"" + identifier + "\""), none, "", 0, "detection, nothing there");
    // An ID that ends in a backslash reaches the preview whole, not as ...FL"
    // (the C runtime reads a backslash before a quote as escaping it).
    CheckRun(step("detect.cmd", "\"" + p + "FL\\\""), p + "FL\\: no device node would be removed\r\n", "", 0,
             "detection, an ID that ends in a backslash");
    const std::string first = CreateNode(kCheckClass, "FL_A", Property::kNarrow, p + "FL\\KIVO&REV_01" + '\0');
    const std::string second =
        CreateNode(kCheckClass, "FL_B", Property::kNarrow, Lower(p) + "fl\\kivo&rev_02&mi_00" + '\0');
    const std::string other = CreateNode(kCheckClass, "FL_C", Property::kNarrow, p + "FL\\KIVO_REV" + '\0');

    // The preview's one line: the two nodes, in the order they enumerate.
    std::string two = identifier + ": 2 device nodes would be removed";
    for (const Node& node : ListNodes()) {
        if (node.instanceId == first || node.instanceId == second) {
            two += (two.back() == 'd' ? ": " : ", ") + node.instanceId;
        }
    }
    CheckRun(step("detect.cmd", "\"" + identifier + "\""), two + "\r\n", "", 1, "detection with two nodes");
    Check(Listed(ListNodes(), first) && Listed(ListNodes(), second), "the detection step removed nodes");

    CheckRun(step("remediate.cmd", "\"" + identifier + "\""),
             std::string(kBanner) + RemovalLine(p + "FL\\KIVO&REV_01") +
                 RemovalLine(Lower(p) + "fl\\kivo&rev_02&mi_00") + none,
             "", 0, "remediation");
    const std::vector<Node> after = ListNodes();
    Check(!Listed(after, first) && !Listed(after, second) && Listed(after, other),
          "the remediation did not remove exactly the matching nodes");
    CheckRun(step("detect.cmd", "\"" + identifier + "\""), none, "", 0, "detection after the remediation");
    // Nothing left: no removal, and no restart asked for.
    CheckRun(step("remediate.cmd", "\"" + identifier + "\" 3010"), none, "", 0, "remediation with nothing left");
    // The node left, by an ID that ends in a backslash, with a restart
    // status: a node never started has nothing to stop, so Windows asks for
    // no restart ("SetupDiRemoveDevice function"); Wine does not say, and
    // hwpurge's line that it may then asks for the restart status.
    // With a status other than 0 the line goes to standard error too.
    const std::string left = p + "FL\\: no device node would be removed\r\n";
    CheckRun(step("remediate.cmd", "\"" + p + "FL\\\" 3010"),
             std::string(kBanner) + RemovalLine(p + "FL\\KIVO_REV") + left, testnodes::OnWine() ? left : "",
             testnodes::OnWine() ? 3010 : 0, "remediation by an ID that ends in a backslash");
    Check(!Listed(ListNodes(), other), "the remediation left the node an ID ending in a backslash matches");
    // The scripts pass an empty argument on, which the preview refuses.
    CheckRun(step("detect.cmd", ""), "", refused, 2, "detection without a hardware ID");
    CheckRun(step("remediate.cmd", ""), "", refused, 2, "remediation without a hardware ID");

    // Intune's Remediations and app detections run PowerShell, which Wine
    // does not have; on Windows both shells the runners carry.
    if (testnodes::OnWine()) {
        printf("note: the PowerShell pair is not run on Wine, which has no PowerShell\n");
    } else {
        const std::string psFiles[] = {"detect.ps1", "remediate.ps1"};
        for (const std::string& file : psFiles) {
            Check(CopyFileA((scripts + "\\" + file).c_str(), (folder + "\\" + file).c_str(), FALSE) != FALSE,
                  "cannot copy " + file);
        }
        CheckPowerShellPair(std::string(systemFolder) + "\\WindowsPowerShell\\v1.0\\powershell.exe", folder, "PS5");
        char pwsh[MAX_PATH] = "";
        if (SearchPathA(nullptr, "pwsh.exe", nullptr, sizeof pwsh, pwsh, nullptr) != 0) {
            CheckPowerShellPair(pwsh, folder, "PS7");
        } else {
            Check(false, "pwsh.exe (PowerShell 7) is not on the PATH");
        }
        for (const std::string& file : psFiles) {
            DeleteFileA((folder + "\\" + file).c_str());
        }
    }
    for (const auto& file : files) {
        DeleteFileA((folder + "\\" + file[1]).c_str());
    }
    RemoveDirectoryA(folder.c_str());
}

// The built file: its version record and its manifest. Each program names
// itself in its record.
void CheckResources(const std::string& program)
{
    const std::string fileName = program.substr(program.find_last_of('\\') + 1);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &ignored);
    Check(size != 0, fileName + " has no version record");
    if (size != 0) {
        std::vector<BYTE> info(size);
        GetFileVersionInfoA(program.c_str(), 0, size, info.data());
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

    HMODULE image = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
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

// This program's path, and its command line for another run with `arguments`.
std::string Self()
{
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    return self;
}

std::string SelfLine(const std::string& arguments)
{
    return "device_check.exe " + arguments + " \"" + g_hwpurge + "\" \"" + g_preview + "\"";
}

// Runs this program again with `arguments`; its status and standard output.
Run RunSelf(const std::string& arguments)
{
    return RunProgram(Self(), SelfLine(arguments));
}

int CountUnderPrefix()
{
    int count = 0;
    for (const Node& node : ListNodes()) {
        count += testnodes::IsCheckNode(node.instanceId.c_str()) ? 1 : 0;
    }
    return count;
}

// A run leaves no node behind when it ends, and removes at its start what a
// run that died left behind.
void CaseLeftovers()
{
    Check(RunSelf("usage").exitCode == 0, "a run of the usage case failed");
    Check(CountUnderPrefix() == 0, "a run that ended left nodes behind");
    RunSelf("die");
    Check(CountUnderPrefix() == 2, "the run that died did not leave its 2 nodes behind");
    const Run next = RunSelf("usage");
    Check(next.exitCode == 0, "the run after the one that died failed:\n" + next.out);
    Check(next.out.find("note: removed 2 device nodes an earlier run left behind") != std::string::npos,
          "the run after the one that died does not say it removed its 2 nodes:\n" + next.out);
    Check(CountUnderPrefix() == 0, "the run after the one that died left nodes behind");

    // Ctrl+Break, sent to a run in a process group of its own once it made
    // its nodes: its handler removes them before the process ends.
    checkrun::Started waiting = checkrun::Start(Self(), SelfLine("wait"), g_scratch, "", CREATE_NEW_PROCESS_GROUP);
    Check(waiting.why.empty(), waiting.why);
    for (int tries = 0; tries < 300 && waiting.why.empty() && CountUnderPrefix() < 2; ++tries) {
        Sleep(100);
    }
    const bool sent =
        waiting.why.empty() && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, waiting.process.dwProcessId) != FALSE;
    const DWORD error = GetLastError();
    const Run broken = checkrun::Finish(&waiting, sent ? 30000 : 0);
    // Wine 8 cannot send it (error 12 without a terminal, 6 with one).
    CheckTodoWine(sent, !sent,
                  sent ? "GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT) succeeded"
                       : "GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT) failed with error " + std::to_string(error) +
                             " (the check needs a console: run it from a prompt)");
    if (sent) {
        Check(broken.exitCode == 3,
              "the run sent Ctrl+Break ended with " + std::to_string(broken.exitCode) + ", not 3:\n" + broken.out);
        Check(CountUnderPrefix() == 0, "the run sent Ctrl+Break left its nodes behind:\n" + broken.out);
    } else {
        printf("note: Ctrl+Break not sent (error %lu); the run was ended instead\n", static_cast<unsigned long>(error));
        Check(testnodes::End("device_check"), "the nodes of the ended run are left");
    }
}

// Makes two nodes and dies without removing them, as a killed run would; or,
// `waitForBreak`, waits for Ctrl+Break, whose handler ends the process.
void CaseDie(bool waitForBreak)
{
    CreateNode(kCheckClass, "DIE_1", Property::kNone, "");
    CreateNode(kCheckClass, "DIE_2", Property::kNone, "");
    fflush(stdout);
    if (waitForBreak) {
        Sleep(60000);
        Check(false, "no Ctrl+Break came within a minute");
        return;
    }
    TerminateProcess(GetCurrentProcess(), 9);
}

std::string WindowsPath(const std::string& path)
{
    // Under Wine ctest hands over Unix paths, which Wine maps to drive Z:.
    std::string windows = !path.empty() && path[0] == '/' ? "Z:" + path : path;
    for (char& c : windows) {
        c = c == '/' ? '\\' : c;
    }
    return windows;
}

// Its only hardware ID begins with the run's prefix less the backslash, so
// an identifier cut short, or compared short, takes it with the rest.
void MakeDecoy()
{
    const std::string decoyPrefix = testnodes::IdPrefix().substr(0, strlen(testnodes::kIdPrefix) - 1);
    g_decoy = CreateNode(kSystemClass, "DECOY", Property::kNarrow, decoyPrefix + "-DECOY\\KIVO_4100" + '\0');
}

// Runs one case; `arguments` are the case's own. False for a wrong call.
bool RunCase(const std::string& which, const std::vector<std::string>& arguments)
{
    const int before = g_failures;
    const size_t count = arguments.size();
    if (which == "usage" && count == 0) {
        CaseUsage();
    } else if (which == "quoting" && count == 0) {
        CaseQuoting();
    } else if (which == "empty" && count == 0) {
        CaseEmpty();
    } else if (which == "removal" && count == 0) {
        CaseRemoval();
    } else if (which == "zero-bytes" && count == 0) {
        CaseZeroBytes();
    } else if (which == "full-width" && count == 3) {
        CaseFullWidth(static_cast<UINT>(atoi(arguments[0].c_str())), static_cast<UINT>(atoi(arguments[1].c_str())),
                      arguments[2] == "removed");
    } else if (which == "preview" && count == 1) {
        CasePreview(static_cast<UINT>(atoi(arguments[0].c_str())));
    } else if (which == "fleet" && count == 1) {
        CaseFleet(WindowsPath(arguments[0]));
    } else if (which == "resources" && count == 0) {
        CheckResources(g_hwpurge);
        CheckResources(g_preview);
    } else if (which == "leftovers" && count == 0) {
        CaseLeftovers();
    } else if ((which == "die" || which == "wait") && count == 0) {
        CaseDie(which == "wait");
    } else if (which == "all" && count == 1) {
        // Every case that holds on Windows, in the system's own code page.
        // The runs of the leftovers case remove every node under the prefix,
        // so the decoy is made after them.
        RunCase("leftovers", {});
        MakeDecoy();
        const std::string codePage = std::to_string(GetACP());
        for (const char* one : {"usage", "quoting", "empty", "removal", "zero-bytes", "resources"}) {
            RunCase(one, {});
        }
        RunCase("preview", {codePage});
        RunCase("fleet", arguments);
    } else {
        return false;
    }
    printf("%s: %s\n", which.c_str(), g_failures == before ? "passed" : "FAILED");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: device_check <case> <hwpurge.exe> <hwpurge-preview.exe> [case arguments]\n");
        return 2;
    }
    const std::string which = argv[1];
    g_hwpurge = WindowsPath(argv[2]);
    g_preview = WindowsPath(argv[3]);
    const std::vector<std::string> arguments(argv + 4, argv + argc);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    g_scratch = std::string(temp) + "hwpurge-" + which + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(g_scratch.c_str(), nullptr);
    if (!testnodes::Begin("device_check")) {
        return 1;
    }

    if (which != "leftovers" && which != "die" && which != "wait" && which != "all") {
        MakeDecoy();
    }
    const bool known = RunCase(which, arguments);
    if (!g_decoy.empty()) {
        printf("note: the decoy %s was left in place by all %d program runs\n", g_decoy.c_str(), g_runsBesideDecoy);
    }
    g_failures += testnodes::End("device_check") ? 0 : 1;
    DeleteFileA((g_scratch + "\\stdout.bin").c_str());
    DeleteFileA((g_scratch + "\\stderr.bin").c_str());
    RemoveDirectoryA(g_scratch.c_str());
    if (!known) {
        fprintf(stderr, "device_check: unknown case or wrong arguments: %s\n", which.c_str());
        return 2;
    }
    return g_failures == 0 ? 0 : 1;
}
