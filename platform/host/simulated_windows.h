// The simulated Windows behind platform.h on hosts that are not Windows.
//
// It holds a device database, per-thread last-error values, a counted local
// heap, the system's message texts and code-page services. Tests script it
// through this interface; the host program boots it from its environment
// (see Boot). The logic never includes this header.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace hwsim {

struct Node {
    std::string instanceId;
    std::string classGuid;  // "{...}" text; may be empty
    std::string className;  // the setup class's name ("Class"); may be empty
    bool present = false;
    bool hasHardwareId = false;
    // The REG_MULTI_SZ bytes exactly as stored; may be empty (a zero-byte
    // property) or malformed (no closing empty entry, no NUL at all).
    std::string hardwareId;
    bool removed = false;  // set when its class installer removed it
};

// Builds a node whose hardware-ID property holds `ids`, each NUL-terminated,
// closed by an empty entry.
Node MakeNode(const std::string& instanceId, const std::string& classGuid, bool present,
              const std::vector<std::string>& ids);
// A node with no hardware-ID property at all.
Node MakeNodeWithoutIds(const std::string& instanceId, const std::string& classGuid, bool present);
// A node whose property holds exactly `bytes`.
Node MakeNodeWithBytes(const std::string& instanceId, const std::string& classGuid, bool present,
                       const std::string& bytes);

const long kNever = -1;

// Faults the tests can script. Node indexes are member indexes of the set.
struct Faults {
    DWORD openError = 0;          // nonzero: the set cannot be opened, with this code
    long enumStopAt = kNever;     // the enumeration stops at this index...
    DWORD enumStopError = 0;      // ...with this code
    long readFailAt = kNever;     // every read of this node fails...
    DWORD readError = 0;          // ...with this code
    long growAt = kNever;         // this node's list grows after each size answer...
    int growTimes = 0;            // ...this many times
    long removeFailAt = kNever;   // the class installer fails at this node...
    bool removeFailsAll = false;  // ...or at every node
    DWORD removeError = 0;
    long allocFailAt = kNever;    // the n-th LocalAlloc (0-based) by the program fails
    long allocFailFrom = kNever;  // every LocalAlloc from the n-th on fails
    DWORD allocError = ERROR_NOT_ENOUGH_MEMORY;
    // Wine's answer for a zero-byte property: "too small, 0 bytes needed".
    bool zeroByteAnswersInsufficient = false;
    // This node answers "too small" with no more than the buffer offered.
    long stuckAt = kNever;
    DWORD stuckSize = 0;
    // This node's successful read claims this many bytes more than it wrote.
    long overstateAt = kNever;
    DWORD overstateBy = 0;
};

enum class Op {
    GetClassDevs,
    EnumDeviceInfo,
    GetDeviceRegistryProperty,
    CallClassInstaller,
    DestroyDeviceInfoList,
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

// Forgets everything: empty database, no faults, no calls recorded, heap and
// set counters cleared, ANSI code page 1252. Marks the simulation as scripted
// so that Boot does nothing.
void Reset();

// Reads the simulated machine from the environment for the host program:
// HWPURGE_ACP, HWPURGE_SIM_FAULTS and the device database, from the registry
// export HWPURGE_DEVICE_DB names or else the built-in sample. Done once,
// lazily, by the first platform call, unless a test called Reset.
void Boot();

// Takes the device database from a registry export file, read in the current
// ANSI code page. A file that cannot be read or parsed leaves the database
// empty and makes every opening of a set fail, after one line on standard
// error. Once a set is destroyed after a removal, the file is rewritten
// without the removed nodes.
void UseDatabaseFile(const std::string& path);

void SetDatabase(const std::vector<Node>& nodes);
const std::vector<Node>& Database();
std::vector<std::string> RemainingInstanceIds();
void SetFaults(const Faults& faults);
// The system's text for `code`, as FormatMessageA will give it.
void SetMessageText(DWORD code, const std::string& text);
// Parses a fault script such as "read@2=5,remove=5"; false with a reason on
// error.
bool ParseFaults(const std::string& script, Faults* faults, std::string* reason);

const std::vector<Call>& Calls();
std::vector<Call> CallsOf(Op op);
size_t OutstandingBlocks();
size_t OpenSets();
size_t DestroyedSets();

// The system's ANSI code page.
void SetAnsiCodePage(UINT codePage);
UINT AnsiCodePage();
// UTF-16 text in a code page, as WideCharToMultiByte gives it: '?' for each
// character the code page lacks (and for every character when the code page
// is unknown).
std::string WideToAnsi(const std::u16string& text, UINT codePage);
// Whether `byte` begins a two-byte character in a double-byte code page.
bool IsLeadByte(UINT codePage, unsigned char byte);
// Code-page services fail as they would for a code page with no case data.
void SetCaseInformationMissing(bool missing);
// Makes one more single byte of the system's code page a capital letter with
// `small` as its small letter, as a code page with its own letters would.
void AddOneByteCapital(BYTE capital, BYTE small);

// For hwpurge-preview's calls (preview_services.cpp): the node a record of
// a live set names, or null with the last-error code set as SetupAPI sets
// it; and the node a device instance handle names, or null when none does.
const Node* NodeOfRecord(HDEVINFO set, const SP_DEVINFO_DATA* record);
const Node* NodeOfDevInst(DEVINST devInst);
// Bytes of a code page as UTF-16, as MultiByteToWideChar gives them: each
// character the code page lacks (a byte sequence that is not one of its
// characters) becomes U+FFFD.
std::u16string AnsiToWide(const std::string& bytes, UINT codePage);

// The built-in sample machine the host program runs on, and the registry
// export it is read from.
std::vector<Node> SampleDatabase();
std::string SampleExport();

}  // namespace hwsim
