#include "platform/host/reg_syntax.h"

#include <cstdio>
#include <cstring>

#include "platform/host/code_pages.h"

namespace hwsim {
namespace {

const char kVersion5[] = "Windows Registry Editor Version 5.00";
const char kVersion4[] = "REGEDIT4";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

char FoldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* a, size_t aLength, const char* b)
{
    const size_t bLength = strlen(b);
    if (aLength != bLength) {
        return false;
    }
    for (size_t i = 0; i < aLength; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool SameName(const std::string& a, const char* b)
{
    return SameName(a.data(), a.size(), b);
}

bool SyntaxReader::ReadHeader(Failure* failure)
{
    failure_ = failure;
    line_ = 0;
    if (text_.lines.empty()) {
        return Fail("the file is empty, not a registry export");
    }
    const Line& line = text_.lines[0];
    std::string header = text_.text.substr(line.textBegin, line.textEnd - line.textBegin);
    while (!header.empty() && (IsSpace(header.back()) || header.back() == '\r')) {
        header.pop_back();
    }
    if (header == kVersion5) {
        version5_ = true;
    } else if (header != kVersion4) {
        return Fail(std::string("not a registry export: the first line is neither \"") + kVersion5 + "\" nor \"" +
                    kVersion4 + "\"");
    }
    // A version 5 file without a byte-order mark is UTF-8; REGEDIT4 text
    // is in the ANSI code page.
    unicode_ = text_.utf16 || text_.utf8Bom || version5_;
    line_ = 1;
    return true;
}

Step SyntaxReader::Next(Entry* entry, Failure* failure)
{
    if (line_ >= text_.lines.size()) {
        return Step::End;
    }
    failure_ = failure;
    *entry = Entry();
    entry->firstLine = line_;
    StartLine();
    bool ok = true;
    if (p_ == end_) {
        entry->kind = EntryKind::Blank;
    } else if (*p_ == ';') {
        entry->kind = EntryKind::Comment;
    } else if (*p_ == '[') {
        entry->kind = EntryKind::Key;
        ok = ReadKey(entry);
    } else if (!keySeen_) {
        ok = Fail("a value before the first key");
    } else {
        entry->kind = EntryKind::Value;
        ok = ReadValue(entry);
    }
    entry->lastLine = line_;
    ++line_;
    return ok ? Step::Entry : Step::Failed;
}

bool SyntaxReader::Fail(const std::string& problem)
{
    failure_->line = line_ + 1;
    failure_->problem = problem;
    return false;
}

void SyntaxReader::StartLine()
{
    const Line& line = text_.lines[line_];
    p_ = text_.text.data() + line.textBegin;
    end_ = text_.text.data() + line.textEnd;
    while (end_ > p_ && IsSpace(end_[-1])) {
        --end_;
    }
    SkipSpaces();
}

void SyntaxReader::SkipSpaces()
{
    while (p_ < end_ && IsSpace(*p_)) {
        ++p_;
    }
}

// A REGEDIT4 file's text is in the ANSI code page, whose two-byte characters
// may end in a byte that looks like '\\'.
bool SyntaxReader::LeadByte(char c) const
{
    return !unicode_ && IsLeadByte(codePage_, static_cast<unsigned char>(c));
}

bool SyntaxReader::AtPrefix(const char* prefix) const
{
    const size_t length = strlen(prefix);
    return static_cast<size_t>(end_ - p_) >= length && SameName(p_, length, prefix);
}

bool SyntaxReader::ReadKey(Entry* entry)
{
    if (end_[-1] != ']' || end_ - p_ < 2) {
        return Fail("a key line must end with ']'");
    }
    if (p_[1] == '-') {
        return Fail("key deletions ([-...]) have no meaning in a device database");
    }
    const char* part = p_ + 1;
    const char* close = end_ - 1;
    for (const char* q = part;; ++q) {
        if (q != close && LeadByte(*q)) {
            if (q + 1 == close) {
                // The ']' is the second byte of a character: the line never closes.
                return Fail("a key line must end with ']'");
            }
            ++q;  // a trail byte may be 0x5C; it is no separator
            continue;
        }
        if (q == close || *q == '\\') {
            if (q == part) {
                return Fail("the key name has an empty part (a doubled or trailing backslash?)");
            }
            entry->keyPath.emplace_back(part, static_cast<size_t>(q - part));
            if (q == close) {
                break;
            }
            part = q + 1;
        }
    }
    keySeen_ = true;
    return true;
}

bool SyntaxReader::ReadQuoted(std::string* out)
{
    ++p_;  // the opening quote
    while (p_ < end_ && *p_ != '"') {
        char c = *p_++;
        if (p_ < end_ && LeadByte(c)) {
            *out += c;
            c = *p_++;  // the trail byte, taken whatever it is
        } else if (c == '\\') {
            if (p_ == end_) {
                break;
            }
            const char escaped = *p_++;
            switch (escaped) {
                case '\\':
                case '"':
                    c = escaped;
                    break;
                case 'n':
                    c = '\n';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case '0':
                    c = '\0';
                    break;
                default: {
                    // A byte outside ASCII is named by its value: it may be
                    // half of a character and no text on its own.
                    const auto byte = static_cast<unsigned char>(escaped);
                    char hex[8];
                    snprintf(hex, sizeof hex, "\\x%02X", byte);
                    const std::string shown = byte < 0x80 ? std::string(1, escaped) : std::string(hex);
                    return Fail(std::string("unknown escape '\\") + shown +
                                "' in a string (a backslash is written \\\\)");
                }
            }
        }
        *out += c;
    }
    if (p_ == end_) {
        return Fail("a string without its closing quote");
    }
    ++p_;
    return true;
}

// Hex bytes separated by commas, continued onto the next line after a
// trailing backslash.
bool SyntaxReader::ReadHexList(std::string* bytes)
{
    for (;;) {
        SkipSpaces();
        if (p_ == end_) {
            return true;
        }
        if (*p_ == '\\') {
            ++p_;
            SkipSpaces();
            if (p_ != end_) {
                return Fail("text after the backslash that continues a value");
            }
            if (line_ + 1 == text_.lines.size()) {
                return Fail("the file ends inside a value continued with '\\'");
            }
            ++line_;
            StartLine();
            continue;
        }
        const int high = HexDigit(*p_);
        if (high < 0) {
            return Fail("expected a hex byte in the list of a hex value");
        }
        ++p_;
        int value = high;
        if (p_ < end_ && HexDigit(*p_) >= 0) {
            value = value * 16 + HexDigit(*p_);
            ++p_;
        }
        *bytes += static_cast<char>(value);
        SkipSpaces();
        if (p_ < end_ && *p_ == ',') {
            ++p_;
        } else if (p_ < end_ && *p_ != '\\') {
            return Fail("expected ',' between the bytes of a hex value");
        }
    }
}

bool SyntaxReader::ReadHexNumber(size_t maxDigits, DWORD* value)
{
    const char* start = p_;
    DWORD result = 0;
    while (p_ < end_ && HexDigit(*p_) >= 0 && static_cast<size_t>(p_ - start) < maxDigits) {
        result = result * 16 + static_cast<DWORD>(HexDigit(*p_));
        ++p_;
    }
    *value = result;
    return p_ != start && (p_ == end_ || HexDigit(*p_) < 0);
}

bool SyntaxReader::ReadData(ValueData* data)
{
    if (*p_ == '"') {
        data->isString = true;
        if (!ReadQuoted(&data->text)) {
            return false;
        }
    } else if (*p_ == '-') {
        ++p_;
        data->remove = true;
    } else if (AtPrefix("dword:")) {
        p_ += 6;
        DWORD value = 0;
        if (!ReadHexNumber(8, &value)) {
            return Fail("a dword value needs 1 to 8 hex digits");
        }
        data->type = REG_DWORD;
        for (int i = 0; i < 4; ++i) {
            data->bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    } else if (AtPrefix("hex")) {
        p_ += 3;
        data->type = REG_BINARY;
        if (p_ < end_ && *p_ == '(') {
            ++p_;
            if (!ReadHexNumber(8, &data->type) || p_ == end_ || *p_ != ')') {
                return Fail("hex(N) needs a type of 1 to 8 hex digits");
            }
            ++p_;
        }
        if (p_ == end_ || *p_ != ':') {
            return Fail("expected ':' after hex");
        }
        ++p_;
        return ReadHexList(&data->bytes);
    } else {
        return Fail("unrecognized value data (expected \"string\", dword:, hex:, hex(N): or -)");
    }
    SkipSpaces();
    if (p_ != end_) {
        return Fail("unexpected text after the value");
    }
    return true;
}

bool SyntaxReader::ReadValue(Entry* entry)
{
    if (*p_ == '@') {
        ++p_;
    } else if (*p_ == '"') {
        if (!ReadQuoted(&entry->valueName)) {
            return false;
        }
    } else {
        return Fail("expected a [key], a \"name\"=value, a comment or a blank line");
    }
    SkipSpaces();
    if (p_ == end_ || *p_ != '=') {
        return Fail("expected '=' after the value name");
    }
    ++p_;
    SkipSpaces();
    return ReadData(&entry->data);
}

}  // namespace hwsim
