// The whole program run once for every platform operation that can fail, at
// every node where it can, with every last-error code the pass tells apart
// and one it knows nothing of. Each run is checked against a model of the
// rules: which nodes are examined and removed, what reaches standard output
// and which reports reach standard error; and afterwards for what must hold
// whatever happened: no block left, the set destroyed once if it was opened.
#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/entry.h"
#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"
#include "tests/expected_output.h"

namespace {

using hwsim::Call;
using hwsim::Faults;
using hwsim::kNever;
using hwsim::Op;

const char kIdentifier[] = "USB\\VID_1A2B";
const char kGuid[] = "{36fc9e60-c465-11cf-8056-444553540000}";
// Not a system code: no message text exists for it.
const DWORD kUnknownCode = 0x2000BEEF;

const char kOpenName[] = "GetClassDevs(All Present / not Present Devices)";
const char kEnumName[] = "EnumDeviceInfo";
const char kReadName[] = "GetDeviceRegistryProperty";
const char kRemoveName[] = "CallClassInstaller(REMOVE)";
const char kAllocName[] = "LocalAlloc";
const char kInstallParamsName[] = "GetDeviceInstallParams";
const char kSetInstallParamsName[] = "GetDeviceInstallParams(set)";

struct PlannedNode {
    hwsim::Node node;
    const char* match;  // the entry its removal line names, or nullptr
};

std::vector<PlannedNode> Machine()
{
    using hwsim::MakeNode;
    return {
        {MakeNode("USB\\A\\0", kGuid, true, {"USB\\VID_1A2B&PID_4100&REV_0200", "USB\\VID_1A2B&PID_4100"}),
         "USB\\VID_1A2B&PID_4100&REV_0200"},
        {MakeNode("PCI\\B\\1", kGuid, true, {"PCI\\VEN_8086&DEV_A2AF"}), nullptr},
        {hwsim::MakeNodeWithoutIds("USB\\C\\2", kGuid, false), nullptr},
        {MakeNode("USB\\D\\3", kGuid, false, {"USB\\VID_0BDA", "usb\\vid_1a2b&pid_0720"}), "usb\\vid_1a2b&pid_0720"},
        {hwsim::MakeNodeWithBytes("ROOT\\E\\4", kGuid, false, std::string()), nullptr},
        {MakeNode("USB\\F\\5", kGuid, true, {"USB\\VID_1A2B&PID_4100"}), "USB\\VID_1A2B&PID_4100"},
        {MakeNode("HID\\G\\6", kGuid, true, {"HID\\VID_1A2C"}), nullptr},
    };
}

struct Report {
    std::string name;
    DWORD code;
    bool operator==(const Report& other) const { return name == other.name && code == other.code; }
};

void PrintTo(const Report& report, std::ostream* os)
{
    *os << report.name << " #" << report.code;
}

struct Expected {
    bool opened = false;
    std::vector<long> enumerated;
    std::vector<long> examined;  // nodes the enumeration yielded
    std::vector<long> removed;
    std::vector<long> askedForRestart;  // install parameters read: a member's, or the set's (kNever)
    unsigned long restarts = 0;         // ...and said that they finish at the next restart
    unsigned long unknown = 0;          // ...or did not say
    std::string out;
    std::vector<Report> reports;
};

bool AllocationFails(const Faults& f, long count)
{
    return count == f.allocFailAt || (f.allocFailFrom != kNever && count >= f.allocFailFrom);
}

// What the rules say a run on Machine() with these faults does.
Expected Model(const Faults& f)
{
    const std::vector<PlannedNode> machine = Machine();
    const long nodes = static_cast<long>(machine.size());
    Expected e;
    e.out = hwtest::kBanner;
    if (f.openError != 0) {
        e.reports.push_back({kOpenName, f.openError});
        return e;
    }
    e.opened = true;
    long allocations = 0;
    // The set's own install parameters: whether they ask for a restart, as
    // the machine holds them, and as the pass last read them (-1: unknown).
    bool setFlagged = false;
    int setSeen = -1;
    bool setRead = false;
    bool setReported = false;
    auto readSet = [&]() {
        e.askedForRestart.push_back(kNever);
        if (f.setInstallParamsError == 0) {
            return setFlagged ? 1 : 0;
        }
        // Said once: it fails alike every time.
        if (!setReported) {
            e.reports.push_back({kSetInstallParamsName, f.setInstallParamsError});
        }
        setReported = true;
        return -1;
    };
    for (long i = 0;; ++i) {
        e.enumerated.push_back(i);
        if (f.enumStopAt != kNever && i >= f.enumStopAt) {
            if (f.enumStopError != ERROR_SUCCESS && f.enumStopError != ERROR_NO_MORE_ITEMS) {
                e.reports.push_back({kEnumName, f.enumStopError});
            }
            return e;
        }
        if (i == nodes) {
            return e;
        }
        e.examined.push_back(i);
        const PlannedNode& planned = machine[static_cast<size_t>(i)];
        if (f.readFailAt == i) {
            // "Too small" with nothing needed means there is nothing to read.
            if (f.readError == ERROR_INVALID_DATA || f.readError == ERROR_INSUFFICIENT_BUFFER) {
                continue;
            }
            e.reports.push_back({kReadName, f.readError});
            return e;
        }
        if (!planned.node.hasHardwareId || planned.node.hardwareId.empty() || (f.stuckAt == i && f.stuckSize == 0)) {
            continue;
        }
        const long reads = 1 + (f.growAt == i ? f.growTimes : 0);
        for (long r = 0; r < reads; ++r) {
            if (AllocationFails(f, allocations++)) {
                e.reports.push_back({kAllocName, f.allocError});
                return e;
            }
            if (f.stuckAt == i) {
                // Asked again at the size it already got, it still says "too small".
                e.reports.push_back({kReadName, ERROR_INSUFFICIENT_BUFFER});
                return e;
            }
        }
        if (planned.match != nullptr) {
            e.out += hwtest::RemovalLine(planned.match);
            e.removed.push_back(i);
            if (!setRead) {
                setRead = true;
                setSeen = readSet();
            }
            if (f.removeFailsAll || f.removeFailAt == i) {
                e.reports.push_back({kRemoveName, f.removeError});
                continue;
            }
            const bool restart = (f.restartAll || f.restartAt == i) && planned.node.present;
            setFlagged = setFlagged || restart;
            e.askedForRestart.push_back(i);
            int member = restart && !f.restartSetOnly ? 1 : 0;
            if (f.installParamsFailsAll || f.installParamsFailAt == i) {
                member = -1;
                // A removed member may be gone for this call too: no failure.
                if (f.installParamsError != ERROR_NO_SUCH_DEVINST) {
                    e.reports.push_back({kInstallParamsName, f.installParamsError});
                }
            }
            const int before = setSeen;
            const int whole = readSet();
            setSeen = whole != -1 ? whole : setSeen;
            if (member == 1 || (whole == 1 && before != 1)) {
                ++e.restarts;
            } else if (member == -1 && whole != 0) {
                ++e.unknown;
            }
        }
    }
}

std::vector<long> Indexes(Op op)
{
    std::vector<long> indexes;
    for (const Call& call : hwsim::CallsOf(op)) {
        indexes.push_back(call.index);
    }
    return indexes;
}

class FaultMatrix : public ::testing::Test {
protected:
    // Runs the program as main would, with these faults, and checks the run.
    void RunAndCheck(const std::string& label, const Faults& faults)
    {
        SCOPED_TRACE(label);
        hwsim::Reset();
        TakeNarrowCodePage();
        std::vector<hwsim::Node> nodes;
        for (const PlannedNode& planned : Machine()) {
            nodes.push_back(planned.node);
        }
        hwsim::SetDatabase(nodes);
        hwsim::SetFaults(faults);

        char program[] = "hwpurge";
        char identifier[sizeof kIdentifier];
        std::copy(kIdentifier, kIdentifier + sizeof kIdentifier, identifier);
        char* argv[] = {program, identifier, nullptr};
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = RunCommandLine(2, argv);
        fflush(stdout);
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();

        const Expected want = Model(faults);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, want.out);
        unsigned long restarts[2] = {0, 0};
        EXPECT_EQ(Reports(err, restarts), want.reports) << err;
        EXPECT_EQ(restarts[0], want.restarts) << err;
        EXPECT_EQ(restarts[1], want.unknown) << err;
        EXPECT_EQ(Indexes(Op::GetDeviceInstallParams), want.askedForRestart);
        EXPECT_EQ(Indexes(Op::EnumDeviceInfo), want.enumerated);
        EXPECT_EQ(Indexes(Op::CallClassInstaller), want.removed);
        for (const Call& call : hwsim::CallsOf(Op::CallClassInstaller)) {
            EXPECT_EQ(call.size, static_cast<DWORD>(DIF_REMOVE));
        }
        // Every node the enumeration yielded is read, in order, and no other.
        std::vector<long> read = Indexes(Op::GetDeviceRegistryProperty);
        read.erase(std::unique(read.begin(), read.end()), read.end());
        EXPECT_EQ(read, want.examined);
        // The reporter asked for the text of exactly the codes it reported.
        const std::vector<Call> texts = hwsim::CallsOf(Op::FormatMessage);
        ASSERT_EQ(texts.size(), want.reports.size());
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i].size, want.reports[i].code);
        }
        EXPECT_EQ(hwsim::OutstandingBlocks(), 0u);
        EXPECT_EQ(hwsim::OpenSets(), 0u);
        EXPECT_EQ(hwsim::DestroyedSets(), want.opened ? 1u : 0u);
        EXPECT_EQ(hwsim::CallsOf(Op::DestroyDeviceInfoList).size(), want.opened ? 1u : 0u);
        EXPECT_EQ(hwsim::CallsOf(Op::GetClassDevs).size(), 1u);
    }

    // Standard error, parsed line by line; a line of any other shape fails.
    // The restart lines, the last ones when there are any, give restarts[0]
    // (Windows said so) and restarts[1] (it did not say).
    static std::vector<Report> Reports(const std::string& err, unsigned long restarts[2])
    {
        static const std::regex restart(
            "hwpurge: ([0-9]+) device node(s?) (is removed|are removed|may be removed only) when Windows restarts");
        static const std::regex line(
            "hwpurge: (.+) failed with error ([0-9]+|0x[0-9A-F]{8})( \\(ERROR_[A-Z0-9_]+\\))?(: [^\r\n]+)?");
        static const std::string hint =
            "hwpurge: removing devices needs administrator rights; run hwpurge from an elevated prompt";
        std::vector<Report> reports;
        bool afterRestartLine = false;
        size_t start = 0;
        while (start < err.size()) {
            size_t end = err.find('\n', start);
            EXPECT_NE(end, std::string::npos) << "unterminated report";
            if (end == std::string::npos) {
                end = err.size();
            }
            const std::string text = err.substr(start, end - start);
            std::smatch m;
            if (text == hint) {
                // Follows an access-denied removal; not a report of its own.
            } else if (std::regex_match(text, m, restart)) {
                const bool unknown = m[3].str()[0] == 'm';
                const unsigned long count = std::stoul(m[1].str());
                EXPECT_EQ(restarts[unknown ? 1 : 0], 0u) << "a restart line twice, or out of order";
                EXPECT_EQ(restarts[1], 0u) << "the restart lines out of order";
                restarts[unknown ? 1 : 0] = count;
                afterRestartLine = true;
                EXPECT_EQ(m[2].str() == "s", count != 1) << text;
                EXPECT_TRUE(unknown || (m[3].str()[0] == 'a') == (count != 1)) << text;
            } else if (std::regex_match(text, m, line)) {
                EXPECT_FALSE(afterRestartLine) << "a report after a restart line";
                reports.push_back({m[1].str(), static_cast<DWORD>(std::stoul(m[2].str(), nullptr, 0))});
            } else {
                ADD_FAILURE() << "malformed report: " << text;
            }
            start = end + 1;
        }
        return reports;
    }

    // Each case once as it is and once on a platform that answers a
    // zero-byte property with "too small, 0 bytes needed".
    void RunBoth(const std::string& label, Faults faults)
    {
        RunAndCheck(label, faults);
        faults.zeroByteAnswersInsufficient = true;
        RunAndCheck(label + " (zero-byte read answers too small)", faults);
    }

    static long NodeCount() { return static_cast<long>(Machine().size()); }
};

