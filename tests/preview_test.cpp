// hwpurge-preview against hwpurge: the same nodes in the same order on the
// sample, the workstation export and random exports in single- and
// double-byte code pages; its exit statuses; its JSON.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/host/simulated_windows.h"
#include "preview/driver_packages.h"
#include "preview/json_writer.h"
#include "preview/preview_devices.h"
#include "removal/hardware_id.h"

#include "tests/child_process.h"
#include "tests/expected_output.h"
#include "tests/files.h"

namespace {

using hwtest::Result;
using Json = nlohmann::json;

const std::string kSource = HWPURGE_SOURCE_DIR;

using hwtest::ReadFile;
using hwtest::WriteFile;

Result Preview(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
{
    return hwtest::RunProgram(args, env, HWPURGE_PREVIEW_PROGRAM);
}

// The entries hwpurge's removal lines name, in order.
std::vector<std::string> RemovedEntries(const std::string& out)
{
    const std::string head = " Removed: KIVO Device with ID [";
    std::vector<std::string> entries;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
        if (line.rfind(head, 0) == 0 && line.size() >= head.size() + 2) {
            entries.push_back(line.substr(head.size(), line.size() - head.size() - 2));
        }
    }
    return entries;
}

std::u16string FromUtf8(const std::string& text)
{
    return hwsim::AnsiToWide(text, 65001);
}

// Folded INF name by instance ID: each random node's driver package.
typedef std::map<std::string, std::string> PackageOf;

// Runs the preview (text and JSON) and then hwpurge on a copy of `content`,
// in code page `acp`, and checks that they name the same entries in the
// same order, that the preview left the file as it was, and that after
// hwpurge the preview finds nothing; with `packageOf`, that each package's
// counts are those the export holds.

std::vector<std::string> CompareWithRemoval(const std::string& content, UINT acp, const std::string& identifier,
                                            const std::string& what, const PackageOf& packageOf = {})
{
    SCOPED_TRACE(what + " / identifier " + identifier + " / code page " + std::to_string(acp));
    // ctest runs tests side by side, and two runs may share the machine: one
    // file per test and process.
    const std::string file = testing::TempDir() + "hwpurge-preview-" +
                             testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                             std::to_string(getpid()) + ".reg";
    WriteFile(file, content);
    const std::vector<std::string> env = {"HWPURGE_DEVICE_DB=" + file, "HWPURGE_ACP=" + std::to_string(acp)};

    const Result text = Preview({identifier}, env);
    const Result json = Preview({"--json", identifier}, env);
    const Result summary = Preview({"--summary", identifier}, env);
    const Result unused = Preview({"--unused-packages", identifier}, env);
    EXPECT_TRUE(ReadFile(file) == content) << "the preview changed the database file";
    const Result removal = hwtest::RunProgram({identifier}, env);
    const std::vector<std::string> removed = RemovedEntries(removal.out);

    EXPECT_EQ(text.err, "");
    EXPECT_EQ(text.status, removed.empty() ? 0 : 1);
    EXPECT_EQ(json.status, text.status);
    // One line per node, "[entry] ...", one per driver package, then the count.
    std::vector<std::string> lines;
    std::istringstream stream(text.out);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    const Json document = Json::parse(json.out);
    const size_t n = removed.size();
    const size_t packages = document["driverPackages"].size();
    EXPECT_EQ(lines.size(), n + packages + 1) << text.out;
    if (lines.size() != n + packages + 1) {
        return removed;
    }
    EXPECT_EQ(lines.back(), n == 0   ? "no device node would be removed"
                            : n == 1 ? "1 device node would be removed"
                                     : std::to_string(n) + " device nodes would be removed");

    // The JSON's entries, back in the code page, are hwpurge's.
    EXPECT_EQ(document["devices"].size(), n);
    auto inCodePage = [acp](const Json& field) { return hwsim::WideToAnsi(FromUtf8(field), acp); };
    // A package's provider, version and date, those it has, in parentheses.
    auto facts = [&](const Json& package) {
        std::string shown;
        for (const char* field : {"provider", "version", "date"}) {
            if (!package[field].is_null()) {
                shown += (shown.empty() ? " (" : ", ") + inCodePage(package[field]);
            }
        }
        return shown.empty() ? shown : shown + ")";
    };
    for (size_t i = 0; i < n && i < document["devices"].size(); ++i) {
        const Json& device = document["devices"][i];
        EXPECT_EQ(inCodePage(device["hardwareId"]), removed[i]);
        // The text line says the same as the JSON.
        std::string line = "[" + removed[i] + "] " + inCodePage(device["instanceId"]);
        line += device["class"].is_null() && device["classGuid"].is_null() ? " (no class" : " (class";
        for (const char* field : {"class", "classGuid"}) {
            line += device[field].is_null() ? "" : " " + inCodePage(device[field]);
        }
        line += device["present"] == true ? ", present)" : ", not present)";
        line += device["name"].is_null() ? " no name" : " \"" + inCodePage(device["name"]) + "\"";
        line += device["manufacturer"].is_null() ? "" : " by " + inCodePage(device["manufacturer"]);
        const Json& driver = device["driver"];
        line +=
            driver.is_null() ? ", no driver package" : ", driver package " + inCodePage(driver["inf"]) + facts(driver);
        EXPECT_EQ(lines[i], line);
    }
    for (size_t i = 0; i < packages; ++i) {
        const Json& package = document["driverPackages"][i];
        const auto listed = package["listedNodes"].get<unsigned>();
        const auto others = package["otherNodes"].get<unsigned>();
        EXPECT_EQ(lines[n + i], "driver package " + inCodePage(package["inf"]) + facts(package) + ": used by " +
                                    std::to_string(listed) +
                                    (listed == 1 ? " listed node and " : " listed nodes and ") +
                                    (others == 0   ? std::string("no other node")
                                     : others == 1 ? std::string("1 other node")
                                                   : std::to_string(others) + " other nodes"));
    }
    EXPECT_EQ(document["failures"], Json::array());
    // The summary names the same nodes, and the unused packages are the
    // third-party ones no other node uses, in the order first listed.
    EXPECT_EQ(summary.status, text.status);
    EXPECT_EQ(unused.status, text.status);
    std::string line = identifier + ": " + lines.back();
    for (size_t i = 0; i < n; ++i) {
        const Json& device = document["devices"][i];
        line += (i == 0 ? ": " : ", ") + inCodePage(device["instanceId"]);
        line += device["name"].is_null() ? "" : " \"" + inCodePage(device["name"]) + "\"";
    }
    // These exports are small: every node is named within the limit.
    EXPECT_LE(line.size(), 2000u);
    EXPECT_EQ(summary.out, line + "\n");
    std::string infs;
    for (const Json& package : document["driverPackages"]) {
        const std::string inf = hwsim::FoldedName(package["inf"]);
        const bool oem = inf.size() > 7 && inf.compare(0, 3, "oem") == 0 &&
                         inf.compare(inf.size() - 4, 4, ".inf") == 0 &&
                         inf.find_first_not_of("0123456789", 3) == inf.size() - 4;
        infs += package["otherNodes"] == 0 && oem ? inCodePage(package["inf"]) + "\n" : "";
    }
    EXPECT_EQ(unused.out, infs);
    EXPECT_EQ(document["detailsComplete"], true);
    // Each package's counts, from what the export holds.
    if (!packageOf.empty()) {
        std::map<std::string, unsigned> listed;
        for (const Json& device : document["devices"]) {
            const auto found = packageOf.find(device["instanceId"].get<std::string>());
            if (found != packageOf.end()) {
                ++listed[found->second];
            }
        }
        EXPECT_EQ(packages, listed.size());
        for (const Json& package : document["driverPackages"]) {
            const std::string inf = hwsim::FoldedName(package["inf"]);
            const auto all = static_cast<unsigned>(std::count_if(packageOf.begin(), packageOf.end(),
                                                                 [&](const auto& node) { return node.second == inf; }));
            EXPECT_EQ(package["listedNodes"], listed[inf]) << inf;
            EXPECT_EQ(package["otherNodes"], all - listed[inf]) << inf;
        }
    }

    const Result after = Preview({identifier}, env);
    EXPECT_EQ(after.out, "no device node would be removed\n");
    EXPECT_EQ(after.status, 0);
    remove(file.c_str());
    return removed;
}

// ---------------------------------------------------------------------------
// Random exports

const char16_t* const kPieces[] = {
    u"USB\\",        u"VID_1A2B", u"vid_1a2b", u"&PID_4100", u"&pid_0720", u"&MI_0", u"A", u"b", u"1", u"_", u"&",
    u"\u00E9",  // in 1252, not in 932
    u"\u00C4",
    u"\uFF2B\uFF29",  // full-width K I: in 932, not in 1252
    u"\uFF4B\uFF49",  // full-width k i
    u"\u30AB",        // katakana
    u"\u6F22",        // a kanji
};

std::string Utf16LeHex(const std::u16string& text)
{
    std::string hex;
    char byte[8];
    for (char16_t c : text) {
        snprintf(byte, sizeof byte, "%02x,%02x,", c & 0xFF, c >> 8);
        hex += byte;
    }
    return hex + "00,00";
}

std::u16string RandomEntry(std::mt19937* random)
{
    std::u16string entry = u"USB\\";
    const size_t pieces = 1 + (*random)() % 5;
    for (size_t i = 0; i < pieces; ++i) {
        entry += kPieces[(*random)() % (sizeof kPieces / sizeof kPieces[0])];
    }
    return entry;
}

// A "Windows Registry Editor Version 5.00" export in UTF-8 of `count` nodes
// with random hardware-ID lists and driver packages; the entries used are
// added to `entries`, each node's package to `packageOf`.
std::string RandomExport(std::mt19937* random, int count, std::vector<std::u16string>* entries,
                         PackageOf* packageOf = nullptr)
{
    // The same package may be named in either case.
    const char* const infs[] = {"oem90.inf", "OEM90.INF", "oem12.inf", "usb.inf"};
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    std::string classKeys;
    for (int i = 0; i < count; ++i) {
        const std::string key = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\DEV" + std::to_string(i) +
                                "\\" + std::to_string((*random)() % 1000);
        text += key + "]\r\n";
        const size_t ids = (*random)() % 4;  // 0: no property
        if (ids > 0) {
            std::u16string list;
            for (size_t j = 0; j < ids; ++j) {
                const std::u16string entry = RandomEntry(random);
                entries->push_back(entry);
                list += entry + u'\0';
            }
            text += "\"HardwareID\"=hex(7):" + Utf16LeHex(list) + "\r\n";
        }
        // Each of the class name and GUID may be missing on its own.
        const unsigned classes = (*random)() % 4;
        const bool present = ((*random)() & 4) != 0;
        if ((classes & 1) != 0) {
            text += "\"Class\"=\"USB\"\r\n";
        }
        if ((classes & 2) != 0) {
            text += "\"ClassGUID\"=\"{36fc9e60-c465-11cf-8056-444553540000}\"\r\n";
        }
        // A driver key with a package, one without an INF name, or none.
        const auto driver = static_cast<unsigned>((*random)() % 6);
        if (driver < 5) {
            char name[64];
            snprintf(name, sizeof name, "{36fc9e60-c465-11cf-8056-444553540000}\\%04d", i);
            text += "\"Driver\"=\"" + std::string(name).insert(38, "\\") + "\"\r\n";
            classKeys +=
                "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + std::string(name) + "]\r\n";
            if (driver < 4) {
                // A provider longer than the room a value is first read into.
                classKeys += "\"InfPath\"=\"" + std::string(infs[driver]) + "\"\r\n\"ProviderName\"=\"" +
                             std::string(driver == 2 ? 300 : 4, 'P') + "\"\r\n\r\n";
                if (packageOf != nullptr) {
                    (*packageOf)[key.substr(key.find("Enum\\") + 5)] = hwsim::FoldedName(infs[driver]);
                }
            }
        }
        if (present) {
            text += "\r\n" + key + "\\Control]\r\n\"ActiveService\"=\"usbccgp\"\r\n";
        }
        text += "\r\n";
    }
    return text + classKeys;
}

