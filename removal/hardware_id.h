// Matching a device node's hardware-ID list against the identifier given on
// the command line.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Takes the process's narrow code page from the system's ANSI code page and
// builds the byte tables the comparison uses. Called once at process start;
// when the code page cannot be taken (UTF-7, UTF-8, invalid, no information)
// the built-in single-byte rules stay.
void TakeNarrowCodePage();

// The code page the comparison follows, 0 while the single-byte default is
// in force, and whether it is a double-byte one.
UINT NarrowCodePage();
bool NarrowCodePageIsDoubleByte();
// Whether `byte` begins a two-byte character of the narrow code page.
bool IsNarrowLeadByte(BYTE byte);

// True when `entry` begins with the first `length` bytes of `identifier`
// (ASCII letters folded; in a double-byte code page, whole characters and
// the code page's own capitals folded).
bool MatchesHardwareId(const char* entry, const char* identifier, size_t length);

// Walks a REG_MULTI_SZ list of `listSize` bytes and yields the first entry
// that matches, or nullptr. No byte at or past `listSize` is read: an entry
// that runs to the end of the buffer without its NUL is taken as ending there.
const char* FindMatchingHardwareId(const char* list, DWORD listSize, const char* identifier);

// The length of `entry`, counted no further than `available` bytes.
size_t BoundedEntryLength(const char* entry, size_t available);
