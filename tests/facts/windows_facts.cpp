// The SetupAPI facts against the SetupAPI of the machine it runs on, Wine's
// or Windows' own, on nodes made here (see tests/windows/test_nodes.h).
//
// usage: windows_facts
#include <cstdio>
#include <cstring>
#include <map>

#include "tests/facts/setupapi_facts.h"
#include "tests/windows/test_nodes.h"

namespace facts {
namespace {

int g_failures = 0;
const char* g_fact = "";
int g_made = 0;

// Device instance IDs are at most 200 characters.
const DWORD kMaxInstanceId = 201;

}  // namespace

bool MakeNodes(const std::vector<NodeToMake>& nodesToMake, std::vector<DWORD>* indexes, DWORD* members)
{
    std::vector<std::string> ids;
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
        ids.push_back(testnodes::MakeNode(testnodes::kSystemClass, name, kind, node.hardwareIds, &why));
        if (ids.back().empty()) {
            ReportFailure("windows_facts.cpp", __LINE__, why);
            return false;
        }
    }
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
        ReportFailure("windows_facts.cpp", __LINE__, "listing the nodes failed");
        return false;
    }
    indexes->assign(nodesToMake.size(), static_cast<DWORD>(-1));
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        char id[kMaxInstanceId] = "";
        SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr);
        for (size_t i = 0; i < ids.size(); ++i) {
            if (_stricmp(ids[i].c_str(), id) == 0) {
                (*indexes)[i] = index;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    *members = index;
    for (size_t i = 0; i < ids.size(); ++i) {
        if ((*indexes)[i] == static_cast<DWORD>(-1)) {
            ReportFailure("windows_facts.cpp", __LINE__, "node " + ids[i] + " is not listed after it was made");
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
