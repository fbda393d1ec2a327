// libFuzzer target for the whole removal pass, and for hwpurge-preview's
// walk over the same machine, whose hardware-ID properties, names and driver
// keys hold arbitrary bytes.
//
// Input: byte 0 picks the narrow code page, byte 1 the identifier's byte
// count k, then k bytes of identifier; the rest is split at each 0xFF byte
// into device nodes. A node's piece is its hardware-ID property (an empty one:
// no property), then, after a 0xFE, what else it has: a byte of flags
// (present, a driver key, a Driver value naming no key, a friendly name, a
// description, a manufacturer), the driver key's number (nodes may share
// one), and for each of InfPath, ProviderName, DriverVersion and DriverDate a
// type byte and a size byte. Each property reaches the pass in a buffer of
// exactly its size, so AddressSanitizer sees any read past it, including the
// printing of an entry that has no terminator. Checks:
//   - every block the pass was given is back and the set destroyed once;
//   - a node is handed to its class installer exactly when its bytes hold a
//     matching entry, at most once, in index order;
//   - each removal line names the entry the walk yields, cut at the end of
//     the property when it has no terminator;
//   - hwpurge-preview, on the machine as it was, in each form: the JSON
//     parses and lists exactly the nodes hwpurge removes, in order, with the
//     entries it names; the summary is one line within its limit; the unused
//     packages are oemNN.inf names, and only after a complete look; every
//     form gives the same result, and every block and key is given back.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_support.h"
#include "platform/host/simulated_windows.h"
#include "preview/json_writer.h"
#include "preview/preview_devices.h"
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

const char kClassGuid[] = "{4d36e97d-e325-11ce-bfc1-08002be10318}";
const char* const kValueNames[] = {"InfPath", "ProviderName", "DriverVersion", "DriverDate"};
// INF names the package count and the unused-packages form tell apart.
const char* const kInfNames[] = {"oem1.inf", "OEM1.INF", "oem2.inf", "usb.inf", "oem.inf", "oem3.infx", "oem12.inf"};

// A value of `type` (an index into the types a value can have), `size`
// bytes long, its text made of `fill`; a string may lack its terminator.
hwsim::RegValue MakeValue(BYTE type, size_t size, char fill, bool isInf)
{
    static const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ};
    hwsim::RegValue value;
    value.type = kTypes[type % 5];
    if (isInf && size < 3 * 7) {
        value.data = std::string(kInfNames[size / 3]) + '\0';
    } else {
        value.data = std::string(size, fill);
        if (!value.data.empty() && (size % 2) == 0) {
            value.data.back() = '\0';
        }
    }
    return value;
}

// The details after a node's 0xFE: see the top of this file.
void AddDetails(const std::string& details, size_t index, hwsim::Node* node, hwsim::DriverKeys* keys)
{
    const auto at = [&](size_t i) { return i < details.size() ? static_cast<BYTE>(details[i]) : BYTE{0}; };
    const BYTE flags = at(0);
    node->present = (flags & 0x01) != 0;
    char name[64];
    snprintf(name, sizeof name, "%s\\%04u", kClassGuid, static_cast<unsigned>(at(1) % 8));
    if ((flags & 0x06) != 0) {
        node->driver = name;
    }
    if ((flags & 0x02) != 0) {
        hwsim::DriverKey& key = (*keys)[hwsim::FoldedName(name)];
        for (size_t v = 0; v < 4; ++v) {
            const BYTE type = at(2 + 2 * v);
            if (type % 6 != 5) {
                key.values[hwsim::FoldedName(kValueNames[v])] =
                    MakeValue(type, 3u * at(3 + 2 * v), static_cast<char>('a' + v), v == 0);
            }
        }
    }
    const std::string text = details.size() > 10 ? details.substr(10) : std::string("Name");
    if ((flags & 0x08) != 0) {
        node->friendlyName = text;
    }
    if ((flags & 0x10) != 0) {
        node->deviceDesc = text + std::to_string(index);
    }
    if ((flags & 0x20) != 0) {
        node->manufacturer = text;
    }
}

// Runs one form of the preview on a fresh copy of the machine and returns
// what it wrote to standard output.
std::string Preview(const std::vector<hwsim::Node>& nodes, const hwsim::DriverKeys& keys, const std::string& identifier,
                    PreviewFormat format, PreviewResult* result)
{
    const UINT codePage = hwsim::AnsiCodePage();
    hwsim::Reset();
    hwsim::SetAnsiCodePage(codePage);
    hwsim::SetDatabase(nodes);
    hwsim::SetDriverKeys(keys);
    OutputCapture capture;
    PreviewDevicesByHardwareId(identifier.c_str(), format, result);
    const std::string out = capture.Finish();
    Check(hwsim::OutstandingBlocks() == 0 && hwsim::OpenSets() == 0 && hwsim::OpenKeys() == 0,
          "the preview gives back every block, set and key");
    Check(hwsim::CallsOf(hwsim::Op::CallClassInstaller).empty(), "the preview removes nothing");
    return out;
}

// The identifier or an entry as the JSON gives it: in UTF-8.
nlohmann::json AsJson(const std::string& narrow)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    WriteJsonNarrowString(out, narrow.data(), narrow.size());
    fclose(out);
    const nlohmann::json text = nlohmann::json::parse(std::string(buffer, size));
    free(buffer);
    return text;
}

