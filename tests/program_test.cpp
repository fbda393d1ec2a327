// The built host program, run as a child process: exact bytes on both
// streams and the exit status.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"
#include "removal/remove_devices.h"
#include "tests/child_process.h"
#include "tests/expected_output.h"

namespace {

using hwtest::kBanner;
using hwtest::kElevationHint;
using hwtest::kUsage;
using hwtest::RemovalLine;
using hwtest::Result;
using hwtest::RunMerged;
using hwtest::RunProgram;

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string out;
    std::string err;
    int status;
};

TEST(Program, ArgumentsOutputAndExitStatus)
{
    const Case cases[] = {
        {"no argument", {}, {}, kUsage, "", 2},
        {"two arguments", {"USB\\VID_1A2B&PID_4100", "x"}, {}, kUsage, "", 2},
        {"three arguments", {"a", "b", "c"}, {}, kUsage, "", 2},
        {"empty argument", {""}, {}, "", "hwpurge: the hardware ID is empty; nothing was removed\n", 2},
        {"matches nothing", {"PCI\\VEN_10DE"}, {}, kBanner, "", 0},
        {"removes the KIVO 4100 nodes",
         {"usb\\vid_1a2b&pid_4100"},
         {},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200") + RemovalLine("usb\\vid_1a2b&pid_4100&mi_01") +
             RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200&MI_00"),
         "",
         0},
        {"removes the KIVO 720",
         {"USB\\VID_1A2B&PID_0720"},
         {},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_0720&REV_0110"),
         "",
         0},
        {"argument passed on unchanged, spaces and all", {" USB\\VID_1A2B"}, {}, kBanner, "", 0},
        {"set cannot be opened",
         {"USB"},
         {"HWPURGE_SIM_FAULTS=open=5"},
         kBanner,
         "hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 5: Access is denied.\n",
         0},
        {"a fault script the simulated machine cannot follow",
         {"USB"},
         {"HWPURGE_SIM_FAULTS=bogus"},
         kBanner,
         "simulated Windows: HWPURGE_SIM_FAULTS: unknown fault 'bogus'\n"
         "hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 87: The parameter is incorrect.\n",
         0},
        {"usage comes before the simulated machine's faults", {}, {"HWPURGE_SIM_FAULTS=bogus"}, kUsage, "", 2},
        {"no memory for the first list",
         {"USB"},
         {"HWPURGE_SIM_FAULTS=alloc@0"},
         kBanner,
         "hwpurge: LocalAlloc failed with error 8: Not enough memory resources are available to process this "
         "command.\n",
         0},
        {"every removal refused",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=remove=5"},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_0720&REV_0110"),
         "hwpurge: CallClassInstaller(REMOVE) failed with error 5: Access is denied.\n" + kElevationHint,
         0},
        {"the removal of member 4 alone refused, of three that match",
         {"USB\\VID_1A2B&PID_4100"},
         {"HWPURGE_SIM_FAULTS=remove@4=5"},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200") + RemovalLine("usb\\vid_1a2b&pid_4100&mi_01") +
             RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200&MI_00"),
         "hwpurge: CallClassInstaller(REMOVE) failed with error 5: Access is denied.\n" + kElevationHint,
         0},
        // Install parameters with flags that ask for no restart, on the
        // KIVO 4100 in use.
        {"a removal leaves other flags",
         {"usb\\vid_1a2b&pid_4100"},
         {"HWPURGE_SIM_FAULTS=restart=4"},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200") + RemovalLine("usb\\vid_1a2b&pid_4100&mi_01") +
             RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200&MI_00"),
         "",
         0},
        // As Wine answers: no member's install parameters after its removal,
        // and none of the set's own. Reported once; Windows said nothing.
        {"install parameters answered as Wine does",
         {"USB\\VID_1A2B&PID_4100"},
         {"HWPURGE_SIM_FAULTS=restart,installparams=0xE000020B,setinstallparams=87"},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200") + RemovalLine("usb\\vid_1a2b&pid_4100&mi_01") +
             RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200&MI_00"),
         "hwpurge: GetDeviceInstallParams(set) failed with error 87: The parameter is incorrect.\n"
         "hwpurge: 3 device nodes may be removed only when Windows restarts\n",
         0},
        // A lead byte closing the identifier counts as its end only in a
        // double-byte code page; a setting that is not just a number is
        // ignored and 1252 stays.
        {"code page 932",
         {"USB\\VID_1A2B&PID_0720\x82"},
         {"HWPURGE_ACP=932"},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_0720"),
         "",
         0},
        {"code page setting with a tail", {"USB\\VID_1A2B&PID_0720\x82"}, {"HWPURGE_ACP=932x"}, kBanner, "", 0},
        {"code page setting after a space", {"USB\\VID_1A2B&PID_0720\x82"}, {"HWPURGE_ACP= 932"}, kBanner, "", 0},
    };
    for (const Case& c : cases) {
        const Result r = RunProgram(c.args, c.env);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

TEST(Program, DoubleByteSystemCodePage)
{
    // Full-width small letters, stored as UTF-16 as Windows stores them.
    const std::string path = testing::TempDir() + "hwpurge-full-width-" + std::to_string(getpid()) + ".reg";
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\W\\1]\r\n"
        "\"HardwareID\"=\"USB\\\\\xEF\xBD\x8B\xEF\xBD\x89\xEF\xBD\x96\xEF\xBD\x8F\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\A\\1]\r\n"
        "\"HardwareID\"=\"USB\\\\kivo\"\r\n",
        file);
    fclose(file);
    // "USB\" and full-width K, I in code page 932.
    const std::string identifier = "USB\\\x82\x6A\x82\x68";
    // In 1252 the same bytes are four single characters and match nothing; the file stays as it was.
    const Result in1252 = RunProgram({identifier}, {"HWPURGE_DEVICE_DB=" + path});
    EXPECT_EQ(in1252.out, kBanner);
    const Result in932 = RunProgram({identifier}, {"HWPURGE_ACP=932", "HWPURGE_DEVICE_DB=" + path});
    EXPECT_EQ(in932.out, kBanner + RemovalLine("USB\\\x82\x8B\x82\x89\x82\x96\x82\x8F"));
    EXPECT_EQ(in932.err, "");
    remove(path.c_str());
}

