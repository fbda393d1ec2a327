// The facts, in Windows' own names only. Each says where it comes from: a
// check of Wine's conformance tests that is not marked todo_wine (those run
// on Windows in Wine's test farm, so they state what Windows answers), or
// the documentation. Where Wine is known to answer otherwise than Windows,
// the check says what Windows answers and expects Wine's own answer only on
// Wine, the way Wine marks its tests todo_wine; a Wine that comes to answer
// as Windows does then fails the check and the mark can go.
#include "tests/facts/setupapi_facts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace facts {
namespace {

// Windows' SPDRP_MAXIMUM_PROPERTY: the first number that names no property.
// (MinGW-w64's header still gives 0x24, which is SPDRP_BASE_CONTAINERID.)
const DWORD kPastLastProperty = 0x25;

const DWORD kSentinel = 0xdeadbeef;
// Not a system code: no message text exists for it.
const DWORD kUnknownCode = 0x2000BEEF;
// ERROR_BAD_EXE_FORMAT, whose text has an insert.
const DWORD kTextWithInsert = 193;

std::string Hex(DWORD value)
{
    char text[16];
    snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(value));
    return text;
}

void Check(bool ok, int line, const std::string& message)
{
    if (!ok) {
        ReportFailure("setupapi_facts.cpp", line, message);
    }
}

#define FACT_OK(condition, message) Check((condition), __LINE__, (message))
// `windows` is what Windows answers; on Wine the check expects `wine`.
#define FACT_OK_TODO_WINE(windows, wine, message) Check(OnWine() ? (wine) : (windows), __LINE__, (message))

// The call failed, and with this last error.
bool FailedWith(BOOL ret, DWORD error)
{
    return !ret && GetLastError() == error;
}

bool SameText(const std::string& a, const char* b)
{
    return a.size() == strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

std::string MultiSz(const std::vector<std::string>& entries)
{
    std::string bytes;
    for (const std::string& entry : entries) {
        bytes += entry;
        bytes += '\0';
    }
    return bytes + '\0';
}

const std::string kIds = MultiSz({"HWPT_FACT\\SIZE&REV_01", "HWPT_FACT\\SIZE"});
const DWORD kIdsSize = static_cast<DWORD>(kIds.size());

HDEVINFO OpenAll()
{
    SetLastError(kSentinel);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    FACT_OK(set != INVALID_HANDLE_VALUE, "opening a set of every class failed with " + Hex(GetLastError()));
    return set;
}

bool Member(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* record)
{
    memset(record, 0, sizeof *record);
    record->cbSize = sizeof *record;
    SetLastError(kSentinel);
    const BOOL ret = SetupDiEnumDeviceInfo(set, index, record);
    FACT_OK(ret, "member " + std::to_string(index) + " failed with " + Hex(GetLastError()));
    return ret != FALSE;
}

// A property of a node read at once into a buffer larger than any here; ""
// when the read fails.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA* record, DWORD property = SPDRP_HARDWAREID)
{
    BYTE buffer[512];
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, record, property, nullptr, buffer, sizeof buffer, &required)) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(buffer), required < sizeof buffer ? required : sizeof buffer);
}

// A node's instance ID; "" when it cannot be had.
std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    char id[256] = "";
    return SetupDiGetDeviceInstanceIdA(set, record, id, sizeof id, nullptr) ? std::string(id) : std::string();
}

// The member of a fresh set whose hardware IDs are `ids`; false when none is.
bool FindMember(HDEVINFO set, const std::string& ids, SP_DEVINFO_DATA* record)
{
    record->cbSize = sizeof *record;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, record); ++index) {
        if (Property(set, record) == ids) {
            return true;
        }
    }
    return false;
}

const DWORD kNotListed = 0xFFFFFFFF;

// The member indexes of the nodes `ids` in `set` and its number of members,
// and, given `everyId`, every member's instance ID. A set holds the nodes
// there were when it was opened, while a machine's own may come and go
// between two sets, so a fact takes indexes and counts from the set it uses.
// False after reporting a node the set lacks.
bool Locate(HDEVINFO set, const std::vector<std::string>& ids, std::vector<DWORD>* indexes, DWORD* members,
            std::vector<std::string>* everyId = nullptr)
{
    indexes->assign(ids.size(), kNotListed);
    SP_DEVINFO_DATA record = {};
    record.cbSize = sizeof record;
    DWORD index = 0;
    for (; SetupDiEnumDeviceInfo(set, index, &record); ++index) {
        const std::string id = InstanceId(set, &record);
        for (size_t i = 0; i < ids.size(); ++i) {
            if (SameText(id, ids[i].c_str())) {
                (*indexes)[i] = index;
            }
        }
        if (everyId != nullptr) {
            everyId->push_back(id);
        }
    }
    *members = index;
    for (size_t i = 0; i < ids.size(); ++i) {
        if ((*indexes)[i] == kNotListed) {
            FACT_OK(false, "node " + ids[i] + " is not a member of a set opened after it was made");
            return false;
        }
    }
    return true;
}

