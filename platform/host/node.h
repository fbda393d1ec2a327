// A device node of the simulated machine, and where its lines lie in the
// registry export it was read from.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// Bytes [begin, end) of a file.
struct ByteRange {
    size_t begin = 0;
    size_t end = 0;  // one past the last byte
};

// Where the nodes lie in the registry export they were read from, so that
// the file can lose a removed node with every other byte left where it was.
struct ExportLayout {
    // For each node, the ranges that hold its lines: its key's and its
    // subkeys' header lines, their values and the blank lines among them.
    // Comment lines are never part of a node.
    std::vector<std::vector<ByteRange>> lines;
    // For each node, its device-ID key (Enum\<enumerator>\<device ID>), an
    // index into `deviceLines`.
    std::vector<size_t> deviceOf;
    // For each device-ID key, the ranges that hold its own lines (none when
    // the file names it only as part of its nodes' keys).
    std::vector<std::vector<ByteRange>> deviceLines;
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

}  // namespace hwsim