TEST_F(FaultMatrix, OpeningTheSetFails)
{
    for (DWORD code :
         {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_INVALID_DATA),
          static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), static_cast<DWORD>(ERROR_NO_MORE_ITEMS), kUnknownCode}) {
        Faults f;
        f.openError = code;
        RunBoth("open fails with " + std::to_string(code), f);
    }
}

TEST_F(FaultMatrix, EnumerationStopsAtEveryIndex)
{
    for (long at = 0; at <= NodeCount(); ++at) {
        for (DWORD code : {static_cast<DWORD>(ERROR_SUCCESS), static_cast<DWORD>(ERROR_NO_MORE_ITEMS),
                           static_cast<DWORD>(ERROR_INVALID_HANDLE), kUnknownCode}) {
            Faults f;
            f.enumStopAt = at;
            f.enumStopError = code;
            RunBoth("enumeration stops at " + std::to_string(at) + " with " + std::to_string(code), f);
        }
    }
}

TEST_F(FaultMatrix, ReadingEveryNodeFails)
{
    for (long at = 0; at < NodeCount(); ++at) {
        for (DWORD code : {static_cast<DWORD>(ERROR_INVALID_DATA), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
                           static_cast<DWORD>(ERROR_SUCCESS), static_cast<DWORD>(ERROR_ACCESS_DENIED), kUnknownCode}) {
            Faults f;
            f.readFailAt = at;
            f.readError = code;
            RunBoth("read fails at " + std::to_string(at) + " with " + std::to_string(code), f);
        }
    }
}