// One node made as `node` says, among the machine's own, taken from a fresh set.
struct OneNode {
    HDEVINFO set = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA record = {};
    DWORD index = 0;
    DWORD members = 0;  // of `set`
    bool ready = false;

    explicit OneNode(const NodeToMake& node)
    {
        std::vector<std::string> ids;
        if (!MakeNodes({node}, &ids)) {
            return;
        }
        set = OpenAll();
        std::vector<DWORD> indexes;
        if (set != INVALID_HANDLE_VALUE && Locate(set, ids, &indexes, &members)) {
            index = indexes[0];
            ready = Member(set, index, &record);
        }
    }
    ~OneNode()
    {
        if (set != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set);
        }
    }
    OneNode(const OneNode&) = delete;
    OneNode& operator=(const OneNode&) = delete;
};

// Reads the node's hardware IDs into `size` bytes (no buffer for 0), the
// last error set to the sentinel first.
BOOL ReadHardwareIds(OneNode& node, std::vector<BYTE>* buffer, DWORD size, DWORD* required, DWORD* type = nullptr)
{
    buffer->assign(size, 'x');
    *required = kSentinel;
    SetLastError(kSentinel);
    return SetupDiGetDeviceRegistryPropertyA(node.set, &node.record, SPDRP_HARDWAREID, type,
                                             size == 0 ? nullptr : buffer->data(), size, required);
}

// test_registry_property_a: SPDRP_HARDWAREID of a node that has none, with
// no buffer; the documentation: with a buffer too.
void NodeWithoutThePropertyAnswersInvalidData()
{
    OneNode node({false, ""});
    if (!node.ready) {
        return;
    }
    for (DWORD size : {DWORD{0}, DWORD{64}}) {
        std::vector<BYTE> buffer;
        DWORD required = 0;
        const BOOL ret = ReadHardwareIds(node, &buffer, size, &required);
        const DWORD error = GetLastError();
        FACT_OK(!ret && error == ERROR_INVALID_DATA,
                "a missing property read into " + std::to_string(size) + " bytes: " + Hex(error));
    }
}

// test_registry_property_a: the size query answers ERROR_INSUFFICIENT_BUFFER
// and the exact size; the documentation: so does a buffer a byte short.
void TooSmallABufferIsRefusedWithTheExactSize()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    for (DWORD size : {DWORD{0}, kIdsSize - 1}) {
        std::vector<BYTE> buffer;
        DWORD required = 0;
        const BOOL ret = ReadHardwareIds(node, &buffer, size, &required);
        const DWORD error = GetLastError();
        const std::string what = "a read into " + std::to_string(size) + " bytes";
        FACT_OK(!ret && error == ERROR_INSUFFICIENT_BUFFER, what + ": " + Hex(error));
        FACT_OK(required == kIdsSize,
                what + " needs " + std::to_string(required) + " bytes, expected " + std::to_string(kIdsSize));
    }
}

// test_registry_property_a: a large enough buffer gets the value and its type.
void BufferOfExactlyTheSizeIsFilledAndTheSizeReported()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    for (DWORD size : {kIdsSize, kIdsSize + 16}) {
        std::vector<BYTE> buffer;
        DWORD required = 0;
        DWORD type = kSentinel;
        const BOOL ret = ReadHardwareIds(node, &buffer, size, &required, &type);
        const std::string what = "a read into " + std::to_string(size) + " bytes";
        FACT_OK(ret, what + " failed with " + Hex(GetLastError()));
        FACT_OK(required == kIdsSize, what + ": " + std::to_string(required) + " bytes reported");
        FACT_OK(type == REG_MULTI_SZ, what + ": type " + Hex(type));
        FACT_OK(memcmp(buffer.data(), kIds.data(), kIdsSize) == 0, what + ": not the list that was set");
    }
}

// test_device_info (check_device_info): past the last member, ERROR_NO_MORE_ITEMS.
void EnumerationPastTheLastMemberAnswersNoMoreItems()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    SP_DEVINFO_DATA record;
    Member(node.set, node.members - 1, &record);
    for (DWORD index : {node.members, node.members + 1000}) {
        SetLastError(kSentinel);
        const BOOL ret = SetupDiEnumDeviceInfo(node.set, index, &record);
        FACT_OK(!ret, "member " + std::to_string(index) + " of " + std::to_string(node.members) + " enumerated");
        FACT_OK(GetLastError() == ERROR_NO_MORE_ITEMS, "past the last member: " + Hex(GetLastError()));
    }
}