bool IsOemInf(const std::string& line)
{
    std::string folded = hwsim::FoldedName(line);
    const size_t digits = folded.find_first_not_of("0123456789", 3);
    return folded.compare(0, 3, "oem") == 0 && digits > 3 && folded.compare(digits, std::string::npos, ".inf") == 0;
}

void CheckPreview(const std::vector<hwsim::Node>& nodes, const hwsim::DriverKeys& keys, const std::string& identifier,
                  const std::vector<long>& removed, const std::vector<std::string>& entries)
{
    PreviewResult json = {};
    const std::string document = Preview(nodes, keys, identifier, kPreviewJson, &json);
    const nlohmann::json parsed = nlohmann::json::parse(document, nullptr, false);
    Check(!parsed.is_discarded(), "the preview's JSON parses");
    Check(parsed["devices"].size() == removed.size() && json.listed == removed.size(),
          "the preview lists as many nodes as hwpurge removes");
    for (size_t i = 0; i < removed.size() && i < parsed["devices"].size(); ++i) {
        const nlohmann::json& device = parsed["devices"][i];
        Check(device["instanceId"] == "ROOT\\N\\" + std::to_string(removed[i]), "the same nodes in the same order");
        Check(device["hardwareId"] == AsJson(entries[i]), "each listed with the entry hwpurge's line names");
    }
    PreviewResult text = {};
    Preview(nodes, keys, identifier, kPreviewText, &text);
    PreviewResult summary = {};
    const std::string line = Preview(nodes, keys, identifier, kPreviewSummary, &summary);
    Check(!line.empty() && line.find('\n') == line.size() - 1 && line.size() - 1 <= 2000,
          "the summary is one line within its limit");
    Check(std::none_of(line.begin(), line.end() - 1, [](char c) { return static_cast<BYTE>(c) < 0x20; }),
          "the summary holds no control character");
    PreviewResult unused = {};
    const std::string infs = Preview(nodes, keys, identifier, kPreviewUnusedPackages, &unused);
    const bool complete = unused.complete && unused.detailsComplete;
    Check(complete || infs.empty(), "no package is named to delete after an incomplete look");
    // The packages of the nodes hwpurge keeps: their driver key's InfPath, as
    // text up to its NUL (a value of another type names no package).
    std::vector<std::string> kept;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const auto key = keys.find(hwsim::FoldedName(nodes[i].driver));
        if (std::find(removed.begin(), removed.end(), static_cast<long>(i)) != removed.end() || key == keys.end()) {
            continue;
        }
        const auto inf = key->second.values.find("infpath");
        if (inf != key->second.values.end() && (inf->second.type == REG_SZ || inf->second.type == REG_EXPAND_SZ)) {
            kept.push_back(hwsim::FoldedName(inf->second.data.substr(0, inf->second.data.find('\0'))));
        }
    }
    for (size_t start = 0; start < infs.size();) {
        const size_t end = infs.find('\n', start);
        const std::string inf = infs.substr(start, end - start);
        Check(end != std::string::npos && IsOemInf(inf), "only oemNN.inf packages");
        Check(std::find(kept.begin(), kept.end(), hwsim::FoldedName(inf)) == kept.end(),
              "no package a node hwpurge keeps uses is named to delete");
        start = end == std::string::npos ? infs.size() : end + 1;
    }
    for (const PreviewResult* other : {&text, &summary, &unused}) {
        Check(other->listed == json.listed && other->waiting == json.waiting && other->complete == json.complete &&
                  other->detailsComplete == json.detailsComplete,
              "every form comes to the same result");
    }
}

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
    hwsim::DriverKeys keys;
    const std::string rest(reinterpret_cast<const char*>(data + 2 + k), size - 2 - k);
    size_t start = 0;
    for (;;) {
        const size_t end = rest.find('\xFF', start);
        std::string piece = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const size_t mark = piece.find('\xFE');
        const std::string details = mark == std::string::npos ? std::string() : piece.substr(mark + 1);
        if (mark != std::string::npos) {
            piece.resize(mark);
        }
        const std::string id = "ROOT\\N\\" + std::to_string(nodes.size());
        nodes.push_back(piece.empty() ? hwsim::MakeNodeWithoutIds(id, "", false)
                                      : hwsim::MakeNodeWithBytes(id, "", false, piece));
        AddDetails(details, nodes.size() - 1, &nodes.back(), &keys);
        if (end == std::string::npos || nodes.size() == 64) {
            break;
        }
        start = end + 1;
    }
    hwsim::SetDatabase(nodes);
    hwsim::SetDriverKeys(keys);

    OutputCapture capture;
    RemoveDevicesByHardwareId(identifier.c_str());
    const std::string out = capture.Finish();

    Check(hwsim::OutstandingBlocks() == 0, "every block is given back");
    Check(hwsim::OpenSets() == 0 && hwsim::DestroyedSets() == 1, "the set is destroyed exactly once");

    // What the walk yields for each node, on its own copy of the bytes.
    std::string expected;
    std::vector<long> expectedRemovals;
    std::vector<std::string> entries;
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
            entries.emplace_back(entry, length);
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
    CheckPreview(nodes, keys, identifier, expectedRemovals, entries);
    return 0;
}
