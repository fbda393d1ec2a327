// The simulated machine's device database as a registry export file: the
// text that `reg export HKLM\SYSTEM\CurrentControlSet\Enum` or regedit
// writes ("Windows Registry Editor Version 5.00" in UTF-16LE or UTF-8, or
// "REGEDIT4" in the ANSI code page).
//
// Reading keeps, for every device node, the byte ranges of the file that are
// its lines, so that a node can later be dropped from the file with every
// other byte left exactly where it was.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/host/simulated_windows.h"

namespace hwsim {

struct ByteRange {
    size_t begin = 0;
    size_t end = 0;  // one past the last byte
};

struct DeviceDatabase {
    std::vector<Node> nodes;  // in the order the file first names them
    // For each node, the ranges of the file that hold its lines: its key's
    // and its subkeys' header lines, their values and the blank lines among
    // them. Comment lines are never part of a node.
    std::vector<std::vector<ByteRange>> lines;
};

// Reads an export held in `bytes`. Strings are converted to `codePage` the
// way the system's `A` calls convert them ('?' for a character the code page
// lacks). On failure returns false, leaves *out empty and sets *error to
// "line N: what is wrong". Safe on any input.
bool ParseRegistryExport(const std::string& bytes, UINT codePage, DeviceDatabase* out, std::string* error);

// `bytes` without the lines of the nodes of `database` marked removed.
std::string WithoutRemovedNodes(const std::string& bytes, const DeviceDatabase& database);
std::string WithoutRemovedNodes(const std::string& bytes, const std::vector<Node>& nodes,
                                const std::vector<std::vector<ByteRange>>& lines);

// Replaces the file at `path` by `content` so that a crash at any moment
// leaves either the old file or the new one: the content goes to a
// temporary file in the same folder, is flushed to disk and then renamed
// over the old file (through a symbolic link, onto its target). False with
// a reason when any step fails; the old file is then untouched and the
// temporary file gone.
bool ReplaceFileAtomically(const std::string& path, const std::string& content, std::string* error);

// What loading a database file came to.
struct LoadResult {
    DWORD error = ERROR_SUCCESS;  // ERROR_FILE_NOT_FOUND, _ACCESS_DENIED, _INVALID_DATA or _NOT_ENOUGH_MEMORY
    std::string message;          // one line naming the file and the problem
    std::string bytes;            // the file as read
};

// Reads and parses the file at `path`.
LoadResult LoadRegistryExport(const std::string& path, UINT codePage, DeviceDatabase* out);

}  // namespace hwsim
