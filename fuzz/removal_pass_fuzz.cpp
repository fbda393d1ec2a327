// libFuzzer target for the whole removal pass on a machine whose hardware-ID
// properties hold arbitrary bytes.
//
// Input: byte 0 picks the narrow code page, byte 1 the identifier's byte
// count k, then k bytes of identifier; the rest is split at each 0xFF byte
// into device nodes, whose properties hold exactly those bytes (an empty
// piece is a node without the property). Each property reaches the pass in a
// buffer of exactly its size, so AddressSanitizer sees any read past it,
// including the printing of an entry that has no terminator. Checks:
//   - every block the pass was given is back and the set destroyed once;
//   - a node is handed to its class installer exactly when its bytes hold a
//     matching entry, at most once, in index order;
//   - each removal line names the entry the walk yields, cut at the end of
//     the property when it has no terminator.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"
#include "removal/remove_devices.h"

namespace {

using hwfuzz::Check;
using hwfuzz::kCodePages;

// What the pass wrote to standard output, read back from a temporary file.
class OutputCapture {
public:
    OutputCapture()
    {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        file_ = tmpfile();
        dup2(fileno(file_), STDOUT_FILENO);
    }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    ~OutputCapture()
    {
        if (file_ != nullptr) {
            Finish();
        }
    }

    std::string Finish()
    {
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        std::string text;
        rewind(file_);
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, file_)) > 0) {
            text.append(chunk, n);
        }
        fclose(file_);
        file_ = nullptr;
        return text;
    }

private:
    int saved_ = -1;
    FILE* file_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    hwsim::Reset();
    // Taking a code page asks about all 256 bytes: only redone on a change.
    static UINT current = 0;
    const UINT codePage = kCodePages[data[0] % hwfuzz::kCodePageCount];
    hwsim::SetAnsiCodePage(codePage);
    if (codePage != current) {
        TakeNarrowCodePage();
        current = codePage;
    }
    const size_t k = data[1] < size - 2 ? data[1] : size - 2;
    // As a C string: up to its first NUL.
    const char* text = reinterpret_cast<const char*>(data + 2);
    const std::string identifier(text, strnlen(text, k));
    if (identifier.empty()) {
        return 0;  // refused before the pass runs
    }

    std::vector<hwsim::Node> nodes;
    const std::string rest(reinterpret_cast<const char*>(data + 2 + k), size - 2 - k);
    size_t start = 0;
    for (;;) {
        const size_t end = rest.find('\xFF', start);
        const std::string piece = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string id = "ROOT\\N\\" + std::to_string(nodes.size());
        nodes.push_back(piece.empty() ? hwsim::MakeNodeWithoutIds(id, "", false)
                                      : hwsim::MakeNodeWithBytes(id, "", false, piece));
        if (end == std::string::npos || nodes.size() == 64) {
            break;
        }
        start = end + 1;
    }
    hwsim::SetDatabase(nodes);

    OutputCapture capture;
    RemoveDevicesByHardwareId(identifier.c_str());
    const std::string out = capture.Finish();

    Check(hwsim::OutstandingBlocks() == 0, "every block is given back");
    Check(hwsim::OpenSets() == 0 && hwsim::DestroyedSets() == 1, "the set is destroyed exactly once");

    // What the walk yields for each node, on its own copy of the bytes.
    std::string expected;
    std::vector<long> expectedRemovals;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const std::string& bytes = nodes[i].hardwareId;
        if (bytes.empty()) {
            continue;
        }
        char* copy = static_cast<char*>(malloc(bytes.size()));
        memcpy(copy, bytes.data(), bytes.size());
        const char* entry = FindMatchingHardwareId(copy, static_cast<DWORD>(bytes.size()), identifier.c_str());
        if (entry != nullptr) {
            const size_t length = BoundedEntryLength(entry, bytes.size() - static_cast<size_t>(entry - copy));
            expected += " Removed: KIVO Device with ID [" + std::string(entry, length) + "] \n";
            expectedRemovals.push_back(static_cast<long>(i));
        }
        free(copy);
    }
    std::vector<long> removals;
    for (const hwsim::Call& call : hwsim::CallsOf(hwsim::Op::CallClassInstaller)) {
        removals.push_back(call.index);
    }
    Check(removals == expectedRemovals, "exactly the matching nodes are removed, once each, in order");
    const size_t banner = 7 * 51;
    Check(out.size() == banner + expected.size() && out.compare(banner, std::string::npos, expected) == 0,
          "after the banner, one removal line per removed node, naming the yielded entry");
    return 0;
}