// A prefix of one of the entries, in the code page, ASCII case flipped.
std::string RandomIdentifier(std::mt19937* random, const std::vector<std::u16string>& entries, UINT acp)
{
    const std::u16string& entry = entries[(*random)() % entries.size()];
    std::string identifier = hwsim::WideToAnsi(entry.substr(0, 4 + (*random)() % (entry.size() - 3)), acp);
    for (char& c : identifier) {
        if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && (*random)() % 2 == 0) {
            c = static_cast<char>(c ^ 0x20);
        }
    }
    return identifier;
}

TEST(Preview, ListsWhatHwpurgeRemovesOnTheSampleAndTheWorkstation)
{
    const std::string sample = hwsim::SampleExport();
    const std::string workstation = ReadFile(kSource + "/examples/workstation-enum.reg");
    for (const char* identifier : {"usb\\vid_1a2b&pid_4100", "USB\\VID_1A2B", "PCI\\VEN_10DE", "USB"}) {
        CompareWithRemoval(sample, 1252, identifier, "sample");
        CompareWithRemoval(workstation, 1252, identifier, "workstation");
    }
}

TEST(Preview, ListsWhatHwpurgeRemovesOnRandomExports)
{
    std::mt19937 random(20261208);
    size_t removed = 0;
    size_t nonAscii = 0;
    for (UINT acp : {1252u, 932u, 936u}) {
        for (int round = 0; round < 3; ++round) {
            std::vector<std::u16string> entries;
            PackageOf packageOf;
            const std::string content = RandomExport(&random, 24, &entries, &packageOf);
            ASSERT_FALSE(entries.empty());
            for (int i = 0; i < 3; ++i) {
                for (const std::string& entry :
                     CompareWithRemoval(content, acp, RandomIdentifier(&random, entries, acp),
                                        "random export " + std::to_string(round), packageOf)) {
                    ++removed;
                    nonAscii += std::any_of(entry.begin(), entry.end(), [](char c) { return (c & 0x80) != 0; });
                }
            }
        }
    }
    // The runs must have had something to compare.
    EXPECT_GT(removed, 20u);
    EXPECT_GT(nonAscii, 5u);
    printf("random exports: %zu entries listed and removed, %zu of them not ASCII\n", removed, nonAscii);
}

