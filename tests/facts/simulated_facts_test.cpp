// The SetupAPI facts against the simulated Windows: every fact must hold on
// a freshly reset machine.
#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "tests/facts/setupapi_facts.h"

namespace facts {

bool MakeNodes(const std::vector<NodeToMake>& nodesToMake, std::vector<DWORD>* indexes, DWORD* members)
{
    const char guid[] = "{4d36e97d-e325-11ce-bfc1-08002be10318}";
    // The machine's own nodes before and after, so that no index is trivial.
    std::vector<hwsim::Node> nodes = {hwsim::MakeNode("ROOT\\MACHINE\\0000", guid, true, {"ROOT\\MACHINE"})};
    indexes->clear();
    for (const NodeToMake& node : nodesToMake) {
        const std::string id = "ROOT\\HWPT_FACT\\" + std::to_string(nodes.size());
        indexes->push_back(static_cast<DWORD>(nodes.size()));
        nodes.push_back(node.hasHardwareIds ? hwsim::MakeNodeWithBytes(id, guid, false, node.hardwareIds)
                                            : hwsim::MakeNodeWithoutIds(id, guid, false));
    }
    nodes.push_back(hwsim::MakeNodeWithoutIds("ROOT\\MACHINE\\0001", guid, true));
    hwsim::SetDatabase(nodes);
    *members = static_cast<DWORD>(nodes.size());
    return true;
}

bool OnWine()
{
    return false;
}

void ReportFailure(const char* file, int line, const std::string& message)
{
    ADD_FAILURE_AT((std::string("tests/facts/") + file).c_str(), line) << message;
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
}

INSTANTIATE_TEST_SUITE_P(Simulation, SetupApiFact, ::testing::ValuesIn(kFacts, kFacts + kFactCount),
                         [](const ::testing::TestParamInfo<Fact>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace facts
