#include "platform/host/code_pages.h"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace hwsim {
namespace {

// The code pages this simulated system knows; every other number is invalid.
// 20932 (EUC-JP) is the double-byte code page that hwpurge knows nothing of
// by name: its lead bytes come only from what the system reports here.
// Learn: Code Page Identifiers (the numbers), Double-byte Character Sets.
// Assumption: the lead-byte ranges and MaxCharSize values are those of the
// code pages' published tables; GetCPInfo on a Windows with the code page
// installed would show a difference.
const CodePageInfo kCodePages[] = {
    {437, "CP437", 1, {}},
    {850, "CP850", 1, {}},
    {866, "CP866", 1, {}},
    {874, "CP874", 1, {}},
    {1250, "CP1250", 1, {}},
    {1251, "CP1251", 1, {}},
    {1252, "CP1252", 1, {}},
    {1253, "CP1253", 1, {}},
    {1254, "CP1254", 1, {}},
    {1255, "CP1255", 1, {}},
    {1256, "CP1256", 1, {}},
    {1257, "CP1257", 1, {}},
    {1258, "CP1258", 1, {}},
    {932, "CP932", 2, {0x81, 0x9F, 0xE0, 0xFC}},
    {936, "CP936", 2, {0x81, 0xFE}},
    {949, "CP949", 2, {0x81, 0xFE}},
    {950, "CP950", 2, {0x81, 0xFE}},
    {1361, "JOHAB", 2, {0x84, 0xD3, 0xD8, 0xDE, 0xE0, 0xF9}},
    {20932, "EUC-JP", 2, {0x8E, 0x8E, 0xA1, 0xFE}},
    {65000, nullptr, 5, {}},
    {65001, nullptr, 4, {}},
};

// The ANSI code page of a Western European Windows, the one a machine starts
// with unless told otherwise (Learn: Code Page Identifiers: 1252, Western
// European).
const UINT kDefaultAnsiCodePage = 1252;

struct CodePageState {
    UINT ansiCodePage = kDefaultAnsiCodePage;
    bool caseInformationMissing = false;
    std::map<BYTE, BYTE> extraCapitals;  // capital -> small
};

CodePageState& Pages()
{
    static CodePageState state;
    return state;
}

enum Direction { kToCodePage, kFromCodePage };

// One converter per code page and direction, between it and UTF-32LE, opened
// on first use and kept for the life of the process (never destroyed, so
// that they stay reachable at exit).
iconv_t Converter(UINT codePage, Direction direction)
{
    static auto* const converters = new std::map<std::pair<UINT, Direction>, iconv_t>;
    const auto key = std::make_pair(codePage, direction);
    const auto found = converters->find(key);
    if (found != converters->end()) {
        return found->second;
    }
    const char* name = codePage == CP_UTF7 ? "UTF-7" : codePage == CP_UTF8 ? "UTF-8" : nullptr;
    if (const CodePageInfo* info = FindCodePage(codePage)) {
        name = info->iconvName != nullptr ? info->iconvName : name;
    }
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    if (name != nullptr) {
        cd = direction == kToCodePage ? iconv_open(name, "UTF-32LE") : iconv_open("UTF-32LE", name);
    }
    (*converters)[key] = cd;
    return cd;
}

// One character in the code page, or the code page's default character
// (Wine: test_string_conversion, not todo_wine: "?" for 1252). Assumption:
// "?" also where Windows has a best-fit mapping (Learn: WideCharToMultiByte
// function, WC_NO_BEST_FIT_CHARS); such a character converted on Windows
// would show it.
void AppendEncoded(iconv_t cd, char32_t c, std::string* out)
{
    if (cd == reinterpret_cast<iconv_t>(-1) || (c >= 0xD800 && c <= 0xDFFF)) {
        *out += '?';
        return;
    }
    char in[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF), static_cast<char>((c >> 16) & 0xFF),
                  static_cast<char>((c >> 24) & 0xFF)};
    char encoded[16];
    char* src = in;
    size_t srcLeft = sizeof in;
    char* dst = encoded;
    size_t dstLeft = sizeof encoded;
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    // Close any shift state so that each character stands alone.
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (rc == static_cast<size_t>(-1) || srcLeft != 0 || dst == encoded) {
        *out += '?';
        return;
    }
    out->append(encoded, static_cast<size_t>(dst - encoded));
}