// A call about a member, through `set` and `record`.
typedef BOOL (*MemberCall)(HDEVINFO set, SP_DEVINFO_DATA* record);

BOOL ReadHardwareIdsOf(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    BYTE buffer[512];
    DWORD required = kSentinel;
    return SetupDiGetDeviceRegistryPropertyA(set, record, SPDRP_HARDWAREID, nullptr, buffer, sizeof buffer, &required);
}

BOOL ReadClassOf(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    BYTE buffer[512];
    DWORD required = kSentinel;
    return SetupDiGetDeviceRegistryPropertyA(set, record, SPDRP_CLASS, nullptr, buffer, sizeof buffer, &required);
}

BOOL ReadInstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    char id[256];
    DWORD required = kSentinel;
    return SetupDiGetDeviceInstanceIdA(set, record, id, sizeof id, &required);
}

BOOL RemoveMember(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    return SetupDiCallClassInstaller(DIF_REMOVE, set, record);
}

// Enumerating into a record of the wrong size: the documentation. Reading
// through no set, no record or one of the wrong size: test_registry_property_a
// and test_get_device_instance_id.
void CallsThatNameNoMemberAreRefused()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    for (DWORD cbSize : {DWORD{0}, static_cast<DWORD>(sizeof(SP_DEVINFO_DATA) + 1)}) {
        SP_DEVINFO_DATA record = {};
        record.cbSize = cbSize;
        SetLastError(kSentinel);
        const BOOL ret = SetupDiEnumDeviceInfo(node.set, node.index, &record);
        FACT_OK(FailedWith(ret, ERROR_INVALID_USER_BUFFER),
                "enumerating into a record of " + std::to_string(cbSize) + " bytes: " + Hex(GetLastError()));
    }
    SP_DEVINFO_DATA wrongSize = node.record;
    wrongSize.cbSize = 0;
    const struct {
        const char* what;
        HDEVINFO set;
        SP_DEVINFO_DATA* record;
        DWORD error;
    } refusals[] = {
        {"no set", nullptr, &node.record, ERROR_INVALID_HANDLE},
        {"no record", node.set, nullptr, ERROR_INVALID_PARAMETER},
        {"a record of 0 bytes", node.set, &wrongSize, ERROR_INVALID_PARAMETER},
    };
    const std::pair<const char*, MemberCall> calls[] = {{"reading a property", ReadHardwareIdsOf},
                                                        {"reading the instance ID", ReadInstanceIdOf}};
    for (const auto& refusal : refusals) {
        for (const auto& call : calls) {
            SetLastError(kSentinel);
            const BOOL ret = call.second(refusal.set, refusal.record);
            FACT_OK(FailedWith(ret, refusal.error),
                    std::string(call.first) + " through " + refusal.what + ": " + Hex(GetLastError()));
        }
    }
}

// test_registry_property_a: SPDRP_DEVICEDESC of a node without one; the
// documentation: SPDRP_COMPATIBLEIDS likewise, and a number past the last
// property (Wine refuses it without setting the last error, todo_wine there).
void OtherPropertiesAreNotAnsweredWithTheHardwareIds()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    // The node was given hardware IDs only: no names, no driver
    // (devinst.c, test_registry_property_a and test_device_key).
    for (DWORD property : {DWORD{SPDRP_COMPATIBLEIDS}, DWORD{SPDRP_DEVICEDESC}, DWORD{SPDRP_FRIENDLYNAME},
                           DWORD{SPDRP_MFG}, DWORD{SPDRP_DRIVER}}) {
        BYTE buffer[512];
        DWORD required = kSentinel;
        SetLastError(kSentinel);
        const BOOL ret = SetupDiGetDeviceRegistryPropertyA(node.set, &node.record, property, nullptr, buffer,
                                                           sizeof buffer, &required);
        FACT_OK(FailedWith(ret, ERROR_INVALID_DATA), "property " + Hex(property) + ": " + Hex(GetLastError()));
    }
    for (DWORD property : {kPastLastProperty, DWORD{0xFFFFFFFF}}) {
        DWORD required = kSentinel;
        SetLastError(kSentinel);
        const BOOL ret =
            SetupDiGetDeviceRegistryPropertyA(node.set, &node.record, property, nullptr, nullptr, 0, &required);
        const DWORD error = GetLastError();
        FACT_OK(!ret, "property number " + Hex(property) + " was answered");
        FACT_OK_TODO_WINE(error == ERROR_INVALID_REG_PROPERTY, error == kSentinel,
                          "property number " + Hex(property) + ": " + Hex(error));
    }
}

