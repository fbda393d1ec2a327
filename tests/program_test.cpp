// The built host program, run as a child process: exact bytes on both
// streams and the exit status.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/child_process.h"
#include "tests/expected_output.h"

namespace {

using hwtest::kBanner;
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
        {"every removal refused",
         {"USB\\VID_1A2B&PID_0720"},
         {"HWPURGE_SIM_FAULTS=remove=5"},
         kBanner + RemovalLine("USB\\VID_1A2B&PID_0720&REV_0110"),
         "hwpurge: CallClassInstaller(REMOVE) failed with error 5: Access is denied.\n",
         0},
        {"double-byte system code page",
         {"ROOT\\BASICDISPLAY"},
         {"HWPURGE_ACP=932"},
         kBanner + RemovalLine("ROOT\\BASICDISPLAY"),
         "",
         0},
    };
    for (const Case& c : cases) {
        const Result r = RunProgram(c.args, c.env);
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

TEST(Program, OutputToAPipeIsHeldUntilExitButATerminalSeesEachLineAtOnce)
{
    const std::vector<std::string> args{"USB\\VID_1A2B&PID_0720"};
    const std::vector<std::string> env{"HWPURGE_SIM_FAULTS=remove=5"};
    const std::string report = "hwpurge: CallClassInstaller(REMOVE) failed with error 5: Access is denied.\n";
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