// How many platform calls hwpurge makes on the sample before it calls the
// class installer for the first node `identifier` matches.
size_t CallsBeforeTheFirstRemoval(const char* identifier)
{
    hwsim::Reset();
    hwsim::SetDatabase(hwsim::SampleDatabase());
    TakeNarrowCodePage();
    ::testing::internal::CaptureStdout();
    RemoveDevicesByHardwareId(identifier);
    ::testing::internal::GetCapturedStdout();
    const std::vector<hwsim::Call>& calls = hwsim::Calls();
    size_t count = 0;
    while (count < calls.size() && calls[count].op != hwsim::Op::CallClassInstaller) {
        ++count;
    }
    return count;
}

// On a terminal each line is out before the call after it, even a call that
// never returns: the simulation stops the process inside the class installer
// once it has made that many calls.
TEST(Program, OnATerminalEachLineIsOutBeforeTheCallsAfterIt)
{
    const char identifier[] = "USB\\VID_1A2B&PID_0720";
    const size_t limit = CallsBeforeTheFirstRemoval(identifier);
    ASSERT_GT(limit, 0u);
    const std::string limitText = std::to_string(limit);
    const struct {
        std::vector<std::string> args;
        std::string faults;
        std::string expected;
    } cases[] = {
        {{"USB"},
         "HWPURGE_SIM_FAULTS=open=5",
         kBanner + "hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 5: Access is denied.\n"},
        {{identifier},
         "HWPURGE_SIM_FAULTS=calls=" + limitText,
         kBanner + RemovalLine("USB\\VID_1A2B&PID_0720&REV_0110") + "simulated Windows: more than " + limitText +
             " calls; the program seems to be looping\n"},
    };
    for (const auto& c : cases) {
        std::string expected;
        for (char ch : c.expected) {
            if (ch == '\n') {
                expected += '\r';  // the terminal's own line end
            }
            expected += ch;
        }
        EXPECT_EQ(RunMerged(true, c.args, {c.faults}), expected) << c.faults;
    }
}

TEST(Program, OutputToAPipeIsHeldUntilExitButATerminalSeesEachLineAtOnce)
{
    const std::vector<std::string> args{"USB\\VID_1A2B&PID_0720"};
    const std::vector<std::string> env{"HWPURGE_SIM_FAULTS=remove=5"};
    const std::string report =
        "hwpurge: CallClassInstaller(REMOVE) failed with error 5: Access is denied.\n" + kElevationHint;
    const std::string removed = RemovalLine("USB\\VID_1A2B&PID_0720&REV_0110");

    // Redirected, the report (unbuffered) overtakes the buffered lines.
    const std::string piped = RunMerged(false, args, env);
    EXPECT_EQ(piped, report + kBanner + removed);

    // On a terminal the banner and removal line are out before the report.
    const std::string onTerminal = RunMerged(true, args, env);
    const std::string expected = kBanner + removed + report;
    // The terminal turns each newline into CR LF.
    std::string translated;
    for (char c : expected) {
        if (c == '\n') {
            translated += '\r';
        }
        translated += c;
    }
    EXPECT_EQ(onTerminal, translated);
}

}  // namespace