// ---------------------------------------------------------------------------
// Command line, exit status, JSON

struct StatusCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
    std::string lastLine;  // of standard output; "" when there must be none
    std::string err;
};

TEST(Preview, ExitStatusTellsNoneSomeMisuseIncompleteOrRestart)
{
    const std::string usage = "usage: hwpurge-preview [--json | --summary | --unused-packages] <Hardware_ID>\n";
    const std::string empty = "hwpurge-preview: the hardware ID is empty; it would match every device node\n";
    const StatusCase cases[] = {
        {"no argument", {}, {}, 2, "", usage},
        {"--json alone", {"--json"}, {}, 2, "", usage},
        {"two identifiers", {"USB", "PCI"}, {}, 2, "", usage},
        {"option after the identifier", {"USB", "--json"}, {}, 2, "", usage},
        {"mistyped option", {"--jsn", "USB"}, {}, 2, "", usage},
        {"mistyped option alone", {"--jsn"}, {}, 2, "", usage},
        {"option with a tail", {"--jsonx", "USB"}, {}, 2, "", usage},
        {"empty identifier", {""}, {}, 2, "", empty},
        {"empty identifier, JSON", {"--json", ""}, {}, 2, "", empty},
        {"nothing matches", {"PCI\\VEN_10DE"}, {}, 0, "no device node would be removed", ""},
        {"one matches", {"USB\\VID_1A2B&PID_0720"}, {}, 1, "1 device node would be removed", ""},
        {"the set cannot be opened",
         {"USB"},
         {"HWPURGE_SIM_FAULTS=open=5"},
         3,
         "the list is incomplete: no device node was listed",
         "hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 5: Access is denied.\n"},
        {"a read fails after a match",
         {"USB\\VID_1A2B&PID_4100"},
         {"HWPURGE_SIM_FAULTS=read@3=0xE000020B"},
         3,
         "the list is incomplete: at least 1 device node would be removed",
         "hwpurge: GetDeviceRegistryProperty failed with error 0xE000020B (ERROR_NO_SUCH_DEVINST)\n"},
        {"the enumeration fails",
         {"USB\\VID_1A2B&PID_4100"},
         {"HWPURGE_SIM_FAULTS=enum@2=6"},
         3,
         "the list is incomplete: at least 1 device node would be removed",
         "hwpurge: EnumDeviceInfo failed with error 6: The handle is invalid.\n"},
        {"a listed node's name cannot be read",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=details@2=5"},
         3,
         "1 device node would be removed; some details could not be read",
         "hwpurge: GetDeviceInstanceId failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(CLASS) failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(CLASSGUID) failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(FRIENDLYNAME) failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(MFG) failed with error 5: Access is denied.\n"},
        {"a listed node's driver package cannot be read",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=regvalue@2=5"},
         3,
         "1 device node would be removed; some details could not be read",
         "hwpurge: RegQueryValueEx(InfPath) failed with error 5: Access is denied.\n"},
        {"a listed node's driver key cannot be opened",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=driverkey@2=5"},
         3,
         "1 device node would be removed; some details could not be read",
         "hwpurge: OpenDevRegKey(DRV) failed with error 5: Access is denied.\n"},
        {"a listed node's INF name never fits the buffer it asks for",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=regvalue@2=234"},
         3,
         "1 device node would be removed; some details could not be read",
         "hwpurge: RegQueryValueEx(InfPath) failed with error 234\n"},
        {"no memory for a listed package's provider",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=alloc@15"},
         3,
         "1 device node would be removed; some details could not be read",
         "hwpurge: LocalAlloc failed with error 8: Not enough memory resources are available to process this "
         "command.\n"},
        {"no memory to count a listed node's package",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=alloc@13"},
         3,
         "1 device node would be removed; some details could not be read",
         "hwpurge: LocalAlloc failed with error 8: Not enough memory resources are available to process this "
         "command.\n"},
        // Nothing listed uses a package: an unfinished count of others is
        // no reason to fail a detection.
        {"another node's driver key cannot be opened, nothing matches",
         {"PCI\\VEN_10DE"},
         {"HWPURGE_SIM_FAULTS=driverkey@0=5"},
         0,
         "no device node would be removed",
         "hwpurge: OpenDevRegKey(DRV) failed with error 5: Access is denied.\n"},
        {"another node's driver key cannot be opened",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=driverkey@0=0xE000020B"},
         3,
         "1 device node would be removed; some details could not be read",
         "hwpurge: OpenDevRegKey(DRV) failed with error 0xE000020B (ERROR_NO_SUCH_DEVINST)\n"},
        // The fleet engines' forms: the same statuses, the reason in the line.
        {"summary and JSON at once", {"--summary", "--json", "USB"}, {}, 2, "", usage},
        {"summary without an identifier", {"--summary"}, {}, 2, "", usage},
        {"summary, nothing matches",
         {"--summary", "PCI\\VEN_10DE"},
         {},
         0,
         "PCI\\VEN_10DE: no device node would be removed",
         ""},
        {"summary, the set cannot be opened",
         {"--summary", "USB"},
         {"HWPURGE_SIM_FAULTS=open=5"},
         3,
         "USB: the list is incomplete: no device node was listed; GetClassDevs(All Present / not Present Devices) "
         "failed with error 5",
         "hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 5: Access is denied.\n"},
        {"summary, the walk ends at a setup code after a failed name",
         {"--summary", "USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=details@2=5,read@3=0xE000020B"},
         3,
         "USB\\VID_1A2B&PID_0720: the list is incomplete: at least 1 device node would be removed: "
         "[USB\\VID_1A2B&PID_0720&REV_0110]; GetDeviceRegistryProperty failed with error 0xE000020B and 5 more "
         "failures",
         "hwpurge: GetDeviceInstanceId failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(CLASS) failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(CLASSGUID) failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(FRIENDLYNAME) failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty(MFG) failed with error 5: Access is denied.\n"
         "hwpurge: GetDeviceRegistryProperty failed with error 0xE000020B (ERROR_NO_SUCH_DEVINST)\n"},
        // The walk is complete: the reason is the run's first failure, not
        // the later count failure the walk's own list holds.
        {"summary, a listed node's package cannot be read, nor another's",
         {"--summary", "USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=regvalue@2=5,driverkey@3=5"},
         3,
         "USB\\VID_1A2B&PID_0720: 1 device node would be removed: USB\\VID_1A2B&PID_0720\\7&2F1A3C&0&2 \"KIVO 720 "
         "Serial Port\"; some details could not be read: RegQueryValueEx(InfPath) failed with error 5 and 1 more "
         "failure",
         "hwpurge: RegQueryValueEx(InfPath) failed with error 5: Access is denied.\n"
         "hwpurge: OpenDevRegKey(DRV) failed with error 5: Access is denied.\n"},
        {"summary, a listed node's state cannot be read",
         {"--summary", "HID\\VID_046D"},
         {"HWPURGE_SIM_FAULTS=devnode@3=0x33"},
         3,
         "HID\\VID_046D: 1 device node would be removed: HID\\VID_046D&PID_C52B&MI_00\\8&1B2C3D4E&0&0000 "
         "\"HID-compliant mouse\"; some details could not be read: CM_Get_DevNode_Status failed with CONFIGRET "
         "0x00000033",
         "hwpurge: CM_Get_DevNode_Status failed with CONFIGRET 0x00000033 (CR_ACCESS_DENIED)\n"},
        {"summary, the one node waits for a restart",
         {"--summary", "HID\\VID_046D"},
         {"HWPURGE_SIM_FAULTS=status@3=0x400,problem@3=21"},
         4,
         "HID\\VID_046D: 1 device node would be removed: HID\\VID_046D&PID_C52B&MI_00\\8&1B2C3D4E&0&0000 "
         "\"HID-compliant mouse\" (waits for a restart); it waits for a restart",
         ""},
        // Another node's package could not be counted before the walk ended:
        // the reason is what ended it.
        {"summary, a count failure before the walk ends",
         {"--summary", "USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=driverkey@0=5,enum@5=6"},
         3,
         "USB\\VID_1A2B&PID_0720: the list is incomplete: at least 1 device node would be removed: "
         "USB\\VID_1A2B&PID_0720\\7&2F1A3C&0&2 \"KIVO 720 Serial Port\"; EnumDeviceInfo failed with error 6 and 1 "
         "more failure",
         "hwpurge: OpenDevRegKey(DRV) failed with error 5: Access is denied.\n"
         "hwpurge: EnumDeviceInfo failed with error 6: The handle is invalid.\n"},
        {"unused packages", {"--unused-packages", "USB\\VID_1A2B"}, {}, 1, "oem13.inf", ""},
        {"unused packages, the walk ends early",
         {"--unused-packages", "USB\\VID_1A2B"},
         {"HWPURGE_SIM_FAULTS=enum@5=6"},
         3,
         "",
         "hwpurge: EnumDeviceInfo failed with error 6: The handle is invalid.\n"},
        {"unused packages, another node's package cannot be counted",
         {"--unused-packages", "USB\\VID_1A2B"},
         {"HWPURGE_SIM_FAULTS=driverkey@0=5"},
         3,
         "",
         "hwpurge: OpenDevRegKey(DRV) failed with error 5: Access is denied.\n"},
        {"unused packages, a listed node's state cannot be read",
         {"--unused-packages", "USB\\VID_1A2B"},
         {"HWPURGE_SIM_FAULTS=devnode@2=0x13"},
         3,
         "",
         "hwpurge: CM_Get_DevNode_Status failed with CONFIGRET 0x00000013 (CR_FAILURE)\n"},
    };
    for (const StatusCase& c : cases) {
        const Result r = Preview(c.args, c.env);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        if (c.lastLine.empty()) {
            EXPECT_EQ(r.out, "") << c.name;
        } else {
            EXPECT_GE(r.out.size(), c.lastLine.size() + 1) << c.name;
            EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), c.lastLine.size() + 1)), c.lastLine + "\n")
                << c.name;
        }
    }
}

