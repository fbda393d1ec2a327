// The device database's file on disk: read with POSIX I/O and parsed, and
// rewritten without the removed nodes' lines so that a crash at any moment
// leaves either the old file or the new one.
#pragma once

#include <string>
#include <vector>

#include "platform/host/enum_key.h"
#include "platform/host/node.h"
#include "platform/host/windows_names.h"

namespace hwsim {

// `bytes` without the lines of the nodes of `database` marked removed, and,
// as the registry deletes a device key left empty, without the lines of each
// device key whose every node was removed. A device key that keeps a node
// stays, and so do the enumerator keys.
std::string WithoutRemovedNodes(const std::string& bytes, const DeviceDatabase& database);
std::string WithoutRemovedNodes(const std::string& bytes, const std::vector<Node>& nodes, const ExportLayout& layout);

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
