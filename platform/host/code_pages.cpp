// Code-page services of the simulated Windows: the system's ANSI code page,
// what the system knows of each code page, and the case of its characters.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>

#include "platform/host/simulated_windows.h"

namespace hwsim {
namespace {

struct CodePageInfo {
    UINT codePage;
    const char* iconvName;  // nullptr: no case data
    UINT maxCharSize;
    BYTE leadBytes[MAX_LEADBYTES];
};

// The code pages this simulated system knows; every other number is invalid.
// 20932 (EUC-JP) is the double-byte code page that hwpurge knows nothing of
// by name: its lead bytes come only from what the system reports here.
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

struct CodePageState {
    UINT ansiCodePage = 1252;
    bool caseInformationMissing = false;
    std::map<BYTE, BYTE> extraCapitals;  // capital -> small
};

CodePageState& Pages()
{
    static CodePageState state;
    return state;
}

const CodePageInfo* Find(UINT codePage)
{
    for (const CodePageInfo& info : kCodePages) {
        if (info.codePage == codePage) {
            return &info;
        }
    }
    return nullptr;
}

locale_t UnicodeLocale()
{
    static locale_t locale = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

// Converts `in` between encodings; false when any character fails.
bool Convert(const char* from, const char* to, const std::string& in, std::string* out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string result(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &result[0];
    size_t dstLeft = result.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || srcLeft != 0) {
        return false;
    }
    result.resize(result.size() - dstLeft);
    *out = result;
    return true;
}

// The system's code page for LOCALE_*_DEFAULT, with its case data.
const CodePageInfo* CaseData(LCID locale)
{
    if (locale != LOCALE_SYSTEM_DEFAULT && locale != 0x0400 /* LOCALE_USER_DEFAULT */) {
        return nullptr;
    }
    const CodePageInfo* info = Find(Pages().ansiCodePage);
    if (info == nullptr || info->iconvName == nullptr || Pages().caseInformationMissing || UnicodeLocale() == nullptr) {
        return nullptr;
    }
    return info;
}

// Windows' own mapping keeps ASCII as it is in every code page it offers as
// an ANSI code page, whatever the host's tables say of 0x5C or 0x7E.
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

// One converter per code page, opened on first use and kept for the life of
// the process (never destroyed, so that they stay reachable at exit).
iconv_t Encoder(UINT codePage)
{
    static auto* const encoders = new std::map<UINT, iconv_t>;
    const auto found = encoders->find(codePage);
    if (found != encoders->end()) {
        return found->second;
    }
    const char* name = codePage == 65000 ? "UTF-7" : nullptr;
    if (const CodePageInfo* info = Find(codePage)) {
        name = info->iconvName != nullptr ? info->iconvName : name;
    }
    iconv_t cd = name != nullptr ? iconv_open(name, "UTF-32LE") : reinterpret_cast<iconv_t>(-1);
    (*encoders)[codePage] = cd;
    return cd;
}

// One character in the code page, or the code page's default character.
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

bool ToWide(const CodePageInfo* info, const std::string& bytes, std::wstring* wide)
{
    std::string raw;
    if (!Convert(info->iconvName, "WCHAR_T", bytes, &raw)) {
        return false;
    }
    wide->assign(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t));
    return true;
}

}  // namespace

void ResetCodePages()
{
    Pages() = CodePageState();
}

void BootCodePages()
{
    ResetCodePages();
    const char* text = getenv("HWPURGE_ACP");
    if (text == nullptr) {
        return;
    }
    char* end = nullptr;
    const unsigned long value = strtoul(text, &end, 10);
    if (*text >= '0' && *text <= '9' && *end == '\0' && value <= 0xFFFFFFFFul) {
        Pages().ansiCodePage = static_cast<UINT>(value);
    }
}

UINT AnsiCodePage()
{
    return Pages().ansiCodePage;
}

bool IsLeadByte(UINT codePage, unsigned char byte)
{
    const CodePageInfo* info = Find(codePage);
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
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        // A surrogate pair is one character; a lone surrogate is none.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (codePage == 65001) {
            if (c >= 0xD800 && c <= 0xDFFF) {
                out += "\xEF\xBF\xBD";  // U+FFFD, as Windows writes a lone surrogate in UTF-8
            } else {
                AppendUtf8(c, &out);
            }
        } else {
            AppendEncoded(Encoder(codePage), c, &out);
        }
    }
    return out;
}

// hwpurge-preview: narrow text to UTF-16, one character at a time, so
// that one that does not convert costs only itself.
std::u16string AnsiToWide(const std::string& bytes, UINT codePage)
{
    std::u16string wide;
    const CodePageInfo* info = Find(codePage);
    size_t pos = 0;
    while (pos < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[pos]);
        size_t width = 1;
        if (codePage == 65001) {
            width = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        } else if (IsLeadByte(codePage, b)) {
            width = 2;
        }
        width = std::min(width, bytes.size() - pos);
        const std::string character = bytes.substr(pos, width);
        std::string utf32;
        const char* from = codePage == 65001 ? "UTF-8" : info != nullptr ? info->iconvName : nullptr;
        if (b < 0x80) {
            wide += static_cast<char16_t>(b);
        } else if (from != nullptr && Convert(from, "UTF-32LE", character, &utf32) && utf32.size() == 4) {
            const auto* u = reinterpret_cast<const unsigned char*>(utf32.data());
            const char32_t c = u[0] | (u[1] << 8) | (u[2] << 16) | (static_cast<char32_t>(u[3]) << 24);
            if (c >= 0x10000) {
                wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                wide += static_cast<char16_t>(c);
            }
        } else {
            wide += u'\xFFFD';
            width = 1;
        }
        pos += width;
    }
    return wide;
}