// One character of `width` bytes as a code point; false when the code page
// has no such character.
bool DecodeOne(iconv_t cd, const char* bytes, size_t width, char32_t* c)
{
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    char in[4];
    memcpy(in, bytes, width);
    unsigned char out[8];
    char* src = in;
    size_t srcLeft = width;
    char* dst = reinterpret_cast<char*>(out);
    size_t dstLeft = sizeof out;
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (rc == static_cast<size_t>(-1) || srcLeft != 0 || sizeof out - dstLeft != 4) {
        return false;
    }
    *c = static_cast<char32_t>(out[0]) | (static_cast<char32_t>(out[1]) << 8) | (static_cast<char32_t>(out[2]) << 16) |
         (static_cast<char32_t>(out[3]) << 24);
    return true;
}

}  // namespace

const CodePageInfo* FindCodePage(UINT codePage)
{
    for (const CodePageInfo& info : kCodePages) {
        if (info.codePage == codePage) {
            return &info;
        }
    }
    return nullptr;
}

void SetAnsiCodePage(UINT codePage)
{
    Pages().ansiCodePage = codePage;
}

UINT AnsiCodePage()
{
    return Pages().ansiCodePage;
}

void SetCaseInformationMissing(bool missing)
{
    Pages().caseInformationMissing = missing;
}

bool CaseInformationMissing()
{
    return Pages().caseInformationMissing;
}

void AddOneByteCapital(BYTE capital, BYTE small)
{
    Pages().extraCapitals[capital] = small;
}

const std::map<BYTE, BYTE>& OneByteCapitals()
{
    return Pages().extraCapitals;
}

void ResetCodePages()
{
    Pages() = CodePageState();
}

bool IsLeadByte(UINT codePage, unsigned char byte)
{
    const CodePageInfo* info = FindCodePage(codePage);
    if (info == nullptr || info->maxCharSize != 2) {
        return false;
    }
    for (size_t i = 0; i + 1 < MAX_LEADBYTES && info->leadBytes[i] != 0; i += 2) {
        if (byte >= info->leadBytes[i] && byte <= info->leadBytes[i + 1]) {
            return true;
        }
    }
    return false;
}

std::string WideToAnsi(const std::u16string& text, UINT codePage)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        // Windows' own mapping keeps ASCII as it is in every code page it
        // offers as an ANSI code page, whatever the host's tables say of 0x5C
        // or 0x7E. Assumption: 932's 0x5C converted on Windows would show it.
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        // A surrogate pair is one character; a lone surrogate is none.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (codePage == CP_UTF8) {
            if (c >= 0xD800 && c <= 0xDFFF) {
                // U+FFFD, as Windows writes a lone surrogate in UTF-8 (Learn:
                // WideCharToMultiByte function, WC_ERR_INVALID_CHARS).
                out += "\xEF\xBF\xBD";
            } else {
                AppendUtf8(c, &out);
            }
        } else {
            AppendEncoded(Converter(codePage, kToCodePage), c, &out);
        }
    }
    return out;
}

std::u16string AnsiToWide(const std::string& bytes, UINT codePage)
{
    std::u16string wide;
    iconv_t cd = Converter(codePage, kFromCodePage);
    size_t pos = 0;
    while (pos < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[pos]);
        if (b < 0x80) {
            wide += static_cast<char16_t>(b);
            ++pos;
            continue;
        }
        size_t width = 1;
        if (codePage == CP_UTF8) {
            width = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        } else if (IsLeadByte(codePage, b)) {
            width = 2;
        }
        width = std::min(width, bytes.size() - pos);
        char32_t c = 0;
        if (!DecodeOne(cd, bytes.data() + pos, width, &c)) {
            // Only the first byte is spent, so what follows it still counts.
            // Learn: MultiByteToWideChar function (illegal sequences become
            // U+FFFD). Assumption: so for a DBCS lead byte without its trail
            // byte too, one byte at a time.
            wide += u'\xFFFD';
            ++pos;
            continue;
        }
        if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
        pos += width;
    }
    return wide;
}

void AppendUtf8(char32_t c, std::string* out)
{
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        size_t length = 0;
        char32_t c = 0;
        if ((b & 0xE0) == 0xC0) {
            length = 2;
            c = b & 0x1Fu;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3;
            c = b & 0x0Fu;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4;
            c = b & 0x07u;
        }
        bool valid = length != 0 && length <= n - i;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (s[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (s[i + k] & 0x3Fu);
        }
        if (!valid || c > 0x10FFFF) {
            out += static_cast<char16_t>(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += length;
    }
    return out;
}

std::u16string Utf16LeBytes(const std::string& bytes)
{
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return out;
}

}  // namespace hwsim
