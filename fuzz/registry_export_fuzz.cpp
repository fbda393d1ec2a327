// libFuzzer target for the registry-export reader of the simulated machine.
//
// Input: byte 0 picks the code page strings are converted to, the rest is
// the file. Besides the sanitizers, the target checks:
//   - a refused file leaves no nodes and a reason that names its line;
//   - the lines of a read file's nodes and device keys lie inside it and no
//     line belongs to two of them;
//   - dropping no node gives the file back unchanged; dropping every node
//     removes exactly their lines and their device keys';
//   - the file without its first node reads again, to the same nodes less
//     that one: the simulation rewrites the file so after each removal.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/host/registry_export.h"

namespace {

using hwfuzz::Check;
using hwfuzz::kCodePages;

std::vector<std::string> InstanceIds(const std::vector<hwsim::Node>& nodes, size_t skip)
{
    std::vector<std::string> ids;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (i != skip) {
            ids.push_back(nodes[i].instanceId);
        }
    }
    return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const UINT codePage = kCodePages[data[0] % hwfuzz::kCodePageCount];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    hwsim::DeviceDatabase database;
    std::string error;
    if (!hwsim::ParseRegistryExport(bytes, codePage, &database, &error)) {
        Check(database.nodes.empty() && database.layout.lines.empty() && database.layout.deviceLines.empty(),
              "a refused file leaves no nodes");
        Check(error.compare(0, 5, "line ") == 0, "a refusal names its line");
        return 0;
    }
    const hwsim::ExportLayout& layout = database.layout;
    Check(layout.lines.size() == database.nodes.size() && layout.deviceOf.size() == database.nodes.size(),
          "every node has its lines and its device key");

    std::vector<hwsim::ByteRange> all;
    size_t owned = 0;
    std::vector<std::vector<hwsim::ByteRange>> owners = layout.lines;
    for (size_t device : layout.deviceOf) {
        Check(device < layout.deviceLines.size(), "a node's device key is known");
    }
    // Every device key with a node goes with its last node.
    for (size_t device = 0; device < layout.deviceLines.size(); ++device) {
        if (std::find(layout.deviceOf.begin(), layout.deviceOf.end(), device) != layout.deviceOf.end()) {
            owners.push_back(layout.deviceLines[device]);
        }
    }
    for (const std::vector<hwsim::ByteRange>& ranges : owners) {
        for (const hwsim::ByteRange& range : ranges) {
            Check(range.begin < range.end && range.end <= bytes.size(), "a node's lines lie inside the file");
            all.push_back(range);
            owned += range.end - range.begin;
        }
    }
    std::sort(all.begin(), all.end(),
              [](const hwsim::ByteRange& a, const hwsim::ByteRange& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < all.size(); ++i) {
        Check(all[i - 1].end <= all[i].begin, "no line belongs to two nodes or device keys");
    }

    Check(hwsim::WithoutRemovedNodes(bytes, database) == bytes, "dropping no node changes nothing");
    if (database.nodes.empty()) {
        return 0;
    }
    hwsim::DeviceDatabase allGone = database;
    for (hwsim::Node& node : allGone.nodes) {
        node.removed = true;
    }
    Check(hwsim::WithoutRemovedNodes(bytes, allGone).size() == bytes.size() - owned,
          "dropping every node removes exactly their lines");

    hwsim::DeviceDatabase firstGone = database;
    firstGone.nodes[0].removed = true;
    const std::string rewritten = hwsim::WithoutRemovedNodes(bytes, firstGone);
    hwsim::DeviceDatabase reread;
    Check(hwsim::ParseRegistryExport(rewritten, codePage, &reread, &error), "the rewritten file reads again");
    Check(InstanceIds(reread.nodes, SIZE_MAX) == InstanceIds(database.nodes, 0),
          "the rewritten file holds the other nodes");
    return 0;
}
