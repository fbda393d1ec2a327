// Device database, last error, local heap and message texts of the simulated
// Windows.
#include "platform/host/simulated_windows.h"

#include "platform/host/registry_export.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <set>

namespace hwsim {

// examples/sample-enum.reg, embedded at build time.
extern const unsigned char kSampleExport[];
extern const size_t kSampleExportSize;

namespace {

struct DeviceSet {
    std::vector<size_t> members;  // database positions, fixed at opening
};

struct State {
    bool booted = false;
    std::vector<Node> database;
    Faults faults;
    std::vector<Call> calls;
    std::set<void*> blocks;
    std::set<DeviceSet*> sets;
    size_t destroyedSets = 0;
    long programAllocations = 0;
    std::map<long, int> grown;              // node index -> times its list has grown
    std::map<DWORD, std::string> messages;  // texts the tests set, over Windows' own
    // The database's file: empty while the database is scripted or the sample.
    std::string file;
    std::string fileBytes;                          // as read
    std::vector<std::vector<ByteRange>> fileLines;  // each node's lines in it
    bool unsaved = false;                           // a node was removed since the file was read or written
    DWORD loadError = ERROR_SUCCESS;                // the file could not be taken
    std::string loadMessage;
};

State& Sim()
{
    static State state;
    return state;
}

thread_local DWORD t_lastError = ERROR_SUCCESS;

void Record(Op op, long index, DWORD size, bool ok, const void* block = nullptr, DWORD required = 0)
{
    Call call;
    call.op = op;
    call.index = index;
    call.size = size;
    call.ok = ok;
    call.error = ok ? 0 : t_lastError;
    call.required = required;
    call.block = block;
    Sim().calls.push_back(call);
}

BOOL Fail(DWORD code)
{
    t_lastError = code;
    return FALSE;
}

DeviceSet* FindSet(HDEVINFO handle)
{
    auto* set = static_cast<DeviceSet*>(handle);
    return Sim().sets.count(set) != 0 ? set : nullptr;
}

// The member index a record names, or -1 when it names none of the set.
long MemberOf(const DeviceSet* set, const SP_DEVINFO_DATA* record)
{
    if (record == nullptr || record->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return -1;
    }
    const long index = static_cast<long>(record->Reserved) - 1;
    return index >= 0 && static_cast<size_t>(index) < set->members.size() ? index : -1;
}

void* AllocateBlock(size_t bytes)
{
    // Exactly the size asked for, so that a sanitizer sees a read past it.
    void* block = calloc(bytes == 0 ? 1 : bytes, 1);
    if (block != nullptr) {
        Sim().blocks.insert(block);
    }
    return block;
}

GUID ParseGuid(const std::string& text)
{
    GUID guid = {};
    unsigned parts[11] = {};
    // All eleven fields must convert; a text that is not a GUID gives zero.
    const char* format = "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}";
    const int converted =
        sscanf(text.c_str(), format, &parts[0], &parts[1], &parts[2],  // NOLINT(cert-err34-c)
               &parts[3], &parts[4], &parts[5], &parts[6], &parts[7], &parts[8], &parts[9], &parts[10]);
    if (converted == 11) {
        guid.Data1 = parts[0];
        guid.Data2 = static_cast<uint16_t>(parts[1]);
        guid.Data3 = static_cast<uint16_t>(parts[2]);
        for (int i = 0; i < 8; ++i) {
            guid.Data4[i] = static_cast<uint8_t>(parts[3 + i]);
        }
    }
    return guid;
}

const std::map<DWORD, const char*>& MessageTexts()
{
    // Windows' own texts, with the CR LF it ends them with.
    static const std::map<DWORD, const char*> texts = {
        {0, "The operation completed successfully.\r\n"},
        {1, "Incorrect function.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {8, "Not enough memory resources are available to process this command.\r\n"},
        {13, "The data is invalid.\r\n"},
        {14, "Not enough memory resources are available to complete this operation.\r\n"},
        {21, "The device is not ready.\r\n"},
        {31, "A device attached to the system is not functioning.\r\n"},
        {34, "The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial Number: %3) into drive %1.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {122, "The data area passed to a system call is too small.\r\n"},
        {259, "No more data is available.\r\n"},
        {1168, "Element not found.\r\n"},
        {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    };
    return texts;
}

// hwpurge-preview: a node's class name and GUID, REG_SZ as Windows keeps
// them; an empty one is a property the node does not have.
BOOL ReadClassProperty(const Node& node, DWORD property, PDWORD type, PBYTE buffer, DWORD bufferSize,
                       PDWORD requiredSize)
{
    const std::string& text = property == SPDRP_CLASS ? node.className : node.classGuid;
    if (text.empty()) {
        return Fail(ERROR_INVALID_DATA);
    }
    const DWORD size = static_cast<DWORD>(text.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = size;
    }
    if (type != nullptr) {
        *type = REG_SZ;
    }
    if (bufferSize < size || buffer == nullptr) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, text.c_str(), size);
    t_lastError = ERROR_SUCCESS;
    return TRUE;
}

}  // namespace

// hwpurge-preview's view of the database.
const Node* NodeOfRecord(HDEVINFO set, const SP_DEVINFO_DATA* record)
{
    Boot();
    const DeviceSet* found = FindSet(set);
    if (found == nullptr) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const long index = MemberOf(found, record);
    if (index < 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &Sim().database[found->members[static_cast<size_t>(index)]];
}

const Node* NodeOfDevInst(DEVINST devInst)
{
    Boot();
    const std::vector<Node>& database = Sim().database;
    if (devInst == 0 || devInst > database.size() || database[devInst - 1].removed) {
        return nullptr;
    }
    return &database[devInst - 1];
}

Node MakeNode(const std::string& instanceId, const std::string& classGuid, bool present,
              const std::vector<std::string>& ids)
{
    std::string bytes;
    for (const std::string& id : ids) {
        bytes += id;
        bytes += '\0';
    }
    bytes += '\0';
    return MakeNodeWithBytes(instanceId, classGuid, present, bytes);
}

Node MakeNodeWithoutIds(const std::string& instanceId, const std::string& classGuid, bool present)
{
    Node node;
    node.instanceId = instanceId;
    node.classGuid = classGuid;
    node.present = present;
    return node;
}

Node MakeNodeWithBytes(const std::string& instanceId, const std::string& classGuid, bool present,
                       const std::string& bytes)
{
    Node node = MakeNodeWithoutIds(instanceId, classGuid, present);
    node.hasHardwareId = true;
    node.hardwareId = bytes;
    return node;
}

void ResetCodePages();
void BootCodePages();

void Reset()
{
    State& state = Sim();
    for (void* block : state.blocks) {
        free(block);
    }
    for (DeviceSet* set : state.sets) {
        delete set;
    }
    state = State();
    state.booted = true;
    t_lastError = ERROR_SUCCESS;
    ResetCodePages();
}

void Boot()
{
    State& state = Sim();
    if (state.booted) {
        return;
    }
    state.booted = true;
    // The code page first: the database's strings are converted to it.
    BootCodePages();
    const char* file = getenv("HWPURGE_DEVICE_DB");
    if (file != nullptr && *file != '\0') {
        UseDatabaseFile(file);
    } else {
        state.database = SampleDatabase();
    }
    if (const char* script = getenv("HWPURGE_SIM_FAULTS")) {
        std::string reason;
        // A script the machine cannot follow fails the opening of the set,
        // as a broken database file does; the usage checks still run first.
        if (!ParseFaults(script, &state.faults, &reason)) {
            state.faults = Faults();
            state.loadError = ERROR_INVALID_PARAMETER;
            state.loadMessage = "simulated Windows: HWPURGE_SIM_FAULTS: " + reason;
        }
    }
}

void UseDatabaseFile(const std::string& path)
{
    State& state = Sim();
    DeviceDatabase database;
    LoadResult loaded;
    try {
        loaded = LoadRegistryExport(path, AnsiCodePage(), &database);
    } catch (const std::bad_alloc&) {
        // A file too large for this machine is refused, not a crash.
        database = DeviceDatabase();
        loaded = LoadResult();
        loaded.error = ERROR_NOT_ENOUGH_MEMORY;
        loaded.message = "simulated Windows: " + path + ": not enough memory to read the file";
    }
    state.database = std::move(database.nodes);
    state.fileLines = std::move(database.lines);
    state.fileBytes = std::move(loaded.bytes);
    state.loadError = loaded.error;
    state.loadMessage = loaded.message;
    state.file = loaded.error == ERROR_SUCCESS ? path : std::string();
    state.unsaved = false;
}

void SetDatabase(const std::vector<Node>& nodes)
{
    State& state = Sim();
    state.database = nodes;
    state.file.clear();
    state.fileBytes.clear();
    state.fileLines.clear();
    state.unsaved = false;
    state.loadError = ERROR_SUCCESS;
    state.loadMessage.clear();
}

std::vector<Node> SampleDatabase()
{
    DeviceDatabase database;
    std::string error;
    if (!ParseRegistryExport(SampleExport(), AnsiCodePage(), &database, &error)) {
        // Only a broken build gets here: the sample is checked by the tests.
        fprintf(stderr, "simulated Windows: the built-in sample: %s\n", error.c_str());
        abort();
    }
    return database.nodes;
}

std::string SampleExport()
{
    return std::string(reinterpret_cast<const char*>(kSampleExport), kSampleExportSize);
}

const std::vector<Node>& Database()
{
    return Sim().database;
}

std::vector<std::string> RemainingInstanceIds()
{
    std::vector<std::string> ids;
    for (const Node& node : Sim().database) {
        if (!node.removed) {
            ids.push_back(node.instanceId);
        }
    }
    return ids;
}

void SetMessageText(DWORD code, const std::string& text)
{
    Sim().messages[code] = text;
}

void SetFaults(const Faults& faults)
{
    Sim().faults = faults;
}

const std::vector<Call>& Calls()
{
    return Sim().calls;
}

std::vector<Call> CallsOf(Op op)
{
    std::vector<Call> found;
    for (const Call& call : Sim().calls) {
        if (call.op == op) {
            found.push_back(call);
        }
    }
    return found;
}

size_t OutstandingBlocks()
{
    return Sim().blocks.size();
}

size_t OpenSets()
{
    return Sim().sets.size();
}

size_t DestroyedSets()
{
    return Sim().destroyedSets;
}

bool ParseFaults(const std::string& script, Faults* faults, std::string* reason)
{
    size_t start = 0;
    while (start < script.size()) {
        size_t end = script.find(',', start);
        if (end == std::string::npos) {
            end = script.size();
        }
        const std::string item = script.substr(start, end - start);
        start = end + 1;
        const size_t equals = item.find('=');
        const size_t at = item.find('@');
        const std::string name = item.substr(0, std::min(at, equals));
        long index = kNever;
        char* rest = nullptr;
        if (at != std::string::npos && at < equals) {
            const size_t indexEnd = equals == std::string::npos ? item.size() : equals;
            index = strtol(item.c_str() + at + 1, &rest, 10);
            if (rest != item.c_str() + indexEnd || indexEnd == at + 1 || index < 0) {
                *reason = "bad node index in '" + item + "'";
                return false;
            }
        }
        unsigned long value = 0;
        if (equals != std::string::npos) {
            value = strtoul(item.c_str() + equals + 1, &rest, 0);
            if (*rest != '\0' || equals + 1 == item.size()) {
                *reason = "bad number in '" + item + "'";
                return false;
            }
        }
        const DWORD code = static_cast<DWORD>(value);
        if (name == "open" && equals != std::string::npos) {
            faults->openError = code;
        } else if (name == "enum" && index != kNever) {
            faults->enumStopAt = index;
            faults->enumStopError = code;
        } else if (name == "read" && index != kNever) {
            faults->readFailAt = index;
            faults->readError = code;
        } else if (name == "grow" && index != kNever) {
            faults->growAt = index;
            faults->growTimes = static_cast<int>(value);
        } else if (name == "remove" && equals != std::string::npos) {
            faults->removeFailAt = index;
            faults->removeFailsAll = index == kNever;
            faults->removeError = code;
        } else if (name == "alloc" && index != kNever) {
            faults->allocFailAt = index;
            faults->allocError = equals != std::string::npos ? code : ERROR_NOT_ENOUGH_MEMORY;
        } else if (name == "zero-size-too-small" && equals == std::string::npos && at == std::string::npos) {
            faults->zeroByteAnswersInsufficient = true;
        } else {
            *reason = "unknown fault '" + item + "'";
            return false;
        }
    }
    return true;
}

}  // namespace hwsim

using hwsim::Op;
using hwsim::Sim;

HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    hwsim::Boot();
    hwsim::State& state = Sim();
    // Only the one kind of set hwpurge asks for is simulated.
    if (ClassGuid != nullptr || Enumerator != nullptr || hwndParent != nullptr || Flags != DIGCF_ALLCLASSES) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    if (state.loadError != ERROR_SUCCESS) {
        fprintf(stderr, "%s\n", state.loadMessage.c_str());
        hwsim::Fail(state.loadError);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    if (state.faults.openError != 0) {
        hwsim::Fail(state.faults.openError);
        hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, false);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new hwsim::DeviceSet;
    for (size_t i = 0; i < state.database.size(); ++i) {
        if (!state.database[i].removed) {
            set->members.push_back(i);
        }
    }
    state.sets.insert(set);
    hwsim::t_lastError = ERROR_SUCCESS;
    hwsim::Record(Op::GetClassDevs, hwsim::kNever, Flags, true, set);
    return set;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    hwsim::Boot();
    hwsim::State& state = Sim();
    const long index = static_cast<long>(MemberIndex);
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    BOOL ok = FALSE;
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
    } else if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        hwsim::Fail(ERROR_INVALID_USER_BUFFER);
    } else if (state.faults.enumStopAt != hwsim::kNever && index >= state.faults.enumStopAt) {
        hwsim::Fail(state.faults.enumStopError);
    } else if (MemberIndex >= set->members.size()) {
        hwsim::Fail(ERROR_NO_MORE_ITEMS);
    } else {
        const hwsim::Node& node = state.database[set->members[MemberIndex]];
        DeviceInfoData->ClassGuid = hwsim::ParseGuid(node.classGuid);
        DeviceInfoData->DevInst = static_cast<DWORD>(set->members[MemberIndex] + 1);
        DeviceInfoData->Reserved = static_cast<ULONG_PTR>(MemberIndex) + 1;
        hwsim::t_lastError = ERROR_SUCCESS;
        ok = TRUE;
    }
    hwsim::Record(Op::EnumDeviceInfo, index, 0, ok != FALSE);
    return ok;
}

BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                       PDWORD RequiredSize)
{
    hwsim::Boot();
    hwsim::State& state = Sim();
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    const long index = set != nullptr ? hwsim::MemberOf(set, DeviceInfoData) : hwsim::kNever;
    auto answer = [&](BOOL ok) {
        hwsim::Record(Op::GetDeviceRegistryProperty, index, PropertyBufferSize, ok != FALSE, PropertyBuffer,
                      RequiredSize != nullptr ? *RequiredSize : 0);
        return ok;
    };
    if (set == nullptr) {
        return answer(hwsim::Fail(ERROR_INVALID_HANDLE));
    }
    if (index < 0) {
        return answer(hwsim::Fail(ERROR_INVALID_PARAMETER));
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return answer(hwsim::Fail(ERROR_INVALID_USER_BUFFER));
    }
    hwsim::Node& node = state.database[set->members[static_cast<size_t>(index)]];
    if (state.faults.readFailAt == index) {
        return answer(hwsim::Fail(state.faults.readError));
    }
    if (Property == SPDRP_CLASS || Property == SPDRP_CLASSGUID) {
        return answer(hwsim::ReadClassProperty(node, Property, PropertyRegDataType, PropertyBuffer, PropertyBufferSize,
                                               RequiredSize));
    }
    if (Property != SPDRP_HARDWAREID || !node.hasHardwareId) {
        return answer(hwsim::Fail(ERROR_INVALID_DATA));
    }
    if (state.faults.stuckAt == index) {
        if (RequiredSize != nullptr) {
            *RequiredSize = state.faults.stuckSize;
        }
        return answer(hwsim::Fail(ERROR_INSUFFICIENT_BUFFER));
    }
    if (node.hardwareId.empty() && state.faults.zeroByteAnswersInsufficient) {
        if (RequiredSize != nullptr) {
            *RequiredSize = 0;
        }
        return answer(hwsim::Fail(ERROR_INSUFFICIENT_BUFFER));
    }
    const DWORD size = static_cast<DWORD>(node.hardwareId.size());
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = REG_MULTI_SZ;
    }
    if (PropertyBufferSize < size) {
        BOOL ok = hwsim::Fail(ERROR_INSUFFICIENT_BUFFER);
        answer(ok);
        // Another program adds an entry between this answer and the next read.
        int& grown = state.grown[index];
        if (state.faults.growAt == index && grown < state.faults.growTimes) {
            ++grown;
            node.hardwareId.insert(node.hardwareId.size() - 1, std::string("GROWN\\") + std::to_string(grown) + '\0');
        }
        return ok;
    }
    if (size != 0) {
        // The property's own bytes, malformed or not: no terminator is added.
        memcpy(PropertyBuffer, node.hardwareId.data(), size);  // NOLINT(bugprone-not-null-terminated-result)
    }
    if (state.faults.overstateAt == index && RequiredSize != nullptr) {
        *RequiredSize = size + state.faults.overstateBy;
    }
    hwsim::t_lastError = ERROR_SUCCESS;
    return answer(TRUE);
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    hwsim::Boot();
    hwsim::State& state = Sim();
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    const long index = set != nullptr ? hwsim::MemberOf(set, DeviceInfoData) : hwsim::kNever;
    BOOL ok = FALSE;
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
    } else if (index < 0) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
    } else if (InstallFunction != DIF_REMOVE) {
        hwsim::Fail(ERROR_DI_DO_DEFAULT);
    } else if (state.faults.removeFailsAll || state.faults.removeFailAt == index) {
        hwsim::Fail(state.faults.removeError);
    } else {
        hwsim::Node& node = state.database[set->members[static_cast<size_t>(index)]];
        if (node.removed) {
            hwsim::Fail(ERROR_NO_SUCH_DEVINST);
        } else {
            node.removed = true;
            state.unsaved = true;
            hwsim::t_lastError = ERROR_SUCCESS;
            ok = TRUE;
        }
    }
    hwsim::Record(Op::CallClassInstaller, index, InstallFunction, ok != FALSE);
    return ok;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    hwsim::Boot();
    hwsim::State& state = Sim();
    hwsim::DeviceSet* set = hwsim::FindSet(DeviceInfoSet);
    if (set == nullptr) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
        hwsim::Record(Op::DestroyDeviceInfoList, hwsim::kNever, 0, false, DeviceInfoSet);
        return FALSE;
    }
    // The set is freed last: the call log keeps its handle, and a handle is
    // only ever recorded while the set it names is alive.
    std::unique_ptr<hwsim::DeviceSet> released(set);
    state.sets.erase(set);
    ++state.destroyedSets;
    // Like the registry, the file keeps what was removed only once the set
    // is closed; a run that removed nothing leaves it untouched.
    if (state.unsaved && !state.file.empty()) {
        std::string reason;
        const std::string content = hwsim::WithoutRemovedNodes(state.fileBytes, state.database, state.fileLines);
        if (hwsim::ReplaceFileAtomically(state.file, content, &reason)) {
            state.unsaved = false;
        } else {
            fprintf(stderr, "simulated Windows: %s: the removals could not be saved, the file is unchanged: %s\n",
                    state.file.c_str(), reason.c_str());
        }
    }
    hwsim::t_lastError = ERROR_SUCCESS;
    hwsim::Record(Op::DestroyDeviceInfoList, hwsim::kNever, 0, true, DeviceInfoSet);
    return TRUE;
}