// test_registry_property_a ("Have SPDRP_CLASSGUID property", "Have
// SPDRP_CLASS property").
void ClassPropertiesNameTheNodesSetupClass()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    const std::pair<DWORD, const char*> classProperties[] = {{SPDRP_CLASSGUID, kNodeClassGuid},
                                                             {SPDRP_CLASS, kNodeClassName}};
    for (const auto& property : classProperties) {
        const std::string what = "property " + Hex(property.first);
        const auto size = static_cast<DWORD>(strlen(property.second) + 1);
        DWORD required = kSentinel;
        SetLastError(kSentinel);
        BOOL ret =
            SetupDiGetDeviceRegistryPropertyA(node.set, &node.record, property.first, nullptr, nullptr, 0, &required);
        FACT_OK(FailedWith(ret, ERROR_INSUFFICIENT_BUFFER) && required == size,
                what + " with no buffer: " + Hex(GetLastError()) + ", " + std::to_string(required) + " bytes");
        char text[64] = "";
        DWORD type = kSentinel;
        SetLastError(kSentinel);
        ret = SetupDiGetDeviceRegistryPropertyA(node.set, &node.record, property.first, &type,
                                                reinterpret_cast<BYTE*>(text), sizeof text, &required);
        FACT_OK(ret && type == REG_SZ && SameText(text, property.second),
                what + ": \"" + text + "\", type " + Hex(type) + ", error " + Hex(GetLastError()));
    }
}

// test_get_device_instance_id: no buffer answers ERROR_INSUFFICIENT_BUFFER;
// the documentation: with the size the ID needs, its NUL included.
void InstanceIdIsAnsweredLikeAProperty()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    DWORD required = kSentinel;
    SetLastError(kSentinel);
    BOOL ret = SetupDiGetDeviceInstanceIdA(node.set, &node.record, nullptr, 0, &required);
    FACT_OK(FailedWith(ret, ERROR_INSUFFICIENT_BUFFER), "the size query: " + Hex(GetLastError()));
    if (required == kSentinel || required < 2 || required > 256) {
        FACT_OK(false, "the size query needs " + std::to_string(required) + " bytes");
        return;
    }
    std::vector<char> id(required, 'x');
    SetLastError(kSentinel);
    ret = SetupDiGetDeviceInstanceIdA(node.set, &node.record, id.data(), required - 1, nullptr);
    FACT_OK(FailedWith(ret, ERROR_INSUFFICIENT_BUFFER), "a buffer a byte short: " + Hex(GetLastError()));
    SetLastError(kSentinel);
    ret = SetupDiGetDeviceInstanceIdA(node.set, &node.record, id.data(), required, nullptr);
    FACT_OK(ret && strlen(id.data()) + 1 == required,
            "a buffer of the size needed: " + Hex(GetLastError()) + ", " + std::string(id.data(), required - 1));
}

// Two nodes with lists of their own (`tag` keeps them apart from the nodes
// of other facts), the first in the set to be removed.
struct TwoNodes {
    explicit TwoNodes(const std::string& tag)
        : first(MultiSz({"HWPT_FACT\\REMOVED_" + tag})), second(MultiSz({"HWPT_FACT\\KEPT_" + tag}))
    {
    }
    std::string first;
    std::string second;
    std::string firstId;  // instance IDs
    std::string secondId;
    DWORD firstIndex = 0;  // in the set last given to Find
    DWORD secondIndex = 0;
    DWORD members = 0;

    bool Make()
    {
        std::vector<std::string> ids;
        if (!MakeNodes({{true, first}, {true, second}}, &ids)) {
            return false;
        }
        firstId = ids[0];
        secondId = ids[1];
        return true;
    }

    // Finds both in `set`; the one it enumerates first becomes the first.
    bool Find(HDEVINFO set, std::vector<std::string>* everyId = nullptr)
    {
        std::vector<DWORD> indexes;
        if (!Locate(set, {firstId, secondId}, &indexes, &members, everyId)) {
            return false;
        }
        firstIndex = indexes[0];
        secondIndex = indexes[1];
        if (firstIndex > secondIndex) {
            std::swap(first, second);
            std::swap(firstId, secondId);
            std::swap(firstIndex, secondIndex);
        }
        return true;
    }
};

bool Remove(HDEVINFO set, DWORD index)
{
    SP_DEVINFO_DATA record;
    if (!Member(set, index, &record)) {
        return false;
    }
    SetLastError(kSentinel);
    const BOOL ret = SetupDiCallClassInstaller(DIF_REMOVE, set, &record);
    FACT_OK(ret, "DIF_REMOVE failed with " + Hex(GetLastError()));
    return ret != FALSE;
}

