// The code-page services of the simulated kernel32: which code pages the
// system knows, its ANSI code page, the character types and case mapping of
// the ANSI code page's characters, and conversions to and from UTF-16.
#include <iconv.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <string>

#include "platform/host/code_pages.h"
#include "platform/host/machine.h"

namespace hwsim {
namespace {

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
    if (locale != LOCALE_SYSTEM_DEFAULT && locale != LOCALE_USER_DEFAULT) {
        return nullptr;
    }
    const CodePageInfo* info = FindCodePage(AnsiCodePage());
    if (info == nullptr || info->iconvName == nullptr || CaseInformationMissing() || UnicodeLocale() == nullptr) {
        return nullptr;
    }
    return info;
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
}  // namespace hwsim

// Learn: GetACP function (the A functions convert through this code page).
UINT GetACP()
{
    hwsim::BootedMachine(__func__);
    return hwsim::AnsiCodePage();
}

// Learn: IsValidCodePage function (valid only if installed).
BOOL IsValidCodePage(UINT CodePage)
{
    hwsim::BootedMachine(__func__);
    return hwsim::FindCodePage(CodePage) != nullptr ? TRUE : FALSE;
}

// Learn: GetCPInfo function (ERROR_INVALID_PARAMETER; CodePage as for
// GetCPInfoEx, which takes CP_ACP) and CPINFO structure (MaxCharSize, the
// "?" default character, lead-byte ranges closed by two zero bytes).
BOOL GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo)
{
    hwsim::BootedMachine(__func__);
    const hwsim::CodePageInfo* info = hwsim::FindCodePage(CodePage == CP_ACP ? hwsim::AnsiCodePage() : CodePage);
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

// Learn: GetStringTypeA function (the string goes through the code page to
// Unicode; the types depend on the Unicode character only). Assumption: one
// type per byte, a lone lead byte typed 0; a DBCS string typed on Windows
// would show otherwise.
BOOL GetStringTypeA(LCID Locale, DWORD dwInfoType, LPCSTR lpSrcStr, int cchSrc, LPWORD lpCharType)
{
    hwsim::BootedMachine(__func__);
    const hwsim::CodePageInfo* info = hwsim::CaseData(Locale);
    if (info == nullptr || dwInfoType != CT_CTYPE1 || lpSrcStr == nullptr || lpCharType == nullptr || cchSrc < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (int i = 0; i < cchSrc; ++i) {
        lpCharType[i] = 0;
        if (hwsim::OneByteCapitals().count(static_cast<BYTE>(lpSrcStr[i])) != 0) {
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

// Learn: LCMapStringA function (0 for cchDest asks the size;
// ERROR_INSUFFICIENT_BUFFER; the A form maps through the ANSI code page).
int LCMapStringA(LCID Locale, DWORD dwMapFlags, LPCSTR lpSrcStr, int cchSrc, LPSTR lpDestStr, int cchDest)
{
    hwsim::BootedMachine(__func__);
    const hwsim::CodePageInfo* info = hwsim::CaseData(Locale);
    if (info == nullptr || (dwMapFlags != LCMAP_LOWERCASE && dwMapFlags != LCMAP_UPPERCASE) || lpSrcStr == nullptr ||
        cchSrc < 0 || cchDest < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string source(lpSrcStr, static_cast<size_t>(cchSrc));
    const auto& extra = hwsim::OneByteCapitals();
    const auto added = cchSrc == 1 ? extra.find(static_cast<BYTE>(source[0])) : extra.end();
    if (added != extra.end() && dwMapFlags == LCMAP_LOWERCASE && cchDest >= 1 && lpDestStr != nullptr) {
        lpDestStr[0] = static_cast<char>(added->second);
        return 1;
    }
    std::wstring wide;
    if (!hwsim::ToWide(info, source, &wide)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
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
        // Assumption: a mapped letter the code page lacks keeps the original
        // (Learn: LCMapStringA function has undefined characters become "?").
        mapped = source;
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

// Learn: MultiByteToWideChar function (0 bytes fails; -1 counts the NUL; 0
// for cchWideChar asks the size; ERROR_INSUFFICIENT_BUFFER; no NUL is added
// to a counted result).
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar)
{
    hwsim::BootedMachine(__func__);
    const UINT codePage = CodePage == CP_ACP ? hwsim::AnsiCodePage() : CodePage;
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 || dwFlags != 0 ||
        (lpWideCharStr == nullptr && cchWideChar != 0) ||
        (codePage != CP_UTF8 && hwsim::FindCodePage(codePage) == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the string and its NUL.
    const size_t length = cbMultiByte < 0 ? strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const std::u16string wide = hwsim::AnsiToWide(std::string(lpMultiByteStr, length), codePage);
    if (cchWideChar == 0) {
        return static_cast<int>(wide.size());
    }
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // A counted result: no terminator is added, as on Windows.
    memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));  // NOLINT(bugprone-not-null-terminated-result)
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    hwsim::BootedMachine(__func__);
    const UINT codePage = CodePage == CP_ACP ? hwsim::AnsiCodePage() : CodePage;
    // UTF-8 has no default character to report (Learn: WideCharToMultiByte
    // function: ERROR_INVALID_PARAMETER with either pointer for CP_UTF8).
    const bool defaultsGiven = lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr;
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 || dwFlags != 0 ||
        (lpMultiByteStr == nullptr && cbMultiByte != 0) || (codePage == CP_UTF8 && defaultsGiven) ||
        (codePage != CP_UTF8 && hwsim::FindCodePage(codePage) == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[length] != 0) {
            ++length;
        }
        ++length;
    } else {
        length = static_cast<size_t>(cchWideChar);
    }
    const std::u16string wide(lpWideCharStr, length);
    const std::string bytes = hwsim::WideToAnsi(wide, codePage);
    if (lpUsedDefaultChar != nullptr) {
        // Each character the code page lacks became a '?' of its own (Wine:
        // test_string_conversion, not todo_wine).
        const auto asked = std::count(wide.begin(), wide.end(), u'?');
        *lpUsedDefaultChar = std::count(bytes.begin(), bytes.end(), '?') > asked ? TRUE : FALSE;
    }
    if (cbMultiByte == 0) {
        return static_cast<int>(bytes.size());
    }
    if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpMultiByteStr, bytes.data(), bytes.size());  // NOLINT(bugprone-not-null-terminated-result)
    return static_cast<int>(bytes.size());
}
