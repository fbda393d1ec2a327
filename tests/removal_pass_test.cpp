// The removal pass against the scripted simulated Windows.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"
#include "removal/remove_devices.h"
#include "tests/expected_output.h"

namespace {

using hwsim::Call;
using hwsim::MakeNode;
using hwsim::MakeNodeWithBytes;
using hwsim::MakeNodeWithoutIds;
using hwsim::Node;
using hwsim::Op;
using hwtest::kBanner;

const char kGuid[] = "{36fc9e60-c465-11cf-8056-444553540000}";

struct Output {
    std::string out;
    std::string err;
};

class RemovalPass : public ::testing::Test {
protected:
    void SetUp() override
    {
        hwsim::Reset();
        TakeNarrowCodePage();
        hwsim::SetDatabase({
            MakeNode("USB\\A\\1", kGuid, true, {"USB\\VID_1A2B&PID_4100&REV_0200", "USB\\VID_1A2B&PID_4100"}),
            MakeNode("PCI\\B\\2", kGuid, true, {"PCI\\VEN_8086&DEV_A2AF"}),
            MakeNode("USB\\C\\3", kGuid, false, {"USB\\VID_0BDA", "usb\\vid_1a2b&pid_4100&mi_01"}),
            MakeNodeWithoutIds("USB\\D\\4", kGuid, false),
            MakeNode("USB\\E\\5", kGuid, false, {"USB\\VID_1A2B&PID_4100"}),
        });
    }

    void TearDown() override
    {
        // Every block handed out was given back, whatever way the pass ended.
        EXPECT_EQ(hwsim::OutstandingBlocks(), 0u);
        EXPECT_EQ(hwsim::OpenSets(), 0u);
    }

    Output Pass(const char* identifier)
    {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        RemoveDevicesByHardwareId(identifier);
        Output run;
        run.out = ::testing::internal::GetCapturedStdout();
        run.err = ::testing::internal::GetCapturedStderr();
        return run;
    }