TEST_F(FaultMatrix, ReadingEveryNodeNeverSettlesOnASize)
{
    const std::vector<PlannedNode> machine = Machine();
    for (long at = 0; at < NodeCount(); ++at) {
        const DWORD size = static_cast<DWORD>(machine[static_cast<size_t>(at)].node.hardwareId.size());
        for (DWORD stuck : {0u, size}) {
            Faults f;
            f.stuckAt = at;
            f.stuckSize = stuck;
            RunBoth("read at " + std::to_string(at) + " keeps asking for " + std::to_string(stuck), f);
        }
    }
}

TEST_F(FaultMatrix, RemovingEveryNodeFails)
{
    for (DWORD code :
         {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST), kUnknownCode}) {
        for (long at = 0; at < NodeCount(); ++at) {
            Faults f;
            f.removeFailAt = at;
            f.removeError = code;
            RunBoth("removal fails at " + std::to_string(at) + " with " + std::to_string(code), f);
        }
        Faults all;
        all.removeFailsAll = true;
        all.removeError = code;
        RunBoth("every removal fails with " + std::to_string(code), all);
    }
}

TEST_F(FaultMatrix, RemovalsFinishAtARestartOrTheirParametersCannotBeRead)
{
    for (long at = 0; at < NodeCount(); ++at) {
        Faults restart;
        restart.restartAt = at;
        RunAndCheck("the removal at " + std::to_string(at) + " waits for a restart", restart);
        for (DWORD code : {static_cast<DWORD>(ERROR_NO_SUCH_DEVINST), kUnknownCode}) {
            Faults f;
            f.installParamsFailAt = at;
            f.installParamsError = code;
            RunAndCheck("install parameters at " + std::to_string(at) + " fail with " + std::to_string(code), f);
        }
    }
    Faults all;
    all.restartAll = true;
    all.restartFlags = DI_NEEDRESTART;
    RunAndCheck("every removal waits for a restart", all);
    // Only the set's own parameters tell, as Wine answers for a removed
    // member: the removal that sets them counts, later ones cannot.
    Faults setOnly = all;
    setOnly.restartSetOnly = true;
    RunAndCheck("only the set's own parameters ask for a restart", setOnly);
    setOnly.restartAll = false;
    setOnly.restartAt = 5;
    RunAndCheck("the set's own parameters ask for a restart at the last removal", setOnly);
    for (long at : {0L, 5L, kNever}) {
        Faults gone = all;
        gone.installParamsFailAt = at;
        gone.installParamsFailsAll = at == kNever;
        gone.installParamsError = ERROR_NO_SUCH_DEVINST;
        RunAndCheck("member " + std::to_string(at) + " answers no such device instance", gone);
        gone.setInstallParamsError = ERROR_INVALID_PARAMETER;
        RunAndCheck("member " + std::to_string(at) + " is gone and the set cannot be read", gone);
    }
    all.installParamsFailAt = 0;
    all.installParamsError = ERROR_INVALID_USER_BUFFER;
    all.removeFailAt = 3;
    all.removeError = ERROR_ACCESS_DENIED;
    RunAndCheck("one removal refused, one unread, the rest wait for a restart", all);
}

TEST_F(FaultMatrix, EveryAllocationFails)
{
    // The lists of nodes 3 and 5 grow while they are read, so that a
    // replacement buffer can fail too, after the one it replaces was freed.
    for (long growAt : {kNever, 3L, 5L}) {
        Faults clean;
        clean.growAt = growAt;
        clean.growTimes = 2;
        RunAndCheck("no failure, growing at " + std::to_string(growAt), clean);
        const long allocations = static_cast<long>(hwsim::CallsOf(Op::LocalAlloc).size());
        ASSERT_GE(allocations, 3);
        for (long at = 0; at < allocations; ++at) {
            for (DWORD code : {static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), kUnknownCode}) {
                Faults f = clean;
                f.allocFailAt = at;
                f.allocError = code;
                RunBoth("allocation " + std::to_string(at) + " fails with " + std::to_string(code) + ", growing at " +
                            std::to_string(growAt),
                        f);
            }
        }
        Faults none = clean;
        none.allocFailFrom = 0;
        RunBoth("no allocation succeeds, growing at " + std::to_string(growAt), none);
    }
}

}  // namespace
