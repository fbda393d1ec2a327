// The SetupAPI facts against the SetupAPI of the machine it runs on, Wine's
// or Windows' own, on nodes made here (see tests/windows/test_nodes.h).
//
// usage: windows_facts
#include <cstdio>
#include <map>

#include "tests/facts/setupapi_facts.h"
#include "tests/windows/test_nodes.h"

namespace facts {
namespace {

int g_failures = 0;
const char* g_fact = "";
int g_made = 0;

}  // namespace

bool MakeNodes(const std::vector<NodeToMake>& nodesToMake, std::vector<std::string>* instanceIds)
{
    instanceIds->clear();
    std::map<unsigned, std::string> shared;  // device number -> device name
    for (const NodeToMake& node : nodesToMake) {
        std::string own;
        std::string& name = node.deviceId == 0 ? own : shared[node.deviceId];
        if (name.empty()) {
            name = "FACT" + std::to_string(++g_made);
        }
        std::string why;
        const testnodes::Property kind =
            node.hasHardwareIds ? testnodes::Property::kNarrow : testnodes::Property::kNone;
        instanceIds->push_back(testnodes::MakeNode(testnodes::kSystemClass, name, kind, node.hardwareIds, &why));
        if (instanceIds->back().empty()) {
            ReportFailure("windows_facts.cpp", __LINE__, why);
            return false;
        }
    }
    return true;
}

bool EnumKeyExists(const std::string& path)
{
    HKEY key = nullptr;
    const std::string name = "SYSTEM\\CurrentControlSet\\Enum\\" + path;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool OnWine()
{
    return testnodes::OnWine();
}

void ReportFailure(const char* file, int line, const std::string& message)
{
    ++g_failures;
    printf("FAIL: %s: %s:%d: %s\n", g_fact, file, line, message.c_str());
}

void NoteMachineChange(const std::string& message)
{
    if (OnWine()) {
        ReportFailure("windows_facts.cpp", __LINE__, "Wine's machine changed by itself: " + message);
    } else {
        printf("note: %s: this machine's own nodes came or went meanwhile: %s\n", g_fact, message.c_str());
    }
}

}  // namespace facts

int main()
{
    if (!testnodes::Begin("windows_facts")) {
        return 1;
    }
    for (size_t i = 0; i < facts::kFactCount; ++i) {
        facts::g_fact = facts::kFacts[i].name;
        const int before = facts::g_failures;
        facts::kFacts[i].run();
        printf("%s: %s\n", facts::g_fact, facts::g_failures == before ? "holds" : "FAILED");
    }
    facts::g_fact = "cleanup";
    facts::g_failures += testnodes::End("windows_facts") ? 0 : 1;
    printf("%u facts on %s: %s\n", static_cast<unsigned>(facts::kFactCount), facts::OnWine() ? "Wine" : "Windows",
           facts::g_failures == 0 ? "passed" : "FAILED");
    return facts::g_failures == 0 ? 0 : 1;
}