// A removal of a device in use finishes at the next restart: hwpurge says
// so on standard error alone, and the node's keys go at once, as for any
// removal. What the preview says of a node comes from the configuration
// manager: here the fault script's status, problem or failure for the
// present HID node (database position 3).
TEST(Preview, TellsNodesWaitingForARestartApart)
{
    const std::string file = testing::TempDir() + "hwpurge-preview-restart-" + std::to_string(getpid()) + ".reg";
    const std::string db = "HWPURGE_DEVICE_DB=" + file;
    WriteFile(file, hwsim::SampleExport());
    const Result plain = hwtest::RunProgram({"USB\\VID_1A2B"}, {db});
    const std::string removedPlainly = ReadFile(file);
    WriteFile(file, hwsim::SampleExport());
    const Result restart = hwtest::RunProgram({"USB\\VID_1A2B"}, {db, "HWPURGE_SIM_FAULTS=restart"});
    EXPECT_EQ(restart.out, plain.out);
    EXPECT_EQ(restart.status, 0);
    // Of the five nodes removed, only K41000123 was present, so in use.
    EXPECT_EQ(restart.err, "hwpurge: 1 device node is removed when Windows restarts\n");
    EXPECT_TRUE(ReadFile(file) == removedPlainly) << "a removal waiting for a restart left keys behind";
    EXPECT_EQ(Preview({"USB\\VID_1A2B"}, {db}).out, "no device node would be removed\n");
    remove(file.c_str());

    const std::string id = "HID\\VID_046D";
    const std::string line =
        "[HID\\VID_046D&PID_C52B&REV_1211&MI_00] HID\\VID_046D&PID_C52B&MI_00\\8&1B2C3D4E&0&0000 "
        "(class HIDClass {745a17a0-74d3-11d0-b6fe-00a0c90f57da}, ";
    const struct {
        const char* faults;
        int status;
        const char* state;
        const char* err;
    } cases[] = {
        {"status@3=0x40000", 4, "waiting for a restart", ""},
        {"status@3=0x400,problem@3=21", 4, "waiting for a restart", ""},
        {"status@3=0x400,problem@3=1", 1, "present", ""},
        // A problem number without DN_HAS_PROBLEM is no problem.
        {"problem@3=21", 1, "present", ""},
        {"status@3=0x400", 1, "present", ""},
        {"devnode@3=13", 1, "not present", ""},
        {"devnode@3=0x33", 3, "state unknown",
         "hwpurge: CM_Get_DevNode_Status failed with CONFIGRET 0x00000033 (CR_ACCESS_DENIED)\n"},
        {"devnode@3=0x99", 3, "state unknown", "hwpurge: CM_Get_DevNode_Status failed with CONFIGRET 0x00000099\n"},
    };
    for (const auto& c : cases) {
        const Result r = Preview({id}, {std::string("HWPURGE_SIM_FAULTS=") + c.faults});
        EXPECT_EQ(r.status, c.status) << c.faults;
        EXPECT_EQ(r.out.substr(0, r.out.find(')') + 1), line + c.state + ")") << c.faults;
        EXPECT_EQ(r.err, c.err) << c.faults;
    }
    const Json unknown = Json::parse(Preview({"--json", id}, {"HWPURGE_SIM_FAULTS=devnode@3=0x33"}).out);
    EXPECT_EQ(unknown["devices"][0]["present"], nullptr);
    EXPECT_EQ(unknown["devices"][0]["waitingForRestart"], nullptr);
    EXPECT_EQ(unknown["devices"][0]["failures"],
              Json::parse(R"([{"operation":"CM_Get_DevNode_Status","code":51,"text":"CR_ACCESS_DENIED"}])"));
    EXPECT_EQ(unknown["detailsComplete"], false);
    const Json waiting = Json::parse(Preview({"--json", id}, {"HWPURGE_SIM_FAULTS=status@3=0x400,problem@3=21"}).out);
    EXPECT_EQ(waiting["devices"][0]["present"], true);
    EXPECT_EQ(waiting["devices"][0]["waitingForRestart"], true);
    // Beside nodes that are not waiting, there is something to remove.
    const Result mixed = Preview({"USB\\VID_1A2B&PID_4100"}, {"HWPURGE_SIM_FAULTS=status@1=0x40000"});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(mixed.out.substr(mixed.out.rfind('\n', mixed.out.size() - 2) + 1),
              "3 device nodes would be removed; 1 of them waits for a restart\n");
}