// test_device_info: after the removal the member is still enumerated at its
// index, and the set ends where it did.
void RemovedNodeKeepsItsIndexAndTheNextFollows()
{
    TwoNodes nodes("INDEX");
    if (!nodes.Make()) {
        return;
    }
    HDEVINFO set = OpenAll();
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    if (nodes.Find(set) && Remove(set, nodes.firstIndex)) {
        SP_DEVINFO_DATA record = {};
        record.cbSize = sizeof record;
        for (DWORD index : {nodes.firstIndex, nodes.firstIndex + 1}) {
            SetLastError(kSentinel);
            const BOOL ret = SetupDiEnumDeviceInfo(set, index, &record);
            FACT_OK(ret, "after DIF_REMOVE member " + std::to_string(index) + " failed with " + Hex(GetLastError()));
        }
        // The members after the removed one did not move up.
        FACT_OK(Member(set, nodes.secondIndex, &record) && Property(set, &record) == nodes.second,
                "after DIF_REMOVE the other node is no longer member " + std::to_string(nodes.secondIndex));
        SetLastError(kSentinel);
        const BOOL ret = SetupDiEnumDeviceInfo(set, nodes.members, &record);
        const DWORD error = GetLastError();
        FACT_OK(!ret && error == ERROR_NO_MORE_ITEMS,
                "after DIF_REMOVE the set grew or ended otherwise: " + Hex(error));
    }
    SetupDiDestroyDeviceInfoList(set);
}

// test_device_info: the removed member keeps its record, and its instance ID
// answers ERROR_NO_SUCH_DEVINST. Its properties and another removal answer so
// too (not checked by Wine's tests; Wine's SetupAPI answers so for every
// call about a removed member). The configuration manager no longer has the
// node (Wine's stub answers CR_SUCCESS for every node, todo_wine there).
void RemovedNodeIsGoneForEveryCallAboutIt()
{
    TwoNodes nodes("GONE");
    if (!nodes.Make()) {
        return;
    }
    HDEVINFO set = OpenAll();
    SP_DEVINFO_DATA before;
    if (set == INVALID_HANDLE_VALUE || !nodes.Find(set) || !Member(set, nodes.firstIndex, &before) ||
        !Remove(set, nodes.firstIndex)) {
        if (set != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set);
        }
        return;
    }
    SP_DEVINFO_DATA record;
    if (Member(set, nodes.firstIndex, &record)) {
        FACT_OK(record.DevInst == before.DevInst && memcmp(&record.ClassGuid, &before.ClassGuid, sizeof(GUID)) == 0,
                "the removed member's record changed");
        const std::pair<const char*, MemberCall> calls[] = {{"its hardware IDs", ReadHardwareIdsOf},
                                                            {"its class", ReadClassOf},
                                                            {"its instance ID", ReadInstanceIdOf},
                                                            {"another DIF_REMOVE", RemoveMember}};
        for (const auto& call : calls) {
            SetLastError(kSentinel);
            const BOOL ret = call.second(set, &record);
            FACT_OK(FailedWith(ret, ERROR_NO_SUCH_DEVINST),
                    std::string("after DIF_REMOVE, ") + call.first + ": " + Hex(GetLastError()));
        }
        // What hwpurge asks after each removal: the member's install
        // parameters, which Wine no longer has for a removed member (and
        // whose answer on Windows no source gives), and the set's own. A node
        // that was never started has nothing to stop, so nothing waits for a
        // restart ("SetupDiRemoveDevice function").
        for (SP_DEVINFO_DATA* member : {&record, static_cast<SP_DEVINFO_DATA*>(nullptr)}) {
            SP_DEVINSTALL_PARAMS_A params;
            memset(&params, 0, sizeof params);
            params.cbSize = sizeof params;
            SetLastError(kSentinel);
            const BOOL ret = SetupDiGetDeviceInstallParamsA(set, member, &params);
            const bool gone = member != nullptr && FailedWith(ret, ERROR_NO_SUCH_DEVINST);
            const bool windows = (ret && (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) == 0) || gone;
            FACT_OK_TODO_WINE(windows, member == nullptr ? FailedWith(ret, ERROR_INVALID_PARAMETER) : windows,
                              std::string("after DIF_REMOVE, ") + (member != nullptr ? "its" : "the set's") +
                                  " install parameters: " + (ret ? "flags " + Hex(params.Flags) : Hex(GetLastError())));
        }
        ULONG status = 0;
        ULONG problem = 0;
        const CONFIGRET cr = CM_Get_DevNode_Status(&status, &problem, record.DevInst, 0);
        FACT_OK_TODO_WINE(cr != CR_SUCCESS, cr == CR_SUCCESS, "after DIF_REMOVE the node's status is " + Hex(cr));
    }
    SetupDiDestroyDeviceInfoList(set);
}

