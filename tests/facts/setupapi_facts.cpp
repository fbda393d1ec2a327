// The facts, in Windows' own names only. Where Wine is known to answer
// otherwise than Windows, the check says what Windows answers and expects
// Wine's own answer only on Wine, the way Wine marks its tests todo_wine; a
// Wine that comes to answer as Windows does then fails the check and the
// mark can go.
#include "tests/facts/setupapi_facts.h"

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

// A node's hardware IDs read at once into a buffer larger than any list
// here; "" when the read fails.
std::string HardwareIds(HDEVINFO set, SP_DEVINFO_DATA* record)
{
    BYTE buffer[512];
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, record, SPDRP_HARDWAREID, nullptr, buffer, sizeof buffer, &required)) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(buffer), required < sizeof buffer ? required : sizeof buffer);
}

// One node made as `node` says, among the machine's own, taken from a fresh set.
struct OneNode {
    HDEVINFO set = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA record = {};
    DWORD index = 0;
    DWORD members = 0;
    bool ready = false;

    explicit OneNode(const NodeToMake& node)
    {
        std::vector<DWORD> indexes;
        if (!MakeNodes({node}, &indexes, &members)) {
            return;
        }
        index = indexes[0];
        set = OpenAll();
        ready = set != INVALID_HANDLE_VALUE && Member(set, index, &record);
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

// With no buffer (the size query) and with one a byte short.
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

void RecordWithAWrongSizeIsRefused()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    for (DWORD cbSize : {DWORD{0}, static_cast<DWORD>(sizeof(SP_DEVINFO_DATA) + 1)}) {
        SP_DEVINFO_DATA record = {};
        record.cbSize = cbSize;
        SetLastError(kSentinel);
        BOOL ret = SetupDiEnumDeviceInfo(node.set, node.index, &record);
        FACT_OK(!ret, "enumerating into a record of " + std::to_string(cbSize) + " bytes succeeded");
        FACT_OK(GetLastError() == ERROR_INVALID_USER_BUFFER,
                "enumerating into a record of " + std::to_string(cbSize) + " bytes: " + Hex(GetLastError()));

        // The record names the node, but its size is wrong.
        record = node.record;
        record.cbSize = cbSize;
        BYTE buffer[512];
        DWORD required = kSentinel;
        SetLastError(kSentinel);
        ret = SetupDiGetDeviceRegistryPropertyA(node.set, &record, SPDRP_HARDWAREID, nullptr, buffer, sizeof buffer,
                                                &required);
        FACT_OK(!ret, "a read through a record of " + std::to_string(cbSize) + " bytes succeeded");
        FACT_OK(GetLastError() == ERROR_INVALID_PARAMETER,
                "a read through a record of " + std::to_string(cbSize) + " bytes: " + Hex(GetLastError()));
    }
}

void OtherPropertiesAreNotAnsweredWithTheHardwareIds()
{
    OneNode node({true, kIds});
    if (!node.ready) {
        return;
    }
    // The node was given hardware IDs only.
    for (DWORD property : {DWORD{SPDRP_COMPATIBLEIDS}, DWORD{SPDRP_DEVICEDESC}}) {
        BYTE buffer[512];
        DWORD required = kSentinel;
        SetLastError(kSentinel);
        const BOOL ret = SetupDiGetDeviceRegistryPropertyA(node.set, &node.record, property, nullptr, buffer,
                                                           sizeof buffer, &required);
        FACT_OK(!ret, "property " + Hex(property) + " was answered");
        FACT_OK(GetLastError() == ERROR_INVALID_DATA, "property " + Hex(property) + ": " + Hex(GetLastError()));
    }
    // A number no property has.
    DWORD required = kSentinel;
    SetLastError(kSentinel);
    const BOOL ret =
        SetupDiGetDeviceRegistryPropertyA(node.set, &node.record, kPastLastProperty, nullptr, nullptr, 0, &required);
    const DWORD error = GetLastError();
    FACT_OK(!ret, "a property number past the last was answered");
    // Wine refuses the number without setting the last error.
    FACT_OK_TODO_WINE(error == ERROR_INVALID_REG_PROPERTY, error == kSentinel,
                      "a property number past the last: " + Hex(error));
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
    DWORD firstIndex = 0;
    DWORD secondIndex = 0;
    DWORD members = 0;

    bool Make()
    {
        std::vector<DWORD> indexes;
        if (!MakeNodes({{true, first}, {true, second}}, &indexes, &members)) {
            return false;
        }
        firstIndex = indexes[0];
        secondIndex = indexes[1];
        if (firstIndex > secondIndex) {
            std::swap(first, second);
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
    if (Remove(set, nodes.firstIndex)) {
        SP_DEVINFO_DATA record = {};
        record.cbSize = sizeof record;
        for (DWORD index : {nodes.firstIndex, nodes.firstIndex + 1}) {
            SetLastError(kSentinel);
            const BOOL ret = SetupDiEnumDeviceInfo(set, index, &record);
            FACT_OK(ret, "after DIF_REMOVE member " + std::to_string(index) + " failed with " + Hex(GetLastError()));
        }
        // The members after the removed one did not move up.
        FACT_OK(Member(set, nodes.secondIndex, &record) && HardwareIds(set, &record) == nodes.second,
                "after DIF_REMOVE the other node is no longer member " + std::to_string(nodes.secondIndex));
        SetLastError(kSentinel);
        const BOOL ret = SetupDiEnumDeviceInfo(set, nodes.members, &record);
        const DWORD error = GetLastError();
        FACT_OK(!ret && error == ERROR_NO_MORE_ITEMS,
                "after DIF_REMOVE the set grew or ended otherwise: " + Hex(error));
    }
    SetupDiDestroyDeviceInfoList(set);
}

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
    const bool removed = Remove(set, nodes.firstIndex);
    SetupDiDestroyDeviceInfoList(set);
    if (!removed) {
        return;
    }
    set = OpenAll();
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD count = 0;
    int firstSeen = 0;
    int secondSeen = 0;
    SP_DEVINFO_DATA record = {};
    record.cbSize = sizeof record;
    for (; SetupDiEnumDeviceInfo(set, count, &record); ++count) {
        const std::string ids = HardwareIds(set, &record);
        firstSeen += ids == nodes.first ? 1 : 0;
        secondSeen += ids == nodes.second ? 1 : 0;
    }
    SetupDiDestroyDeviceInfoList(set);
    FACT_OK(firstSeen == 0, "the removed node is in a set opened afterwards");
    FACT_OK(secondSeen == 1, "the other node is seen " + std::to_string(secondSeen) + " times afterwards");
    FACT_OK(count == nodes.members - 1,
            std::to_string(count) + " members afterwards, expected " + std::to_string(nodes.members - 1));
}

void FormatMessageAllocatesTheSystemsTextOrSaysItHasNone()
{
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    char* text = nullptr;
    SetLastError(kSentinel);
    DWORD length = FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    FACT_OK(length != 0 && text != nullptr, "no text for ERROR_ACCESS_DENIED: " + Hex(GetLastError()));
    if (text != nullptr) {
        const std::string seen = text;
        FACT_OK(length == seen.size(), "the length " + std::to_string(length) + " is not the text's");
        // Wine's text is its own: "Access denied.".
        FACT_OK_TODO_WINE(seen == "Access is denied.\r\n", seen == "Access denied.\r\n",
                          "the text for ERROR_ACCESS_DENIED is \"" + seen + "\"");
        FACT_OK(LocalFree(text) == nullptr, "the text's block could not be freed");
    }

    text = nullptr;
    SetLastError(kSentinel);
    length = FormatMessageA(flags, nullptr, kUnknownCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                            reinterpret_cast<LPSTR>(&text), 0, nullptr);
    FACT_OK(length == 0, "a code the system does not know has a text");
    FACT_OK(GetLastError() == ERROR_MR_MID_NOT_FOUND, "a code the system does not know: " + Hex(GetLastError()));
    FACT_OK(text == nullptr, "a block was handed out for a code with no text");
}

}  // namespace

const Fact kFacts[] = {
    {"NodeWithoutThePropertyAnswersInvalidData", NodeWithoutThePropertyAnswersInvalidData},
    {"TooSmallABufferIsRefusedWithTheExactSize", TooSmallABufferIsRefusedWithTheExactSize},
    {"BufferOfExactlyTheSizeIsFilledAndTheSizeReported", BufferOfExactlyTheSizeIsFilledAndTheSizeReported},
    {"EnumerationPastTheLastMemberAnswersNoMoreItems", EnumerationPastTheLastMemberAnswersNoMoreItems},
    {"RecordWithAWrongSizeIsRefused", RecordWithAWrongSizeIsRefused},
    {"OtherPropertiesAreNotAnsweredWithTheHardwareIds", OtherPropertiesAreNotAnsweredWithTheHardwareIds},
    {"RemovedNodeKeepsItsIndexAndTheNextFollows", RemovedNodeKeepsItsIndexAndTheNextFollows},
    {"RemovedNodeIsNotInASetOpenedAfterwards", RemovedNodeIsNotInASetOpenedAfterwards},
    {"FormatMessageAllocatesTheSystemsTextOrSaysItHasNone", FormatMessageAllocatesTheSystemsTextOrSaysItHasNone},
};
const size_t kFactCount = sizeof kFacts / sizeof kFacts[0];

}  // namespace facts
