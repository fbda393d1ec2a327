#include "platform/host/machine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace hwsim {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

MachineState& Machine()
{
    static MachineState state;
    return state;
}

MachineState& BootedMachine(const char* caller)
{
    MachineState& state = Machine();
    if (!state.booted) {
        fprintf(stderr, "simulated Windows: %s called before the machine was started (hwsim::Boot or Reset)\n", caller);
        abort();
    }
    return state;
}

void ResetMachine()
{
    MachineState& state = Machine();
    for (const auto& block : state.blocks) {
        free(block.first);
    }
    for (DeviceSet* set : state.sets) {
        delete set;
    }
    for (OpenKey* key : state.keys) {
        delete key;
    }
    state = MachineState();
    state.booted = true;
    t_lastError = ERROR_SUCCESS;
}

DWORD& LastError()
{
    return t_lastError;
}

BOOL Fail(DWORD code)
{
    t_lastError = code;
    return FALSE;
}

void Record(Op op, long index, DWORD size, bool ok, const void* block, DWORD required)
{
    MachineState& state = Machine();
    // A large machine takes more calls than a looping program needs to be
    // caught: a preview makes about ten for each node.
    const size_t limit = state.faults.callLimit != 0 ? state.faults.callLimit
                                                     : std::max(kCallLimit, kCallsPerNode * state.database.size());
    if (state.calls.size() >= limit) {
        fprintf(stderr, "simulated Windows: more than %zu calls; the program seems to be looping\n", limit);
        abort();
    }
    Call call;
    call.op = op;
    call.index = index;
    call.size = size;
    call.ok = ok;
    call.error = ok ? 0 : t_lastError;
    call.required = required;
    call.block = block;
    state.calls.push_back(call);
}

void* AllocateBlock(size_t bytes)
{
    MachineState& state = Machine();
    const std::string& past = state.bytesPastBlocks;
    if (bytes > SIZE_MAX - past.size()) {
        return nullptr;
    }
    const size_t total = bytes + past.size();
    auto* block = static_cast<char*>(calloc(total == 0 ? 1 : total, 1));
    if (block != nullptr) {
        past.copy(block + bytes, past.size());
        state.blocks[block] = bytes;
    }
    return block;
}

bool FreeBlock(void* block)
{
    MachineState& state = Machine();
    const auto found = state.blocks.find(block);
    if (found == state.blocks.end()) {
        return false;
    }
    const std::string& past = state.bytesPastBlocks;
    if (!past.empty() &&
        past.compare(0, past.size(), static_cast<const char*>(block) + found->second, past.size()) != 0) {
        fprintf(stderr, "simulated Windows: the program wrote past a block of %zu bytes\n", found->second);
        abort();
    }
    state.blocks.erase(found);
    free(block);
    return true;
}

void SetDatabase(const std::vector<Node>& nodes)
{
    MachineState& state = Machine();
    state.database = nodes;
    state.file = DatabaseFile();
    state.startError = ERROR_SUCCESS;
    state.startMessage.clear();
}

void SetDriverKeys(const DriverKeys& keys)
{
    // Key and value names are looked up folded, as the registry compares them.
    DriverKeys folded;
    for (const auto& key : keys) {
        DriverKey& copy = folded[FoldedName(key.first)];
        for (const auto& value : key.second.values) {
            copy.values[FoldedName(value.first)] = value.second;
        }
    }
    Machine().driverKeys = folded;
}

const std::vector<Node>& Database()
{
    return Machine().database;
}

std::vector<std::string> RemainingInstanceIds()
{
    std::vector<std::string> ids;
    for (const Node& node : Machine().database) {
        if (!node.removed) {
            ids.push_back(node.instanceId);
        }
    }
    return ids;
}

void SetFaults(const Faults& faults)
{
    Machine().faults = faults;
}

void SetMessageText(DWORD code, const std::string& text)
{
    Machine().messages[code] = text;
}

void SetBytesPastBlocks(const std::string& bytes)
{
    Machine().bytesPastBlocks = bytes;
}

const std::vector<Call>& Calls()
{
    return Machine().calls;
}

std::vector<Call> CallsOf(Op op)
{
    std::vector<Call> found;
    for (const Call& call : Machine().calls) {
        if (call.op == op) {
            found.push_back(call);
        }
    }
    return found;
}

size_t OutstandingBlocks()
{
    return Machine().blocks.size();
}

DWORD DevInstOf(size_t position)
{
    return static_cast<DWORD>(position + 1);
}

const Node* NodeOfDevInst(DWORD devInst)
{
    const std::vector<Node>& database = Machine().database;
    return devInst != 0 && devInst <= database.size() ? &database[devInst - 1] : nullptr;
}

size_t OpenSets()
{
    return Machine().sets.size();
}

size_t OpenKeys()
{
    return Machine().keys.size();
}

size_t DestroyedSets()
{
    return Machine().destroyedSets;
}

}  // namespace hwsim