// Whether `ids` holds `id`, compared as SetupAPI compares instance IDs.
bool Holds(const std::vector<std::string>& ids, const std::string& id)
{
    return std::any_of(ids.begin(), ids.end(), [&](const std::string& one) { return SameText(one, id.c_str()); });
}

// test_register_device_info: a set opened after the removal no longer holds
// the node, and holds every other member of the set it was removed through;
// nodes of the machine's own that came or went meanwhile are named.
void RemovedNodeIsNotInASetOpenedAfterwards()
{
    TwoNodes nodes("NEW_SET");
    if (!nodes.Make()) {
        return;
    }
    HDEVINFO set = OpenAll();
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    std::vector<std::string> before;
    const bool removed = nodes.Find(set, &before) && Remove(set, nodes.firstIndex);
    SetupDiDestroyDeviceInfoList(set);
    if (!removed) {
        return;
    }
    set = OpenAll();
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    std::vector<std::string> after;
    int firstSeen = 0;
    int secondSeen = 0;
    SP_DEVINFO_DATA record = {};
    record.cbSize = sizeof record;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &record); ++index) {
        after.push_back(InstanceId(set, &record));
        const std::string ids = Property(set, &record);
        firstSeen += ids == nodes.first ? 1 : 0;
        secondSeen += ids == nodes.second ? 1 : 0;
    }
    SetupDiDestroyDeviceInfoList(set);
    FACT_OK(firstSeen == 0 && !Holds(after, nodes.firstId), "the removed node is in a set opened afterwards");
    FACT_OK(secondSeen == 1, "the other node is seen " + std::to_string(secondSeen) + " times afterwards");
    std::string went;
    std::string came;
    for (const std::string& id : before) {
        went += SameText(id, nodes.firstId.c_str()) || Holds(after, id) ? "" : " " + id;
    }
    for (const std::string& id : after) {
        came += Holds(before, id) ? "" : " " + id;
    }
    if (!went.empty() || !came.empty()) {
        NoteMachineChange(std::to_string(before.size()) + " members before the removal, " +
                          std::to_string(after.size()) + " after; besides the removed node, went:" +
                          (went.empty() ? " none" : went) + "; came:" + (came.empty() ? " none" : came));
    }
}

// The device key Enum\<enumerator>\<device ID> of an instance ID.
std::string DeviceKeyOf(const std::string& instanceId)
{
    return instanceId.substr(0, instanceId.rfind('\\'));
}

// Removes the member whose hardware IDs are `ids` through a fresh set.
bool RemoveNodeWithIds(const std::string& ids)
{
    HDEVINFO set = OpenAll();
    SP_DEVINFO_DATA record;
    bool removed = false;
    if (set != INVALID_HANDLE_VALUE && FindMember(set, ids, &record)) {
        SetLastError(kSentinel);
        removed = SetupDiCallClassInstaller(DIF_REMOVE, set, &record) != FALSE;
        FACT_OK(removed, "DIF_REMOVE failed with " + Hex(GetLastError()));
    }
    if (set != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(set);
    }
    return removed;
}

// test_register_device_iface and test_registry_property_a: once its device
// is gone, Enum\Root\LEGACY_BOGUS no longer exists. A device key that keeps
// an instance stays (the registry deletes no key that has subkeys), and so
// does the enumerator's.
void DeviceKeyGoesWithItsLastInstance()
{
    const std::string paired[] = {MultiSz({"HWPT_FACT\\PAIR_1"}), MultiSz({"HWPT_FACT\\PAIR_2"})};
    const std::string single = MultiSz({"HWPT_FACT\\SINGLE"});
    std::vector<std::string> ids;
    if (!MakeNodes({{true, paired[0], 1}, {true, paired[1], 1}, {true, single}}, &ids)) {
        return;
    }
    const std::string pairKey = DeviceKeyOf(ids[0]);
    const std::string singleKey = DeviceKeyOf(ids[2]);
    if (ids[0].empty() || ids[2].empty() || DeviceKeyOf(ids[1]) != pairKey || singleKey == pairKey) {
        FACT_OK(false, "the nodes made are not two of one device and one of another: " + ids[0] + ", " + ids[1] + ", " +
                           ids[2]);
        return;
    }
    FACT_OK(EnumKeyExists(pairKey) && EnumKeyExists(singleKey), "a device key is missing before any removal");
    if (!RemoveNodeWithIds(paired[0]) || !RemoveNodeWithIds(single)) {
        return;
    }
    FACT_OK(EnumKeyExists(pairKey), pairKey + " went although it keeps an instance");
    FACT_OK(!EnumKeyExists(singleKey), singleKey + " stayed after its only instance went");
    if (RemoveNodeWithIds(paired[1])) {
        FACT_OK(!EnumKeyExists(pairKey), pairKey + " stayed after its last instance went");
        FACT_OK(EnumKeyExists(DeviceKeyOf(pairKey)), "the enumerator key " + DeviceKeyOf(pairKey) + " went");
    }
}

