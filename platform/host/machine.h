// The simulated machine's state: its device database, the sets opened on it,
// the calls the program made, the local heap's blocks, the scripted faults
// and the thread's last-error value. Everything above this floor reads and
// changes the machine through here.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/host/node.h"
#include "platform/host/windows_names.h"

namespace hwsim {

const long kNever = -1;

// Calls recorded before the machine decides the program is looping.
const size_t kCallLimit = 1000000;
// ...or, on a machine of more nodes than a looping program needs to be
// caught on, this many calls for each node.
const size_t kCallsPerNode = 32;

// Faults the tests can script. Node indexes are member indexes of the set.
struct Faults {
    // Grouped by size, so that the record stays small.
    long enumStopAt = kNever;    // the enumeration stops at this index with enumStopError
    long readFailAt = kNever;    // every read of this node fails with readError
    long growAt = kNever;        // this node's list grows after each size answer, growTimes times
    long removeFailAt = kNever;  // the class installer fails at this node (or every node: removeFailsAll)
    long restartAt = kNever;     // the removal of this node waits for a restart (restartAll: of every node)
    // Reading this member's install parameters (installParamsFailsAll: every
    // member's) fails with installParamsError.
    long installParamsFailAt = kNever;
    long detailsFailAt = kNever;    // this node's reads but of its hardware IDs fail with detailsError
    long driverKeyFailAt = kNever;  // opening this node's driver key fails with driverKeyError
    long valueFailAt = kNever;      // reading a value of this node's driver key fails with valueError
    // The configuration manager's answer for the node at this database
    // position: status flags added to a started node's, a problem (with
    // DN_HAS_PROBLEM), or a CONFIGRET instead of an answer.
    long statusAt = kNever;
    long problemAt = kNever;
    long devNodeFailAt = kNever;
    long allocFailAt = kNever;    // the n-th LocalAlloc (0-based) by the program fails
    long allocFailFrom = kNever;  // every LocalAlloc from the n-th on fails
    // This node answers "too small" with no more than the buffer offered (stuckSize).
    long stuckAt = kNever;
    // This node's successful read claims overstateBy bytes more than it wrote.
    long overstateAt = kNever;
    // The process stops once it makes more calls than this (0: kCallLimit,
    // or kCallsPerNode for each node of a larger machine).
    size_t callLimit = 0;
    DWORD openError = 0;  // nonzero: the set cannot be opened, with this code
    DWORD enumStopError = 0;
    DWORD readError = 0;
    DWORD removeError = 0;
    DWORD detailsError = 0;
    DWORD driverKeyError = 0;
    DWORD valueError = 0;
    DWORD installParamsError = 0;
    DWORD setInstallParamsError = 0;     // nonzero: reading the set's own install parameters fails
    DWORD restartFlags = DI_NEEDREBOOT;  // what a removal that waits for a restart sets
    ULONG statusFlags = 0;
    ULONG problem = 0;
    CONFIGRET devNodeResult = 0;
    DWORD allocError = ERROR_NOT_ENOUGH_MEMORY;
    DWORD stuckSize = 0;
    DWORD overstateBy = 0;
    int growTimes = 0;
    bool removeFailsAll = false;
    bool restartAll = false;
    bool restartSetOnly = false;  // the restart flags go to the set's own parameters alone
    bool installParamsFailsAll = false;
    // Wine's answer for a zero-byte property: "too small, 0 bytes needed".
    bool zeroByteAnswersInsufficient = false;
};

enum class Op {
    GetClassDevs,
    EnumDeviceInfo,
    GetDeviceRegistryProperty,
    CallClassInstaller,
    GetDeviceInstallParams,
    DestroyDeviceInfoList,
    OpenDevRegKey,
    RegQueryValue,
    RegCloseKey,
    LocalAlloc,
    LocalFree,
    FormatMessage,
};

struct Call {
    Op op;
    long index = kNever;          // member index, where the call concerns a node
    DWORD size = 0;               // buffer size given, or bytes asked for
    bool ok = false;              // what the call answered
    DWORD error = 0;              // last-error value it left when it failed
    DWORD required = 0;           // the required size it wrote (reads)
    const void* block = nullptr;  // the buffer given or returned
};

// A device information set.
struct DeviceSet {
    std::vector<size_t> members;  // database positions, fixed at opening
    // Each member's install parameters' flags, SetupAPI's own record of it
    // in this set (DI_NEEDREBOOT once a removal waits for a restart).
    std::vector<DWORD> installFlags;
    DWORD setFlags = 0;  // ...and the set's own
};

// A registry key SetupDiOpenDevRegKey opened: a node's driver key.
struct OpenKey {
    const DriverKey* key;
    long index;  // the member index of the node it was opened for
};

// The export file the database was read from, kept to be rewritten.
struct DatabaseFile {
    std::string path;      // empty while the database is scripted or the sample
    std::string bytes;     // as read
    ExportLayout layout;   // where each node lies in it
    bool unsaved = false;  // a node was removed since the file was read or written
};

struct MachineState {
    bool booted = false;
    std::vector<Node> database;
    DriverKeys driverKeys;
    DatabaseFile file;
    // Why no set can be opened (a broken database file or fault script).
    DWORD startError = ERROR_SUCCESS;
    std::string startMessage;
    Faults faults;
    std::vector<Call> calls;
    std::map<void*, size_t> blocks;  // each block the heap handed out, by its size
    std::string bytesPastBlocks;     // written just past every block handed out
    std::set<DeviceSet*> sets;
    size_t destroyedSets = 0;
    std::set<OpenKey*> keys;
    long programAllocations = 0;
    std::map<long, int> grown;              // node index -> times its list has grown
    std::map<DWORD, std::string> messages;  // texts the tests set, over Windows' own
};

// For the simulated functions.
MachineState& Machine();
// The machine, for the Windows function `caller`. A call before the machine
// was started (Boot or Reset) stops the process with one line on standard
// error rather than answer from a machine nobody set up.
MachineState& BootedMachine(const char* caller);
// An empty machine, started: no nodes, no faults, no calls, no blocks.
void ResetMachine();
// The calling thread's last-error value.
DWORD& LastError();
// Sets the last error to `code` and answers FALSE.
BOOL Fail(DWORD code);
// Logs a call. A program that makes more calls than the limit is stopped
// with one line on standard error, before it fills the memory.
void Record(Op op, long index, DWORD size, bool ok, const void* block = nullptr, DWORD required = 0);
// A local-heap block of `bytes` zero bytes; nullptr when memory runs out.
void* AllocateBlock(size_t bytes);
// False when `block` is none the heap handed out. A block whose bytes past
// its end (SetBytesPastBlocks) were overwritten stops the process with one
// line on standard error: the program wrote past a block it was given.
bool FreeBlock(void* block);
// A node's device instance handle, as records carry it: its database
// position plus one, so that 0 names no node.
DWORD DevInstOf(size_t position);
// The node a device instance handle names, or nullptr.
const Node* NodeOfDevInst(DWORD devInst);

// For tests.
void SetDatabase(const std::vector<Node>& nodes);
void SetDriverKeys(const DriverKeys& keys);
const std::vector<Node>& Database();
std::vector<std::string> RemainingInstanceIds();
void SetFaults(const Faults& faults);
// The system's text for `code`, as FormatMessageA will give it.
void SetMessageText(DWORD code, const std::string& text);
// Every block handed out from now on is followed by `bytes` (none by
// default: a block is then exactly its size, for the sanitizers). Bytes that
// would change a result show a read past a block in any build.
void SetBytesPastBlocks(const std::string& bytes);
const std::vector<Call>& Calls();
std::vector<Call> CallsOf(Op op);
size_t OutstandingBlocks();
size_t OpenSets();
size_t OpenKeys();
size_t DestroyedSets();

}  // namespace hwsim