TEST(Preview, JsonNamesEachNodeAndStaysValidAfterAFailure)
{
    const Result listed = Preview({"--json", "usb\\vid_1a2b&pid_4100"});
    EXPECT_EQ(listed.status, 1);
    const Json expected = Json::parse(R"json({"identifier":"usb\\vid_1a2b&pid_4100","devices":[
        {"hardwareId":"USB\\VID_1A2B&PID_4100&REV_0200","instanceId":"USB\\VID_1A2B&PID_4100\\K41000123",
         "class":"Image","classGuid":"{6bdd1fc6-810f-11d0-bec7-08002be2092f}","present":true,
         "waitingForRestart":false,"name":"KIVO 4100 Scanner","manufacturer":"KIVO",
         "driver":{"inf":"oem12.inf","provider":"KIVO Imaging","version":"2.0.0.0","date":"3-14-2024"}},
        {"hardwareId":"usb\\vid_1a2b&pid_4100&mi_01","instanceId":"USB\\VID_0BDA&PID_5411\\6&3A4B5C&0&4",
         "class":"USB","classGuid":"{36fc9e60-c465-11cf-8056-444553540000}","present":false,
         "waitingForRestart":false,"name":"Generic USB Hub","manufacturer":"(Generic USB Hub)",
         "driver":{"inf":"usb.inf","provider":"Microsoft","version":"10.0.19041.1","date":"6-21-2006"}},
        {"hardwareId":"USB\\VID_1A2B&PID_4100&REV_0200&MI_00",
         "instanceId":"USB\\VID_1A2B&PID_4100&MI_00\\8&19C2A1&0&0000",
         "class":"Image","classGuid":"{6bdd1fc6-810f-11d0-bec7-08002be2092f}","present":false,
         "waitingForRestart":false,"name":"KIVO 4100 Imaging Interface","manufacturer":"KIVO",
         "driver":{"inf":"oem12.inf","provider":"KIVO Imaging","version":"2.0.0.0","date":"3-14-2024"}}],
        "driverPackages":[
         {"inf":"oem12.inf","provider":"KIVO Imaging","version":"2.0.0.0","date":"3-14-2024",
          "listedNodes":2,"otherNodes":1},
         {"inf":"usb.inf","provider":"Microsoft","version":"10.0.19041.1","date":"6-21-2006",
          "listedNodes":1,"otherNodes":1}],
        "complete":true,"detailsComplete":true,"failures":[]})json");
    EXPECT_EQ(Json::parse(listed.out), expected);

    const Result failed = Preview({"--json", "USB\\VID_1A2B&PID_4100"}, {"HWPURGE_SIM_FAULTS=enum@2=0xE000020B"});
    EXPECT_EQ(failed.status, 3);
    const Json document = Json::parse(failed.out);
    EXPECT_EQ(document["devices"].size(), 1u);
    EXPECT_EQ(document["complete"], false);
    EXPECT_EQ(document["failures"], Json::parse(R"([{"operation":"EnumDeviceInfo","code":3758096907,"text":null}])"));
    // The nodes never examined may use the package too.
    ASSERT_EQ(document["driverPackages"].size(), 1u);
    EXPECT_EQ(document["driverPackages"][0]["otherNodes"], nullptr);
    EXPECT_EQ(document["detailsComplete"], false);
    EXPECT_NE(Preview({"USB\\VID_1A2B&PID_4100"}, {"HWPURGE_SIM_FAULTS=enum@2=0xE000020B"})
                  .out.find(": used by 1 listed node and an unknown number of other nodes\n"),
              std::string::npos);

    // No memory for the first listed node's instance ID (block 7: the
    // identifier's conversion and the lists read up to it take blocks 0-3,
    // the first node's driver package 4-6): it is listed without it, with
    // its own failure, and the walk goes on.
    const Result described = Preview({"--json", "USB\\VID_1A2B&PID_4100"}, {"HWPURGE_SIM_FAULTS=alloc@7"});
    EXPECT_EQ(described.status, 1);
    const Json devices = Json::parse(described.out)["devices"];
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]["instanceId"], nullptr);
    EXPECT_EQ(devices[0]["class"], "Image");
    // The same block in text, which converts nothing before it.
    EXPECT_EQ(Preview({"USB\\VID_1A2B&PID_4100"}, {"HWPURGE_SIM_FAULTS=alloc@5"}).out.substr(0, 67),
              "[USB\\VID_1A2B&PID_4100&REV_0200] (instance ID unknown) (class Image");
    EXPECT_EQ(devices[0]["failures"], Json::parse(R"([{"operation":"LocalAlloc","code":8,
        "text":"Not enough memory resources are available to process this command."}])"));
    EXPECT_FALSE(devices[1].contains("failures"));
}