// test_get_class_devs: no class and no DIGCF_ALLCLASSES is refused.
// test_call_class_installer: destroying a set clears the last error.
void SetOfEveryClassOpensAndClosesCleanly()
{
    SetLastError(kSentinel);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 0);
    FACT_OK(set == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER,
            "a set of no class and no DIGCF_ALLCLASSES: " + Hex(GetLastError()));
    set = OpenAll();
    if (set != INVALID_HANDLE_VALUE) {
        SetLastError(kSentinel);
        const BOOL ret = SetupDiDestroyDeviceInfoList(set);
        FACT_OK(ret && GetLastError() == ERROR_SUCCESS, "destroying the set left " + Hex(GetLastError()));
    }
}

// The documentation: a known code gets its text in a block LocalFree takes
// back. test_message_from_hmodule: a code with no text answers
// ERROR_MR_MID_NOT_FOUND, and a text with an insert cannot be had without
// arguments. test_message_invalid_flags: a failure sets the pointer to NULL.
void FormatMessageAllocatesTheSystemsTextOrSaysItHasNone()
{
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    char* text = nullptr;
    SetLastError(kSentinel);
    DWORD length =
        FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, language, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    FACT_OK(length != 0 && text != nullptr, "no text for ERROR_ACCESS_DENIED: " + Hex(GetLastError()));
    if (text != nullptr) {
        const std::string seen = text;
        FACT_OK(length == seen.size(), "the length " + std::to_string(length) + " is not the text's");
        // Wine's text is its own: "Access denied.".
        FACT_OK_TODO_WINE(seen == "Access is denied.\r\n", seen == "Access denied.\r\n",
                          "the text for ERROR_ACCESS_DENIED is \"" + seen + "\"");
        FACT_OK(LocalFree(text) == nullptr, "the text's block could not be freed");
    }

    char sentinel = 'x';
    text = &sentinel;
    SetLastError(kSentinel);
    length = FormatMessageA(flags, nullptr, kUnknownCode, language, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    FACT_OK(length == 0, "a code the system does not know has a text");
    FACT_OK(GetLastError() == ERROR_MR_MID_NOT_FOUND, "a code the system does not know: " + Hex(GetLastError()));
    FACT_OK(text == nullptr, "a failed call left its pointer set");

    text = &sentinel;
    length = FormatMessageA(flags & ~static_cast<DWORD>(FORMAT_MESSAGE_IGNORE_INSERTS), nullptr, kTextWithInsert,
                            language, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    FACT_OK(length == 0 && text == nullptr, "a text with an insert was given without arguments");
    if (length != 0 && text != nullptr && text != &sentinel) {
        LocalFree(text);
    }
}

// test_LocalAlloc: LMEM_ZEROINIT zeroes the block; LocalFree takes back a
// block and NULL, and refuses a handle it never gave.
void LocalHeapGivesZeroedBlocksAndRefusesWhatItDidNotGive()
{
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 64));
    FACT_OK(block != nullptr, "LocalAlloc(LPTR, 64) failed with " + Hex(GetLastError()));
    if (block != nullptr) {
        bool zero = true;
        for (size_t i = 0; i < 64; ++i) {
            zero = zero && block[i] == 0;
        }
        FACT_OK(zero, "a block from LocalAlloc(LPTR) is not zeroed");
        FACT_OK(LocalFree(block) == nullptr, "the block could not be freed");
    }
    FACT_OK(LocalFree(nullptr) == nullptr, "LocalFree(NULL) failed");
    // Wine's heap tests free LongToHandle(0xdeadbee0 + sizeof(void*)): that
    // 32-bit value sign-extended, written here without a constant truncated
    // by a cast.
    const intptr_t neverGiven = static_cast<intptr_t>(0xdeadbee0u + sizeof(void*)) - (intptr_t{1} << 32);
    HLOCAL invalid = reinterpret_cast<HLOCAL>(neverGiven);
    SetLastError(kSentinel);
    FACT_OK(LocalFree(invalid) == invalid && GetLastError() == ERROR_INVALID_HANDLE,
            "freeing a handle the heap never gave: " + Hex(GetLastError()));
}

}  // namespace

