#include "preview/json_writer.h"

#include <climits>

#include "platform/platform.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool IsContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at text[0], or 0 when the
// byte there does not begin one (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF).
size_t SequenceLength(const unsigned char* text, size_t available)
{
    const unsigned char b = text[0];
    if (b < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80;  // the bounds of the second byte
    unsigned char high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        low = static_cast<unsigned char>(b == 0xE0 ? 0xA0 : 0x80);
        high = static_cast<unsigned char>(b == 0xED ? 0x9F : 0xBF);
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        low = static_cast<unsigned char>(b == 0xF0 ? 0x90 : 0x80);
        high = static_cast<unsigned char>(b == 0xF4 ? 0x8F : 0xBF);
    } else {
        return 0;
    }
    if (available < length || text[1] < low || text[1] > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (!IsContinuation(text[i])) {
            return 0;
        }
    }
    return length;
}

void WriteBytes(FILE* out, const char* text, size_t length, bool asciiOnly)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    fputc('"', out);
    size_t pos = 0;
    while (pos < length) {
        const unsigned char b = bytes[pos];
        if (b == '"' || b == '\\') {
            fputc('\\', out);
            fputc(b, out);
            ++pos;
        } else if (b < 0x20) {
            fprintf(out, "\\u%04x", static_cast<unsigned>(b));
            ++pos;
        } else if (b < 0x80) {
            fputc(b, out);
            ++pos;
        } else {
            const size_t sequence = asciiOnly ? 0 : SequenceLength(bytes + pos, length - pos);
            if (sequence == 0) {
                fputs(kReplacement, out);
                ++pos;
            } else {
                fwrite(bytes + pos, 1, sequence, out);
                pos += sequence;
            }
        }
    }
    fputc('"', out);
}

// Converts the narrow text to UTF-8 in a buffer from the local heap; null
// when any step fails. The caller frees the buffer.
char* NarrowToUtf8(const char* text, size_t length, int* utf8Length)
{
    if (length > INT_MAX) {
        return nullptr;
    }
    const int narrowLength = static_cast<int>(length);
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, narrowLength, nullptr, 0);
    if (wideLength <= 0) {
        return nullptr;
    }
    auto* wide = static_cast<WCHAR*>(LocalAlloc(LPTR, static_cast<SIZE_T>(wideLength) * sizeof(WCHAR)));
    if (wide == nullptr) {
        return nullptr;
    }
    char* utf8 = nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, text, narrowLength, wide, wideLength) == wideLength) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
        if (size > 0) {
            utf8 = static_cast<char*>(LocalAlloc(LPTR, static_cast<SIZE_T>(size)));
        }
        if (utf8 != nullptr &&
            WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, size, nullptr, nullptr) != size) {
            LocalFree(utf8);
            utf8 = nullptr;
        }
        *utf8Length = size;
    }
    LocalFree(wide);
    return utf8;
}

}  // namespace

void WriteJsonString(FILE* out, const char* text, size_t length)
{
    WriteBytes(out, text, length, false);
}

void WriteJsonNarrowString(FILE* out, const char* text, size_t length)
{
    if (length == 0) {
        // The services refuse an empty string.
        WriteBytes(out, text, 0, false);
        return;
    }
    int utf8Length = 0;
    char* utf8 = NarrowToUtf8(text, length, &utf8Length);
    if (utf8 == nullptr) {
        // Narrow bytes are not UTF-8: only ASCII can be trusted as it is.
        WriteBytes(out, text, length, true);
        return;
    }
    WriteBytes(out, utf8, static_cast<size_t>(utf8Length), false);
    LocalFree(utf8);
}