TEST(Preview, JsonIsUtf8WhateverTheCodePage)
{
    const std::string file = testing::TempDir() + "hwpurge-preview-unicode-" + std::to_string(getpid()) + ".reg";
    // UTF-8 export: an accented entry, with a quote, a backslash and a tab in
    // its class name; then, last in the file and present, an entry of
    // full-width letters, U+9ED1 (0xFC4B in 932, whose last lead byte is
    // 0xFC) and U+0800 and U+0FFF (the first three-byte UTF-8 characters).
    WriteFile(file,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\1]\r\n"
              "\"HardwareID\"=\"USB\\\\KIVO_CAF\xC3\x89\"\r\n"
              "\"Class\"=hex(1):22,00,5c,00,09,00,00,00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\2]\r\n"
              "\"HardwareID\"=\"USB\\\\KIVO_\xEF\xBD\x8B\xEF\xBD\x89\xE9\xBB\x91\xE0\xA0\x80\xE0\xBF\xBF\"\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\2\\Control]\r\n");
    const struct {
        UINT acp;
        std::vector<std::string> entries;  // as JSON gives them: UTF-8
    } cases[] = {
        {1252, {"USB\\KIVO_CAF\xC3\x89", "USB\\KIVO_?????"}},  // no full-width letters in 1252
        {932, {"USB\\KIVO_CAF?", "USB\\KIVO_\xEF\xBD\x8B\xEF\xBD\x89\xE9\xBB\x91??"}},
        {65001, {"USB\\KIVO_CAF\xC3\x89", "USB\\KIVO_\xEF\xBD\x8B\xEF\xBD\x89\xE9\xBB\x91\xE0\xA0\x80\xE0\xBF\xBF"}},
    };
    for (const auto& c : cases) {
        const Result r =
            Preview({"--json", "usb\\kivo_"}, {"HWPURGE_DEVICE_DB=" + file, "HWPURGE_ACP=" + std::to_string(c.acp)});
        const Json document = Json::parse(r.out);
        ASSERT_EQ(document["devices"].size(), 2u) << c.acp;
        EXPECT_EQ(document["devices"][0]["hardwareId"], c.entries[0]) << c.acp;
        EXPECT_EQ(document["devices"][1]["hardwareId"], c.entries[1]) << c.acp;
        EXPECT_EQ(document["devices"][0]["class"], "\"\\\t") << c.acp;
        EXPECT_EQ(document["devices"][1]["class"], nullptr) << c.acp;
        EXPECT_EQ(document["devices"][0]["present"], false) << c.acp;
        EXPECT_EQ(document["devices"][1]["present"], true) << c.acp;
    }
    // A byte that is no character of the code page still gives valid JSON.
    const Result odd = Preview({"--json", "USB\\\x81\x8D"}, {"HWPURGE_DEVICE_DB=" + file});
    EXPECT_EQ(Json::parse(odd.out)["identifier"], "USB\\\xEF\xBF\xBD\xEF\xBF\xBD");
    // No memory for the conversion: bytes that are not ASCII are not taken
    // for UTF-8, however they look.
    const Result unconverted =
        Preview({"--json", "USB\\\xC3\xA9"}, {"HWPURGE_DEVICE_DB=" + file, "HWPURGE_SIM_FAULTS=alloc@0"});
    EXPECT_EQ(Json::parse(unconverted.out)["identifier"], "USB\\\xEF\xBF\xBD\xEF\xBF\xBD");
    remove(file.c_str());
}