DWORD GetLastError()
{
    return hwsim::t_lastError;
}

void SetLastError(DWORD dwErrCode)
{
    hwsim::t_lastError = dwErrCode;
}

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    hwsim::Boot();
    hwsim::State& state = Sim();
    const long count = state.programAllocations++;
    void* block = nullptr;
    if ((uFlags & LMEM_MOVEABLE) != 0) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
    } else if (count == state.faults.allocFailAt ||
               (state.faults.allocFailFrom != hwsim::kNever && count >= state.faults.allocFailFrom)) {
        hwsim::Fail(state.faults.allocError);
    } else {
        block = hwsim::AllocateBlock(uBytes);
        if (block == nullptr) {
            hwsim::Fail(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    hwsim::Record(Op::LocalAlloc, hwsim::kNever, static_cast<DWORD>(uBytes), block != nullptr, block);
    return block;
}

HLOCAL LocalFree(HLOCAL hMem)
{
    hwsim::Boot();
    hwsim::State& state = Sim();
    if (hMem == nullptr) {
        hwsim::Record(Op::LocalFree, hwsim::kNever, 0, true, hMem);
        return nullptr;
    }
    if (state.blocks.erase(hMem) == 0) {
        hwsim::Fail(ERROR_INVALID_HANDLE);
        hwsim::Record(Op::LocalFree, hwsim::kNever, 0, false, hMem);
        return hMem;
    }
    hwsim::Record(Op::LocalFree, hwsim::kNever, 0, true, hMem);
    free(hMem);
    return nullptr;
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                     DWORD nSize, va_list* Arguments)
{
    hwsim::Boot();
    (void)lpSource;
    (void)dwLanguageId;
    (void)nSize;
    const DWORD supported = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if ((dwFlags & ~supported) != 0 || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) == 0 ||
        (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    const auto& texts = hwsim::MessageTexts();
    const auto found = texts.find(dwMessageId);
    const auto& scripted = Sim().messages;
    const auto set = scripted.find(dwMessageId);
    if (found == texts.end() && set == scripted.end()) {
        hwsim::Fail(ERROR_MR_MID_NOT_FOUND);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    const std::string text = set != scripted.end() ? set->second : std::string(found->second);
    // Windows cannot fill inserts without arguments and refuses the message.
    if (text.find('%') != std::string::npos && (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && Arguments == nullptr) {
        hwsim::Fail(ERROR_INVALID_PARAMETER);
        hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, false);
        return 0;
    }
    auto* copy = static_cast<char*>(hwsim::AllocateBlock(text.size() + 1));
    memcpy(copy, text.c_str(), text.size() + 1);
    *reinterpret_cast<char**>(lpBuffer) = copy;
    hwsim::Record(Op::FormatMessage, hwsim::kNever, dwMessageId, true, copy);
    return static_cast<DWORD>(text.size());
}

int lstrlenA(LPCSTR lpString)
{
    return lpString == nullptr ? 0 : static_cast<int>(strlen(lpString));
}