void SetAnsiCodePage(UINT codePage)
{
    Pages().ansiCodePage = codePage;
}

void AddOneByteCapital(BYTE capital, BYTE small)
{
    Pages().extraCapitals[capital] = small;
}

void SetCaseInformationMissing(bool missing)
{
    Pages().caseInformationMissing = missing;
}

}  // namespace hwsim

UINT GetACP()
{
    hwsim::Boot();
    return hwsim::Pages().ansiCodePage;
}

BOOL IsValidCodePage(UINT CodePage)
{
    hwsim::Boot();
    return hwsim::Find(CodePage) != nullptr ? TRUE : FALSE;
}

BOOL GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo)
{
    hwsim::Boot();
    const hwsim::CodePageInfo* info = hwsim::Find(CodePage == CP_ACP ? hwsim::Pages().ansiCodePage : CodePage);
    if (info == nullptr || lpCPInfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memset(lpCPInfo, 0, sizeof *lpCPInfo);
    lpCPInfo->MaxCharSize = info->maxCharSize;
    lpCPInfo->DefaultChar[0] = '?';
    memcpy(lpCPInfo->LeadByte, info->leadBytes, sizeof info->leadBytes);
    return TRUE;
}

BOOL GetStringTypeA(LCID Locale, DWORD dwInfoType, LPCSTR lpSrcStr, int cchSrc, LPWORD lpCharType)
{
    hwsim::Boot();
    const hwsim::CodePageInfo* info = hwsim::CaseData(Locale);
    if (info == nullptr || dwInfoType != CT_CTYPE1 || lpSrcStr == nullptr || lpCharType == nullptr || cchSrc < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (int i = 0; i < cchSrc; ++i) {
        lpCharType[i] = 0;
        if (hwsim::Pages().extraCapitals.count(static_cast<BYTE>(lpSrcStr[i])) != 0) {
            lpCharType[i] = C1_UPPER;
            continue;
        }
        std::wstring wide;
        if (hwsim::ToWide(info, std::string(1, lpSrcStr[i]), &wide) && wide.size() == 1) {
            const auto c = static_cast<wint_t>(static_cast<uint32_t>(wide[0]));
            if (iswupper_l(c, hwsim::UnicodeLocale())) {
                lpCharType[i] |= C1_UPPER;
            }
            if (iswlower_l(c, hwsim::UnicodeLocale())) {
                lpCharType[i] |= C1_LOWER;
            }
        }
    }
    return TRUE;
}

int LCMapStringA(LCID Locale, DWORD dwMapFlags, LPCSTR lpSrcStr, int cchSrc, LPSTR lpDestStr, int cchDest)
{
    hwsim::Boot();
    const hwsim::CodePageInfo* info = hwsim::CaseData(Locale);
    if (info == nullptr || (dwMapFlags != LCMAP_LOWERCASE && dwMapFlags != LCMAP_UPPERCASE) || lpSrcStr == nullptr ||
        cchSrc < 0 || cchDest < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string source(lpSrcStr, static_cast<size_t>(cchSrc));
    const auto& extra = hwsim::Pages().extraCapitals;
    const auto added = cchSrc == 1 ? extra.find(static_cast<BYTE>(source[0])) : extra.end();
    if (added != extra.end() && dwMapFlags == LCMAP_LOWERCASE && cchDest >= 1 && lpDestStr != nullptr) {
        lpDestStr[0] = static_cast<char>(added->second);
        return 1;
    }
    std::wstring wide;
    if (!hwsim::ToWide(info, source, &wide)) {
        SetLastError(1113 /* ERROR_NO_UNICODE_TRANSLATION */);
        return 0;
    }
    for (wchar_t& c : wide) {
        const wint_t mapped = dwMapFlags == LCMAP_LOWERCASE
                                  ? towlower_l(static_cast<wint_t>(c), hwsim::UnicodeLocale())
                                  : towupper_l(static_cast<wint_t>(c), hwsim::UnicodeLocale());
        c = static_cast<wchar_t>(mapped);
    }
    std::string mapped;
    const std::string raw(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    if (!hwsim::Convert("WCHAR_T", info->iconvName, raw, &mapped)) {
        mapped = source;  // a mapped letter the code page lacks: keep the original
    }
    if (cchDest == 0) {
        return static_cast<int>(mapped.size());
    }
    if (lpDestStr == nullptr || mapped.size() > static_cast<size_t>(cchDest)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Like Windows, no terminator is added to a counted result.
    memcpy(lpDestStr, mapped.data(), mapped.size());  // NOLINT(bugprone-not-null-terminated-result)
    return static_cast<int>(mapped.size());
}