// The package count holds any number of INF names, each counted once
// whatever its case, and lists the packages listed nodes use in the order
// first listed.
TEST(DriverPackages, CountsEveryNameOnceWhateverItsCaseAndHowMany)
{
    hwsim::Reset();
    PackageTally tally = {};
    const int names = 1000;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < names; ++i) {
            std::string inf = "oem" + std::to_string(i) + "az.inf";
            if (round == 1) {
                std::transform(inf.begin(), inf.end(), inf.begin(), [](char c) { return c >= 'a' ? c - 32 : c; });
            }
            // Every seventh name is used by a listed node in the last round.
            // The byte after the name differs from round to round: it is no
            // part of the name.
            const std::string bytes = inf + static_cast<char>('a' + round);
            ASSERT_NE(CountPackageUse(&tally, bytes.data(), inf.size(), round == 2 && i % 7 == 0), nullptr);
        }
    }
    EXPECT_EQ(tally.count, static_cast<DWORD>(names));
    int listed = 0;
    for (const DriverPackage* package = tally.firstListed; package != nullptr; package = package->nextListed) {
        EXPECT_EQ(package->inf, "oem" + std::to_string(listed * 7) + "az.inf");
        EXPECT_EQ(package->listedNodes, 1u);
        EXPECT_EQ(package->otherNodes, 2u);
        ++listed;
    }
    EXPECT_EQ(listed, (names + 6) / 7);
    FreePackages(&tally);
    EXPECT_EQ(hwsim::OutstandingBlocks(), 0u);
}

// Every byte that does not belong to a well-formed UTF-8 sequence becomes
// U+FFFD on its own; well-formed sequences and escapes pass as they should.
TEST(JsonWriter, ReplacesEachByteOutsideWellFormedUtf8)
{
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    std::string controls;
    std::string escaped;
    for (char c = 0; c < 0x20; ++c) {
        controls += c;
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04x", c);
        escaped += escape;
    }
    const struct {
        std::string in;
        std::string out;                    // between the quotes
        size_t length = std::string::npos;  // of `in` given to the writer
    } cases[] = {
        {"a\"b\\c\t\x01", "a\\\"b\\\\c\\u0009\\u0001"},
        {controls, escaped},
        {"\xE2\x82\xAC", r + r, 2},        // a whole sequence, cut by the length
        {"\xC3\xC3\xA9", r + "\xC3\xA9"},  // a lead byte, then another
        {"\xE2\x82\xC3\xA9", r + r + "\xC3\xA9"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\x80", r},
        {"\xC0\x80", r + r},                  // overlong
        {"\xE0\x80\x80", r + r + r},          // overlong
        {"\xED\xA0\x80", r + r + r},          // a surrogate
        {"\xF5\x80\x80\x80", r + r + r + r},  // past U+10FFFF
        {"\xF4\x90\x80\x80", r + r + r + r},  // U+110000
        {"\xE2\x82x", r + r + "x"},           // cut short
        {"\xF0\x9F\x98", r + r + r},          // cut by the length
    };
    for (const auto& c : cases) {
        char* buffer = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&buffer, &size);
        ASSERT_NE(out, nullptr);
        WriteJsonString(out, c.in.data(), std::min(c.length, c.in.size()));
        fclose(out);
        EXPECT_EQ(std::string(buffer, size), "\"" + c.out + "\"") << c.in;
        free(buffer);
    }
}

// The summary stays one line within its limit whatever the machine holds: a
// name cut after whole characters (0x82 is a lead byte in 932, a character
// of its own in 1252), control characters shown as '?', an identifier too
// long.
TEST(Preview, SummaryStaysOneLineWithinItsLimit)
{
    const std::string lead(120, '\x82');
    const std::string line = "USB\\KIVO: 1 device node would be removed: USB\\CUT\\0 \"";
    const struct {
        UINT acp;
        std::string name;
        std::string identifier;
        std::string out;
    } cases[] = {
        {932, lead, "USB\\KIVO", line + std::string(96, '\x82') + "...\"\n"},
        {1252, "N\x1f\r\n" + lead, "USB\\KIVO", line + "N???" + std::string(93, '\x82') + "...\"\n"},
        {1252, lead, "usb\\" + std::string(250, 'z'),
         "usb\\" + std::string(193, 'z') + "...: no device node would be removed\n"},
    };
    for (const auto& c : cases) {
        hwsim::Reset();
        hwsim::SetAnsiCodePage(c.acp);
        TakeNarrowCodePage();
        std::vector<hwsim::Node> nodes = {hwsim::MakeNode("USB\\CUT\\0", "", false, {"USB\\KIVO"})};
        nodes[0].friendlyName = c.name;
        hwsim::SetDatabase(nodes);
        PreviewResult result = {};
        ::testing::internal::CaptureStdout();
        PreviewDevicesByHardwareId(c.identifier.c_str(), kPreviewSummary, &result);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out) << c.acp;
    }
    // As many labels as fit: the next one, with the count after it, would
    // not have. The identifier grows a byte at a time, so that one of the
    // lines comes to exactly 2,000 characters.
    hwsim::Reset();
    TakeNarrowCodePage();
    std::vector<hwsim::Node> nodes;
    for (int i = 0; i < 40; ++i) {
        nodes.push_back(hwsim::MakeNode("USB\\" + std::string(60, 'p') + "\\" + std::to_string(i + 10), "", false,
                                        {"USB\\KIVO_FIT" + std::string(100, 'y')}));
    }
    hwsim::SetDatabase(nodes);
    for (size_t grown = 0; grown < 70; ++grown) {
        PreviewResult result = {};
        ::testing::internal::CaptureStdout();
        PreviewDevicesByHardwareId(("USB\\KIVO_FIT" + std::string(grown, 'y')).c_str(), kPreviewSummary, &result);
        const std::string out = ::testing::internal::GetCapturedStdout();
        const size_t more = out.rfind(", and ");
        ASSERT_NE(more, std::string::npos) << out;
        const auto named = static_cast<size_t>(std::count(out.begin(), out.end(), ','));
        EXPECT_EQ(out.substr(more), ", and " + std::to_string(40 - named) + " more\n");
        const std::string next =
            out.substr(0, more) + ", " + nodes[named].instanceId + ", and " + std::to_string(40 - named - 1) + " more";
        EXPECT_LE(out.size() - 1, 2000u);
        EXPECT_GT(next.size(), 2000u) << grown;
    }
}

