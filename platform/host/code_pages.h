// Text and code pages of the simulated Windows: the code pages the system
// knows, its ANSI code page and case data, and the conversions between
// UTF-8, UTF-16 and a code page that everything above shares.
#pragma once

#include <map>
#include <string>

#include "platform/host/windows_names.h"

namespace hwsim {

struct CodePageInfo {
    UINT codePage;
    const char* iconvName;  // nullptr: no case data
    UINT maxCharSize;
    BYTE leadBytes[MAX_LEADBYTES];  // ranges in pairs, closed by zeros
};

// What the system knows of `codePage`; nullptr for a code page it lacks.
const CodePageInfo* FindCodePage(UINT codePage);

// The system's ANSI code page.
void SetAnsiCodePage(UINT codePage);
UINT AnsiCodePage();
// Code-page services fail as they would for a code page with no case data.
void SetCaseInformationMissing(bool missing);
bool CaseInformationMissing();
// Makes one more single byte of the system's code page a capital letter with
// `small` as its small letter, as a code page with its own letters would.
void AddOneByteCapital(BYTE capital, BYTE small);
const std::map<BYTE, BYTE>& OneByteCapitals();
// Code page 1252, with its case data and no added capitals.
void ResetCodePages();

// Whether `byte` begins a two-byte character in a double-byte code page.
bool IsLeadByte(UINT codePage, unsigned char byte);
// UTF-16 text in a code page, as WideCharToMultiByte gives it: '?' for each
// character the code page lacks (and for every character when the code page
// is unknown).
std::string WideToAnsi(const std::u16string& text, UINT codePage);
// Bytes of a code page as UTF-16, as MultiByteToWideChar gives them: a byte
// that begins none of the code page's characters becomes U+FFFD.
std::u16string AnsiToWide(const std::string& bytes, UINT codePage);

// One code point in UTF-8.
void AppendUtf8(char32_t c, std::string* out);
// UTF-8 back to UTF-16. A byte that starts no valid sequence becomes U+FFFD;
// a surrogate carried through from broken UTF-16 comes back as itself.
std::u16string Utf8ToUtf16(const std::string& text);
// UTF-16LE bytes as UTF-16 code units; an odd last byte is dropped.
std::u16string Utf16LeBytes(const std::string& bytes);

}  // namespace hwsim
