// The syntax of a registry export, read line by line: the header, then
// blank lines, comments, [key] lines and "name"=data value lines, a hex
// value continued onto the lines after a trailing backslash. What the keys
// and values mean is for the reader above.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/host/reg_text.h"
#include "platform/host/windows_names.h"

namespace hwsim {

// A value's data as the file gives it.
struct ValueData {
    bool remove = false;  // "name"=-
    bool isString = false;
    std::string text;  // a quoted string, decoded text
    DWORD type = 0;    // for dword: and hex: forms
    std::string bytes;
};

enum class EntryKind { Blank, Comment, Key, Value };

struct Entry {
    EntryKind kind = EntryKind::Blank;
    size_t firstLine = 0;              // indexes into ExportText::lines
    size_t lastLine = 0;               // past firstLine for a continued value
    std::vector<std::string> keyPath;  // a key's name, split at its backslashes
    std::string valueName;             // empty for the default value (@)
    ValueData data;
};

enum class Step { Entry, End, Failed };

class SyntaxReader {
public:
    // `codePage` is the ANSI code page a REGEDIT4 file is written in.
    SyntaxReader(const ExportText& text, UINT codePage) : text_(text), codePage_(codePage) {}

    // Reads the first line, which names the export's version.
    bool ReadHeader(Failure* failure);
    // "Windows Registry Editor Version 5.00" rather than "REGEDIT4".
    bool Version5() const { return version5_; }
    // The text is Unicode (UTF-16 or UTF-8) rather than the ANSI code page.
    bool Unicode() const { return unicode_; }
    // The next entry after the header, or the end of the file.
    Step Next(Entry* entry, Failure* failure);

private:
    bool Fail(const std::string& problem);
    void StartLine();
    void SkipSpaces();
    bool LeadByte(char c) const;
    bool AtPrefix(const char* prefix) const;
    bool ReadKey(Entry* entry);
    bool ReadQuoted(std::string* out);
    bool ReadHexList(std::string* bytes);
    bool ReadHexNumber(size_t maxDigits, DWORD* value);
    bool ReadData(ValueData* data);
    bool ReadValue(Entry* entry);

    const ExportText& text_;
    UINT codePage_;
    Failure* failure_ = nullptr;
    bool version5_ = false;
    bool unicode_ = false;
    bool keySeen_ = false;
    size_t line_ = 0;
    const char* p_ = nullptr;
    const char* end_ = nullptr;
};

// Registry names compare as the registry compares them; only ASCII letters
// are folded here, which is all an Enum key's names hold.
bool SameName(const char* a, size_t aLength, const char* b);
bool SameName(const std::string& a, const char* b);
char FoldAscii(char c);

}  // namespace hwsim
