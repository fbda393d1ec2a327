// The failure reporter: its one line, and the last-error value it leaves.
#include <string>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "removal/report_failure.h"

namespace {

struct ReportCase {
    DWORD code;
    std::string line;
};

TEST(ReportFailure, WritesOneLineAndLeavesTheLastErrorAsItFoundIt)
{
    const ReportCase cases[] = {
        {ERROR_FILE_NOT_FOUND, "hwpurge: Op failed with error 2: The system cannot find the file specified.\n"},
        {ERROR_INVALID_PARAMETER, "hwpurge: Op failed with error 87: The parameter is incorrect.\n"},
        {ERROR_NO_MORE_ITEMS, "hwpurge: Op failed with error 259: No more data is available.\n"},
        {ERROR_NOT_FOUND, "hwpurge: Op failed with error 1168: Element not found.\n"},
        // The system's text has inserts and no arguments: they stay as
        // written, and its two lines become one.
        {34,
         "hwpurge: Op failed with error 34: The wrong diskette is in the drive. "
         "Insert %2 (Volume Serial Number: %3) into drive %1.\n"},
        // Trailing spaces and line breaks go, whatever their order.
        // From 0x10000 on, hex as Windows tools write it.
        {0x20001, "hwpurge: Op failed with error 0x00020001: Text with spaces after it.\n"},
        // Nothing to trim: the text stays whole.
        {0x20002, "hwpurge: Op failed with error 0x00020002: No line break at its end\n"},
        // SetupAPI's codes have no text: their SDK name instead.
        {ERROR_NO_SUCH_DEVINST, "hwpurge: Op failed with error 0xE000020B (ERROR_NO_SUCH_DEVINST)\n"},
        {ERROR_IN_WOW64, "hwpurge: Op failed with error 0xE0000235 (ERROR_IN_WOW64)\n"},
        {ERROR_NOT_INSTALLED, "hwpurge: Op failed with error 0xE0001000 (ERROR_NOT_INSTALLED)\n"},
        // Neither text nor name: the code alone.
        {0x12345, "hwpurge: Op failed with error 0x00012345\n"},
        {0x10000, "hwpurge: Op failed with error 0x00010000\n"},
        {0xE000020A, "hwpurge: Op failed with error 0xE000020A\n"},
        {0xFFFF, "hwpurge: Op failed with error 65535\n"},
    };
    for (const ReportCase& c : cases) {
        hwsim::Reset();
        hwsim::SetMessageText(0x20001, "Text with spaces after it.  \r\n \r\n");
        hwsim::SetMessageText(0x20002, "No line break at its end");
        SetLastError(c.code);
        ::testing::internal::CaptureStderr();
        const bool result = ReportFailure("Op");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
        EXPECT_FALSE(result);
        EXPECT_EQ(GetLastError(), c.code);
        EXPECT_EQ(hwsim::OutstandingBlocks(), 0u) << "message text not released for " << c.code;
    }
}

}  // namespace