// Only third-party packages are named for deletion: oem, digits, .inf, in
// any case of the ASCII letters.
TEST(Preview, UnusedPackagesAreThirdPartyOnes)
{
    hwsim::Reset();
    TakeNarrowCodePage();
    const char* const infs[] = {"oem109.inf", "OEM9.INF", "Oem0.Inf", "oem.inf",   "oem1x.inf",
                                "xoem1.inf",  "oxm1.inf", "xem1.inf", "oemx9.inf", "oem1.in",
                                "oem1.inf0",  "usb.inf",  "oem2.infx"};
    std::vector<hwsim::Node> nodes;
    hwsim::DriverKeys keys;
    for (const char* inf : infs) {
        const std::string name = "{36fc9e60-c465-11cf-8056-444553540000}\\" + std::to_string(nodes.size());
        nodes.push_back(hwsim::MakeNode("USB\\INF\\" + std::string(inf), "", false, {"USB\\KIVO_INF"}));
        nodes.back().driver = name;
        keys[name].values["InfPath"] = {REG_SZ, std::string(inf) + '\0'};
    }
    hwsim::SetDatabase(nodes);
    hwsim::SetDriverKeys(keys);
    PreviewResult result = {};
    ::testing::internal::CaptureStdout();
    PreviewDevicesByHardwareId("USB\\KIVO_INF", kPreviewUnusedPackages, &result);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "oem109.inf\nOEM9.INF\nOem0.Inf\n");
}

// In the process: no class installer call, nothing removed, every block and
// key given back, whichever allocation fails.
TEST(Preview, ChangesNothingAndLeaksNothingWhateverFails)
{
    // Values longer than the room they are first read into: a listed node's
    // provider (oem12.inf's) and another node's INF name (msmouse.inf's).
    hwsim::DeviceDatabase sample = hwsim::SampleMachine();
    for (auto& key : sample.driverKeys) {
        const std::string inf = key.second.values["infpath"].data;
        if (inf == std::string("oem12.inf", 10)) {
            key.second.values["providername"].data = std::string(300, 'P') + '\0';
        } else if (inf == std::string("msmouse.inf", 12)) {
            key.second.values["infpath"].data = std::string(300, 'm') + ".inf" + '\0';
        }
    }
    for (long run = -1; run < 160; ++run) {
        // Each allocation failing in turn, in JSON and in text (whose
        // writing allocates nothing, so that every failure is a report).
        const long failing = run / 2;
        const PreviewFormat format = run % 2 == 0 ? kPreviewJson : kPreviewText;
        hwsim::Reset();
        // Bytes past every block, which a write past one would change.
        hwsim::SetBytesPastBlocks("\xA5\x5A");
        hwsim::SetDatabase(sample.nodes);
        hwsim::SetDriverKeys(sample.driverKeys);
        TakeNarrowCodePage();
        hwsim::Faults faults;
        faults.allocFailAt = failing;
        hwsim::SetFaults(faults);
        PreviewResult result = {};
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        PreviewDevicesByHardwareId("USB\\VID_1A2B", format, &result);
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(format == kPreviewText || Json::accept(out)) << "allocation " << failing << ": " << out;
        // An allocation that failed was reported.
        const std::vector<hwsim::Call> allocations = hwsim::CallsOf(hwsim::Op::LocalAlloc);
        const bool failed =
            std::any_of(allocations.begin(), allocations.end(), [](const hwsim::Call& c) { return !c.ok; });
        EXPECT_TRUE(format == kPreviewJson ||
                    failed == (err.find("hwpurge: LocalAlloc failed with error 8") != std::string::npos))
            << "allocation " << failing << ": " << err;
        // Every driver key opened was closed.
        const std::vector<hwsim::Call> opened = hwsim::CallsOf(hwsim::Op::OpenDevRegKey);
        EXPECT_EQ(
            static_cast<size_t>(std::count_if(opened.begin(), opened.end(), [](const hwsim::Call& c) { return c.ok; })),
            hwsim::CallsOf(hwsim::Op::RegCloseKey).size());
        EXPECT_TRUE(hwsim::CallsOf(hwsim::Op::CallClassInstaller).empty());
        EXPECT_EQ(hwsim::RemainingInstanceIds().size(), hwsim::Database().size());
        EXPECT_EQ(hwsim::OutstandingBlocks(), 0u) << "allocation " << failing;
        EXPECT_EQ(hwsim::OpenSets(), 0u);
        EXPECT_EQ(hwsim::OpenKeys(), 0u);
    }
}

}  // namespace
