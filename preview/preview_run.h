// What one run of hwpurge-preview holds while it walks the nodes, shared by
// its reading (read_node.cpp) and its three forms of output (write_list.cpp:
// text and JSON; write_summary.cpp: the fleet engines' line and the unused
// packages).
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "preview/driver_packages.h"
#include "preview/preview_devices.h"
#include "removal/device_walk.h"

// Text of a node or value, not NUL-terminated where it stands in a buffer.
struct Text {
    const char* bytes;  // null: missing
    size_t length;
};

Text TextOf(const char* text);

struct Failure {
    const char* operation;  // one of the fixed report names
    DWORD code;
    bool configRet;  // the code is a CONFIGRET, not a last-error code
    bool hasText;
    char text[512];  // the system's text, cut short if need be
};

// Fixed room is enough: the walk ends at its first failure, the other nodes'
// driver packages are no longer looked at after the first failure there, and
// each of a listed node's reads (instance ID, class, class GUID, friendly
// name, description, manufacturer, driver key and its four values, status)
// stops at its first.
const size_t kMaxWalkFailures = 2;
const size_t kMaxNodeFailures = 12;

struct FailureList {
    Failure* slots;
    size_t capacity;
    size_t count;
};

// The fleet engines' line is at most this many characters, its break aside.
const size_t kSummaryLimit = 2000;

// The summary's node labels so far, joined by ", ", as many as fit.
struct SummaryLabels {
    char text[kSummaryLimit];
    size_t length;
    size_t ends[kSummaryLimit / 2];  // where each label kept ends in `text`
    size_t kept;
    bool full;  // a label did not fit: no later one is kept either
};

struct PreviewRun {
    PreviewFormat format;
    DWORD listed;
    DWORD waiting;         // listed nodes whose removal waits for a restart
    bool detailsComplete;  // every listed name, manufacturer, package and state read, and the others counted where
                           // needed
    bool othersCounted;    // every other node's driver package so far was counted
    PackageTally packages;
    FailureList* failures;  // where reports go now: the walk's or the node's
    size_t failureCount;    // every report of the run, kept or not
    Failure firstFailure;   // the first of them
    SummaryLabels* labels;  // the summary's, when that is the form
};

// What the configuration manager says of a listed node.
enum NodeState {
    kNodeNotPresent,
    kNodePresent,
    kNodeWaiting,  // present, and its removal waits for a restart
    kNodeUnknown,  // the configuration manager could not say (reported)
};

// What a listed node's driver key says of its package.
struct DriverText {
    Text inf;  // missing: no package known
    Text provider;
    Text version;
    Text date;
};

struct NodeText {
    Text entry;
    Text instanceId;
    Text className;
    Text classGuid;
    NodeState state;
    Text name;
    Text manufacturer;
    DriverText driver;
};

// Room for a driver key's value on the stack; a longer one is read into a
// block of its own.
const size_t kValueRoom = 128;

// The blocks a listed node's reads hold until its line is written.
struct NodeBlocks {
    char* instanceId;
    BYTE* values[4];  // a driver key value that did not fit its room
    BYTE* properties[5];
    BYTE rooms[4][kValueRoom];
};

// Reads everything the preview says of a listed node into *node, whose texts
// point into *blocks until FreeBlocks. Failures are reported; those that
// leave the run's details incomplete say so in *run.
void ReadListedNode(PreviewRun* run, HDEVINFO set, SP_DEVINFO_DATA* record, NodeText* node, NodeBlocks* blocks);
void FreeBlocks(NodeBlocks* blocks);

// The walk's handler for a node that does not match: counts its driver
// package once. After the first failure there the count cannot be finished,
// and no further node is looked at.
void CountOtherNode(HDEVINFO set, SP_DEVINFO_DATA* record, void* context);

// The text and JSON forms.
void WriteTextLine(const NodeText& node);
void WriteJsonLine(const NodeText& node, bool first, const FailureList& failures);
void WriteJsonFailures(const FailureList& list);
void WritePackageLines(const PreviewRun& run);
void WriteJsonPackages(const PreviewRun& run);
void WriteClosingLine(const PreviewRun& run, bool complete);
// "N device nodes would be removed" (or its incomplete or empty form), and
// the restart clause ("; it waits for a restart"...), as the closing line and
// the summary say them; each returns the length written.
size_t FormatCount(const PreviewRun& run, bool complete, char* out, size_t size);
size_t FormatRestartClause(const PreviewRun& run, char* out, size_t size);

// The summary form.
void AddSummaryLabel(SummaryLabels* labels, const NodeText& node);
void WriteSummaryLine(const PreviewRun& run, const char* identifier, bool complete, const FailureList& walkFailures);
// The unused-packages form: the third-party packages only listed nodes use,
// when the look is complete.
void WriteUnusedPackages(const PreviewRun& run, bool complete);
