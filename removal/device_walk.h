// The walk hwpurge and hwpurge-preview share: every device node of every
// setup class, present or not, in index order, its hardware-ID list read and
// matched against the identifier. What one program removes is exactly what
// the other lists, because both are this code.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Called for each node whose hardware-ID list holds an entry that matches:
// `entry` is the first such entry, `length` bytes (no NUL need follow it in
// the list's buffer). Set, record and entry are valid for the call only.
typedef void (*MatchHandler)(HDEVINFO set, SP_DEVINFO_DATA* record, const char* entry, size_t length, void* context);

// Called for each node the walk examined that has no matching entry (or no
// hardware-ID list at all). Set and record are valid for the call only.
typedef void (*OtherNodeHandler)(HDEVINFO set, SP_DEVINFO_DATA* record, void* context);

// Opens the set of all device nodes, enumerates it and hands every matching
// node to `onMatch`. A failure of the opening, of the enumeration or of a
// read is reported and ends the walk. True when every node was examined.
bool WalkMatchingDevices(const char* identifier, MatchHandler onMatch, void* context);

// The same walk, also handing every other node it examined to `onOther`.
bool WalkAllDevices(const char* identifier, MatchHandler onMatch, OtherNodeHandler onOther, void* context);

enum PropertyRead {
    kPropertyRead,     // *buffer (possibly null for a zero-byte value) and *size describe it
    kPropertyMissing,  // the node has no such property
    kPropertyFailed,   // an unexpected failure, already reported
};

// One way of asking the platform for bytes of a node (`what`: which ones),
// answering as SetupDiGetDeviceRegistryPropertyA answers.
typedef BOOL (*NodeBytesCall)(HDEVINFO set, SP_DEVINFO_DATA* record, DWORD what, BYTE* buffer, DWORD bufferSize,
                              DWORD* required);

// Reads bytes of a node into a buffer of exactly the size the platform asks
// for, from the local heap. A failed read is reported under `readName`, a
// failed allocation as LocalAlloc. The caller frees *buffer with LocalFree
// in every outcome.
PropertyRead ReadNodeBytes(HDEVINFO set, SP_DEVINFO_DATA* record, NodeBytesCall call, DWORD what, const char* readName,
                           BYTE** buffer, DWORD* size);

// ReadNodeBytes of one registry property of the node.
PropertyRead ReadDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* record, DWORD property, const char* readName,
                                BYTE** buffer, DWORD* size);