// A node no driver was installed for has no driver key: opening it to read
// answers ERROR_KEY_DOES_NOT_EXIST, and a scope that is none of Windows'
// ERROR_INVALID_FLAGS (devinst.c, test_device_key).
void NodeWithoutADriverHasNoDriverKey()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    const struct {
        DWORD scope;
        DWORD error;
    } rows[] = {{DICS_FLAG_GLOBAL, ERROR_KEY_DOES_NOT_EXIST}, {0, ERROR_INVALID_FLAGS}};
    for (const auto& row : rows) {
        SetLastError(kSentinel);
        const HKEY key = SetupDiOpenDevRegKey(node.set, &node.record, row.scope, 0, DIREG_DRV, KEY_QUERY_VALUE);
        const DWORD error = GetLastError();
        FACT_OK(key == INVALID_HANDLE_VALUE && error == row.error,
                "opening the driver key in scope " + Hex(row.scope) + ": " + Hex(error));
        if (key != INVALID_HANDLE_VALUE) {
            RegCloseKey(key);
        }
    }
}

// A member's install parameters are read with cbSize the structure's own
// size: a byte more or less is refused with ERROR_INVALID_USER_BUFFER
// (devinst.c, test_device_install_params). Without a member, the set's own
// are read ("SetupDiGetDeviceInstallParamsA function").
void InstallParamsWantTheirExactSize()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    const DWORD exact = sizeof(SP_DEVINSTALL_PARAMS_A);
    const struct {
        SP_DEVINFO_DATA* record;
        DWORD size;
        bool ok;
    } rows[] = {{&node.record, exact - 1, false},
                {&node.record, exact + 1, false},
                {&node.record, exact, true},
                {nullptr, exact, true}};
    for (const auto& row : rows) {
        SP_DEVINSTALL_PARAMS_A params;
        memset(&params, 0, sizeof params);
        params.cbSize = row.size;
        SetLastError(kSentinel);
        const BOOL ret = SetupDiGetDeviceInstallParamsA(node.set, row.record, &params);
        const bool windows = row.ok ? ret != FALSE : FailedWith(ret, ERROR_INVALID_USER_BUFFER);
        // Wine keeps no parameters of the set's own, and refuses the call.
        const bool wine = row.record == nullptr ? FailedWith(ret, ERROR_INVALID_PARAMETER) : windows;
        FACT_OK_TODO_WINE(windows, wine,
                          std::string(row.record != nullptr ? "a member's" : "the set's") +
                              " install parameters with cbSize " + std::to_string(row.size) + ": " +
                              (ret ? "read" : Hex(GetLastError())));
    }
}

const Fact kFacts[] = {
    {"NodeWithoutThePropertyAnswersInvalidData", NodeWithoutThePropertyAnswersInvalidData},
    {"TooSmallABufferIsRefusedWithTheExactSize", TooSmallABufferIsRefusedWithTheExactSize},
    {"BufferOfExactlyTheSizeIsFilledAndTheSizeReported", BufferOfExactlyTheSizeIsFilledAndTheSizeReported},
    {"EnumerationPastTheLastMemberAnswersNoMoreItems", EnumerationPastTheLastMemberAnswersNoMoreItems},
    {"CallsThatNameNoMemberAreRefused", CallsThatNameNoMemberAreRefused},
    {"OtherPropertiesAreNotAnsweredWithTheHardwareIds", OtherPropertiesAreNotAnsweredWithTheHardwareIds},
    {"ClassPropertiesNameTheNodesSetupClass", ClassPropertiesNameTheNodesSetupClass},
    {"InstanceIdIsAnsweredLikeAProperty", InstanceIdIsAnsweredLikeAProperty},
    {"NodeWithoutADriverHasNoDriverKey", NodeWithoutADriverHasNoDriverKey},
    {"InstallParamsWantTheirExactSize", InstallParamsWantTheirExactSize},
    {"RemovedNodeKeepsItsIndexAndTheNextFollows", RemovedNodeKeepsItsIndexAndTheNextFollows},
    {"RemovedNodeIsGoneForEveryCallAboutIt", RemovedNodeIsGoneForEveryCallAboutIt},
    {"RemovedNodeIsNotInASetOpenedAfterwards", RemovedNodeIsNotInASetOpenedAfterwards},
    {"DeviceKeyGoesWithItsLastInstance", DeviceKeyGoesWithItsLastInstance},
    {"SetOfEveryClassOpensAndClosesCleanly", SetOfEveryClassOpensAndClosesCleanly},
    {"FormatMessageAllocatesTheSystemsTextOrSaysItHasNone", FormatMessageAllocatesTheSystemsTextOrSaysItHasNone},
    {"LocalHeapGivesZeroedBlocksAndRefusesWhatItDidNotGive", LocalHeapGivesZeroedBlocksAndRefusesWhatItDidNotGive},
};
const size_t kFactCount = sizeof kFacts / sizeof kFacts[0];

}  // namespace facts
