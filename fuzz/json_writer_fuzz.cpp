// libFuzzer target for hwpurge-preview's JSON strings.
//
// Input: byte 0 picks the system's code page, the rest is the text. Both
// writers run on it: the UTF-8 one on the bytes as they are, the narrow one
// after conversion through the simulated system's code-page services. What
// must hold for every input:
//   - each output is one JSON string that nlohmann::json parses;
//   - when the bytes are well-formed UTF-8, the parsed string is exactly
//     those bytes;
//   - the conversion gives back every block it took from the local heap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_support.h"
#include "platform/host/simulated_windows.h"
#include "preview/json_writer.h"

namespace {

using hwfuzz::Check;
using hwfuzz::kCodePages;

// What a writer wrote, caught in memory.
template <typename Writer>
std::string Capture(Writer write)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    Check(out != nullptr, "open_memstream");
    write(out);
    fclose(out);
    std::string text(data, size);
    free(data);
    return text;
}

// Parses one JSON string; false when it is not one.
bool ParseString(const std::string& json, std::string* value)
{
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_string()) {
        return false;
    }
    *value = parsed.get<std::string>();
    return true;
}

bool IsUtf8(const std::string& bytes)
{
    try {
        (void)nlohmann::json(bytes).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    hwsim::Reset();
    hwsim::SetAnsiCodePage(kCodePages[data[0] % hwfuzz::kCodePageCount]);

    std::string value;
    const std::string utf8 = Capture([&](FILE* out) { WriteJsonString(out, text.data(), text.size()); });
    Check(ParseString(utf8, &value), "the UTF-8 writer's output is not a JSON string");
    Check(!IsUtf8(text) || value == text, "well-formed UTF-8 did not come back unchanged");

    const std::string narrow = Capture([&](FILE* out) { WriteJsonNarrowString(out, text.data(), text.size()); });
    Check(ParseString(narrow, &value), "the narrow writer's output is not a JSON string");
    Check(hwsim::OutstandingBlocks() == 0, "the conversion kept a block");
    return 0;
}
