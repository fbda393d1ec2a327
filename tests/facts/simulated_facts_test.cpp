// The SetupAPI facts against the simulated Windows: every fact must hold on
// a freshly reset machine whose device database is an export file, which
// removals rewrite as the registry would change.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "tests/facts/setupapi_facts.h"
#include "tests/files.h"

namespace facts {
namespace {

const char kEnumKey[] = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";

std::string DatabasePath()
{
    return testing::TempDir() + "hwpurge-facts-" + std::to_string(getpid()) + ".reg";
}

// A node's key and values in a REGEDIT4 export, whose bytes stand as they are.
std::string NodeText(const std::string& instanceId, bool hasIds, const std::string& ids, bool present)
{
    std::string text = kEnumKey + instanceId + "]\r\n";
    if (hasIds) {
        text += "\"HardwareID\"=hex(7):";
        char byte[4];
        for (size_t i = 0; i < ids.size(); ++i) {
            snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x", static_cast<unsigned char>(ids[i]));
            text += byte;
        }
        text += "\r\n";
    }
    text += "\"ClassGUID\"=\"" + std::string(kNodeClassGuid) + "\"\r\n\"Class\"=\"" + kNodeClassName + "\"\r\n\r\n";
    if (present) {
        text += kEnumKey + instanceId + "\\Control]\r\n\r\n";
    }
    return text;
}

}  // namespace

bool MakeNodes(const std::vector<NodeToMake>& nodesToMake, std::vector<std::string>* instanceIds)
{
    // The machine's own nodes before and after, so that no index is trivial.
    std::string text = "REGEDIT4\r\n\r\n" + std::string(kEnumKey) + "ROOT]\r\n\r\n" + kEnumKey +
                       "ROOT\\MACHINE]\r\n\r\n" +
                       NodeText("ROOT\\MACHINE\\0000", true, std::string("ROOT\\MACHINE\0\0", 14), true);
    std::map<unsigned, std::string> shared;  // device number -> device key
    std::map<std::string, int> instances;    // device key -> instances made
    int made = 0;
    instanceIds->clear();
    for (const NodeToMake& node : nodesToMake) {
        std::string own;
        std::string& device = node.deviceId == 0 ? own : shared[node.deviceId];
        if (device.empty()) {
            device = "ROOT\\HWPT_FACT" + std::to_string(++made);
            text += kEnumKey + device + "]\r\n\r\n";
        }
        char instance[8];
        snprintf(instance, sizeof instance, "%04d", instances[device]++);
        instanceIds->push_back(device + "\\" + instance);
        text += NodeText(instanceIds->back(), node.hasHardwareIds, node.hardwareIds, false);
    }
    text += NodeText("ROOT\\MACHINE\\0001", false, "", true);
    hwtest::WriteFile(DatabasePath(), text);
    hwsim::UseDatabaseFile(DatabasePath());
    if (hwsim::Machine().startError != ERROR_SUCCESS) {
        ReportFailure("simulated_facts_test.cpp", __LINE__, hwsim::Machine().startMessage);
        return false;
    }
    return true;
}

bool EnumKeyExists(const std::string& path)
{
    const std::string wanted = kEnumKey + path + "]";
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    const std::string text = hwtest::ReadFile(DatabasePath());
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end;
        if (end - start == wanted.size() &&
            std::equal(wanted.begin(), wanted.end(), text.begin() + static_cast<long>(start),
                       [&](char a, char b) { return fold(a) == fold(b); })) {
            return true;
        }
        start = end + 2;
    }
    return false;
}

bool OnWine()
{
    return false;
}

void ReportFailure(const char* file, int line, const std::string& message)
{
    ADD_FAILURE_AT((std::string("tests/facts/") + file).c_str(), line) << message;
}

// The simulated machine changes only when a fact changes it.
void NoteMachineChange(const std::string& message)
{
    ADD_FAILURE() << "the simulated machine changed by itself: " << message;
}

void PrintTo(const Fact& fact, std::ostream* os)
{
    *os << fact.name;
}

namespace {

class SetupApiFact : public ::testing::TestWithParam<Fact> {};

TEST_P(SetupApiFact, HoldsOnTheSimulatedWindows)
{
    hwsim::Reset();
    GetParam().run();
    EXPECT_EQ(hwsim::OpenSets(), 0u);
    EXPECT_EQ(hwsim::OutstandingBlocks(), 0u);
    remove(DatabasePath().c_str());
}

INSTANTIATE_TEST_SUITE_P(Simulation, SetupApiFact, ::testing::ValuesIn(kFacts, kFacts + kFactCount),
                         [](const ::testing::TestParamInfo<Fact>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace facts