    static std::vector<long> Indexes(Op op)
    {
        std::vector<long> indexes;
        for (const Call& call : hwsim::CallsOf(op)) {
            indexes.push_back(call.index);
        }
        return indexes;
    }
};

TEST_F(RemovalPass, RemovesEveryMatchingNodeOnceNamingItsFirstMatchingEntry)
{
    const Output run = Pass("USB\\VID_1A2B&PID_4100");
    EXPECT_EQ(run.out, kBanner + hwtest::RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200") +
                           hwtest::RemovalLine("usb\\vid_1a2b&pid_4100&mi_01") +
                           hwtest::RemovalLine("USB\\VID_1A2B&PID_4100"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Indexes(Op::CallClassInstaller), (std::vector<long>{0, 2, 4}));
    EXPECT_EQ(hwsim::RemainingInstanceIds(), (std::vector<std::string>{"PCI\\B\\2", "USB\\D\\4"}));
    EXPECT_EQ(hwsim::DestroyedSets(), 1u);
}

TEST_F(RemovalPass, EnumeratesEveryIndexOnceInOrderAndStopsAtNoMoreItems)
{
    Pass("USB\\VID_1A2B&PID_4100");
    EXPECT_EQ(Indexes(Op::EnumDeviceInfo), (std::vector<long>{0, 1, 2, 3, 4, 5}));
    const std::vector<Call> enums = hwsim::CallsOf(Op::EnumDeviceInfo);
    EXPECT_EQ(enums.back().error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    // Opened once with the one flag, before anything else.
    const std::vector<Call>& calls = hwsim::Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().op, Op::GetClassDevs);
    EXPECT_EQ(calls.front().size, static_cast<DWORD>(DIGCF_ALLCLASSES));
    EXPECT_EQ(hwsim::CallsOf(Op::GetClassDevs).size(), 1u);
    EXPECT_EQ(calls.back().op, Op::DestroyDeviceInfoList);
}

TEST_F(RemovalPass, ReadsEachNodeFirstWithNoBufferThenAtExactlyTheReportedSize)
{
    Pass("NOTHING");
    // Walk the recorded calls node by node.
    const std::vector<Call>& calls = hwsim::Calls();
    long node = -1;
    const void* buffer = nullptr;
    DWORD reported = 0;
    for (const Call& call : calls) {
        switch (call.op) {
            case Op::EnumDeviceInfo:
                EXPECT_EQ(buffer, nullptr) << "buffer not released before node " << call.index;
                node = call.index;
                break;
            case Op::GetDeviceRegistryProperty:
                EXPECT_EQ(call.index, node);
                if (call.block == nullptr) {
                    EXPECT_EQ(call.size, 0u);
                } else {
                    EXPECT_EQ(call.block, buffer);
                    EXPECT_EQ(call.size, reported);
                }
                reported = call.required;
                break;
            case Op::LocalAlloc:
                EXPECT_EQ(call.size, reported);
                EXPECT_EQ(buffer, nullptr) << "old buffer kept while a new one was made";
                buffer = call.block;
                break;
            case Op::LocalFree:
                EXPECT_EQ(call.block, buffer);
                buffer = nullptr;
                break;
            default:
                break;
        }
    }
    EXPECT_EQ(hwsim::CallsOf(Op::CallClassInstaller).size(), 0u);
    // One size query and one read for each of the four nodes with a list;
    // one query for the node without.
    EXPECT_EQ(hwsim::CallsOf(Op::GetDeviceRegistryProperty).size(), 9u);
    EXPECT_EQ(hwsim::CallsOf(Op::LocalAlloc).size(), 4u);
    EXPECT_TRUE(hwsim::CallsOf(Op::OpenDevRegKey).empty()) << "the pass reads nothing but hardware IDs";
}

TEST_F(RemovalPass, NoNodesGivesTheBannerOnly)
{
    hwsim::SetDatabase({});
    const Output run = Pass("USB");
    EXPECT_EQ(run.out, kBanner);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(hwsim::DestroyedSets(), 1u);
}

TEST_F(RemovalPass, ZeroByteAndMissingPropertiesArePassedOverSilently)
{
    hwsim::SetDatabase({
        MakeNodeWithBytes("ROOT\\Z\\0", kGuid, false, ""),
        MakeNodeWithoutIds("ROOT\\N\\0", kGuid, false),
        MakeNode("ROOT\\M\\0", kGuid, false, {"ROOT\\M"}),
    });
    const Output run = Pass("ROOT");
    EXPECT_EQ(run.out, kBanner + hwtest::RemovalLine("ROOT\\M"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Indexes(Op::CallClassInstaller), (std::vector<long>{2}));
    // The zero-byte list was never given a buffer.
    EXPECT_EQ(hwsim::CallsOf(Op::LocalAlloc).size(), 1u);
}

TEST_F(RemovalPass, ZeroSizeTooSmallAnswerIsAnEmptyListNotAnEndlessLoop)
{
    hwsim::SetDatabase({
        MakeNodeWithBytes("ROOT\\Z\\0", kGuid, false, ""),
        MakeNode("ROOT\\M\\0", kGuid, false, {"ROOT\\M"}),
    });
    hwsim::Faults faults;
    faults.zeroByteAnswersInsufficient = true;
    hwsim::SetFaults(faults);
    const Output run = Pass("ROOT");
    EXPECT_EQ(run.out, kBanner + hwtest::RemovalLine("ROOT\\M"));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Indexes(Op::GetDeviceRegistryProperty), (std::vector<long>{0, 1, 1}));
}

TEST_F(RemovalPass, TooSmallAnswerThatAsksForNoMoreEndsThePass)
{
    hwsim::Faults faults;
    faults.stuckAt = 1;
    faults.stuckSize = 7;
    hwsim::SetFaults(faults);
    const Output run = Pass("USB\\VID_1A2B&PID_4100");
    // Node 1 answers "too small, 7 bytes" even to a 7-byte buffer.
    EXPECT_EQ(run.out, kBanner + hwtest::RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200"));
    EXPECT_EQ(run.err,
              "hwpurge: GetDeviceRegistryProperty failed with error 122: "
              "The data area passed to a system call is too small.\n");
    EXPECT_EQ(Indexes(Op::GetDeviceRegistryProperty), (std::vector<long>{0, 0, 1, 1}));
    EXPECT_EQ(Indexes(Op::EnumDeviceInfo), (std::vector<long>{0, 1}));
    EXPECT_EQ(hwsim::DestroyedSets(), 1u);
}

TEST_F(RemovalPass, GrowingListIsReadAgainAtEachNewSize)
{
    hwsim::Faults faults;
    faults.growAt = 0;
    faults.growTimes = 2;
    hwsim::SetFaults(faults);
    Pass("USB\\VID_1A2B&PID_4100");
    std::vector<DWORD> sizes;
    for (const Call& call : hwsim::CallsOf(Op::GetDeviceRegistryProperty)) {
        if (call.index == 0) {
            sizes.push_back(call.size);
        }
    }
    const DWORD first =
        static_cast<DWORD>(sizeof "USB\\VID_1A2B&PID_4100&REV_0200" + sizeof "USB\\VID_1A2B&PID_4100" + 1);
    const DWORD grown = static_cast<DWORD>(sizeof "GROWN\\1");
    EXPECT_EQ(sizes, (std::vector<DWORD>{0, first, first + grown, first + 2 * grown}));
    EXPECT_EQ(Indexes(Op::CallClassInstaller), (std::vector<long>{0, 2, 4}));
}

TEST_F(RemovalPass, NonPresentNodesAreRemovedLikePresentOnes)
{
    hwsim::SetDatabase({MakeNode("USB\\GONE\\1", kGuid, false, {"USB\\KIVO"})});
    const Output run = Pass("usb\\kivo");
    EXPECT_EQ(run.out, kBanner + hwtest::RemovalLine("USB\\KIVO"));
    EXPECT_TRUE(hwsim::RemainingInstanceIds().empty());
}

TEST_F(RemovalPass, UnterminatedListIsReadNoFurtherThanItsLength)
{
    // First with blocks exactly as long as the property, so that a read past
    // the last byte stops the test under AddressSanitizer; then with an "O"
    // just past every block, which would make the third list match.
    for (const std::string& past : {std::string(), std::string("O\0", 2)}) {
        SCOPED_TRACE(past.empty() ? "exact blocks" : "bytes past the blocks");
        hwsim::Reset();
        hwsim::SetBytesPastBlocks(past);
        hwsim::SetDatabase({
            MakeNodeWithBytes("USB\\T\\1", kGuid, false, std::string("PCI\\X\0USB\\KIVO", 14)),
            MakeNodeWithBytes("USB\\T\\2", kGuid, false, std::string("USB\\KIVO\0", 9)),
            MakeNodeWithBytes("USB\\T\\3", kGuid, false, std::string("USB\\KIV", 7)),
        });
        const Output run = Pass("usb\\kivo");
        EXPECT_EQ(run.out, kBanner + hwtest::RemovalLine("USB\\KIVO") + hwtest::RemovalLine("USB\\KIVO"));
        EXPECT_EQ(Indexes(Op::CallClassInstaller), (std::vector<long>{0, 1}));
        EXPECT_EQ(hwsim::OutstandingBlocks(), 0u);
    }
}

TEST_F(RemovalPass, ListLengthNeverExceedsTheBuffer)
{
    // The platform claims 100 bytes more than the 6 it wrote; the walk stays
    // inside the block. First with exact blocks (AddressSanitizer watches the
    // byte past it), then with a matching entry just past every block.
    for (const std::string& past : {std::string(), std::string("USB\0", 4)}) {
        SCOPED_TRACE(past.empty() ? "exact blocks" : "bytes past the blocks");
        hwsim::Reset();
        hwsim::SetBytesPastBlocks(past);
        hwsim::SetDatabase({MakeNodeWithBytes("USB\\O\\1", kGuid, false, std::string("PCI\\X\0", 6))});
        hwsim::Faults faults;
        faults.overstateAt = 0;
        faults.overstateBy = 100;
        hwsim::SetFaults(faults);
        const Output run = Pass("USB");
        EXPECT_EQ(run.out, kBanner);
        EXPECT_EQ(hwsim::CallsOf(Op::CallClassInstaller).size(), 0u);
        EXPECT_EQ(hwsim::OutstandingBlocks(), 0u);
    }
}

TEST_F(RemovalPass, ASecondPassInTheSameProcessSeesOnlyWhatTheFirstLeft)
{
    Pass("USB\\VID_1A2B&PID_4100&REV");
    const Output run = Pass("USB\\VID_1A2B");
    EXPECT_EQ(run.out, kBanner + hwtest::RemovalLine("usb\\vid_1a2b&pid_4100&mi_01") +
                           hwtest::RemovalLine("USB\\VID_1A2B&PID_4100"));
    EXPECT_EQ(run.err, "");
    // Node 0 is gone from the second set, so the others moved up one.
    EXPECT_EQ(Indexes(Op::CallClassInstaller), (std::vector<long>{0, 1, 3}));
    EXPECT_EQ(hwsim::RemainingInstanceIds(), (std::vector<std::string>{"PCI\\B\\2", "USB\\D\\4"}));
}

struct FailureRow {
    const char* name;
    hwsim::Faults faults;
    std::string out;  // after the banner
    std::string err;
    std::vector<long> removed;  // indexes given to the class installer
    std::vector<long> enumerated;
    size_t destroyed;
};

hwsim::Faults OpenFails()
{
    hwsim::Faults f;
    f.openError = ERROR_ACCESS_DENIED;
    return f;
}

hwsim::Faults ReadFails(long at, DWORD code)
{
    hwsim::Faults f;
    f.readFailAt = at;
    f.readError = code;
    return f;
}

hwsim::Faults RemoveFails(long at, bool all, DWORD code = ERROR_ACCESS_DENIED)
{
    hwsim::Faults f;
    f.removeFailAt = at;
    f.removeFailsAll = all;
    f.removeError = code;
    return f;
}

hwsim::Faults EnumStops(long at, DWORD code)
{
    hwsim::Faults f;
    f.enumStopAt = at;
    f.enumStopError = code;
    return f;
}

hwsim::Faults AllocFails(long at)
{
    hwsim::Faults f;
    f.allocFailAt = at;
    return f;
}

TEST_F(RemovalPass, EachFailureIsReportedAndEndsOrContinuesThePassAsItShould)
{
    const std::string a = hwtest::RemovalLine("USB\\VID_1A2B&PID_4100&REV_0200");
    const std::string c = hwtest::RemovalLine("usb\\vid_1a2b&pid_4100&mi_01");
    const std::string e = hwtest::RemovalLine("USB\\VID_1A2B&PID_4100");
    const std::string denied = "Access is denied.";
    // Once per run, after the first refused removal only.
    const std::string& hint = hwtest::kElevationHint;
    const FailureRow rows[] = {
        {"set cannot be opened",
         OpenFails(),
         "",
         "hwpurge: GetClassDevs(All Present / not Present Devices) failed with error 5: " + denied + "\n",
         {},
         {},
         0},
        {"read fails at node 2",
         ReadFails(2, ERROR_NOT_ENOUGH_MEMORY),
         a,
         "hwpurge: GetDeviceRegistryProperty failed with error 8: Not enough memory resources are available to "
         "process this command.\n",
         {0},
         {0, 1, 2},
         1},
        {"read fails with a code the system has no text for",
         ReadFails(0, 0x2BAD),
         "",
         "hwpurge: GetDeviceRegistryProperty failed with error 11181\n",
         {},
         {0},
         1},
        {"no property is not a failure",
         ReadFails(1, ERROR_INVALID_DATA),
         a + c + e,
         "",
         {0, 2, 4},
         {0, 1, 2, 3, 4, 5},
         1},
        {"class installer fails at node 2",
         RemoveFails(2, false),
         a + c + e,
         "hwpurge: CallClassInstaller(REMOVE) failed with error 5: " + denied + "\n" + hint,
         {0, 2, 4},
         {0, 1, 2, 3, 4, 5},
         1},
        {"class installer fails everywhere",
         RemoveFails(hwsim::kNever, true),
         a + c + e,
         "hwpurge: CallClassInstaller(REMOVE) failed with error 5: " + denied + "\n" + hint +
             "hwpurge: CallClassInstaller(REMOVE) failed with error 5: " + denied + "\n" +
             "hwpurge: CallClassInstaller(REMOVE) failed with error 5: " + denied + "\n",
         {0, 2, 4},
         {0, 1, 2, 3, 4, 5},
         1},
        {"class installer answers with a setup code",
         RemoveFails(hwsim::kNever, true, ERROR_IN_WOW64),
         a + c + e,
         "hwpurge: CallClassInstaller(REMOVE) failed with error 0xE0000235 (ERROR_IN_WOW64)\n"
         "hwpurge: CallClassInstaller(REMOVE) failed with error 0xE0000235 (ERROR_IN_WOW64)\n"
         "hwpurge: CallClassInstaller(REMOVE) failed with error 0xE0000235 (ERROR_IN_WOW64)\n",
         {0, 2, 4},
         {0, 1, 2, 3, 4, 5},
         1},
        {"enumeration stops with a code",
         EnumStops(3, ERROR_INVALID_HANDLE),
         a + c,
         "hwpurge: EnumDeviceInfo failed with error 6: The handle is invalid.\n",
         {0, 2},
         {0, 1, 2, 3},
         1},
        {"enumeration stops with no error", EnumStops(3, ERROR_SUCCESS), a + c, "", {0, 2}, {0, 1, 2, 3}, 1},
        {"no memory for the first buffer",
         AllocFails(0),
         "",
         "hwpurge: LocalAlloc failed with error 8: Not enough memory resources are available to process this "
         "command.\n",
         {},
         {0},
         1},
        {"no memory at node 2",
         AllocFails(2),
         a,
         "hwpurge: LocalAlloc failed with error 8: Not enough memory resources are available to process this "
         "command.\n",
         {0},
         {0, 1, 2},
         1},
    };
    for (const FailureRow& row : rows) {
        SetUp();
        hwsim::SetFaults(row.faults);
        const Output run = Pass("USB\\VID_1A2B&PID_4100");
        EXPECT_EQ(run.out, kBanner + row.out) << row.name;
        EXPECT_EQ(run.err, row.err) << row.name;
        EXPECT_EQ(Indexes(Op::CallClassInstaller), row.removed) << row.name;
        EXPECT_EQ(Indexes(Op::EnumDeviceInfo), row.enumerated) << row.name;
        EXPECT_EQ(hwsim::DestroyedSets(), row.destroyed) << row.name;
        EXPECT_EQ(hwsim::OutstandingBlocks(), 0u) << row.name;
        EXPECT_EQ(hwsim::OpenSets(), 0u) << row.name;
    }
}

}  // namespace
