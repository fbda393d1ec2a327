// Reading, and rewriting in place, a registry export of the Enum key.
#include "platform/host/registry_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace hwsim {
namespace {

const char kVersion5[] = "Windows Registry Editor Version 5.00";
const char kVersion4[] = "REGEDIT4";
const DWORD kRegDword = 4;
const size_t kNone = static_cast<size_t>(-1);

// One physical line: where its bytes lie in the file (line break included)
// and where its text lies in the decoded text (line break excluded).
struct Line {
    size_t begin;
    size_t end;
    size_t textBegin;
    size_t textEnd;
};

struct Failure {
    size_t line = 0;  // 1-based
    std::string problem;
};

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

// UTF-8 back to UTF-16. A byte that starts no valid sequence becomes U+FFFD;
// a surrogate carried through from a broken UTF-16 file comes back as itself.
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

char FoldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Key and value names compare as the registry compares them; only ASCII
// letters are folded here, which is all an Enum key's names hold.
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

// Splits the file into lines and decodes its text: UTF-16LE files to UTF-8,
// other files as they stand.
struct Text {
    bool utf16 = false;
    bool utf8Bom = false;
    std::string text;
    std::vector<Line> lines;
};

bool SplitLines(const std::string& bytes, Text* out, Failure* failure)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    size_t lineBegin = 0;
    size_t textBegin = 0;
    // Ends the line whose text ends at `textEnd` and whose bytes end at `next`.
    auto endLine = [&](size_t next, size_t textEnd, size_t nextText) {
        if (textEnd > textBegin && out->text[textEnd - 1] == '\r') {
            --textEnd;
        }
        out->lines.push_back({lineBegin, next, textBegin, textEnd});
        lineBegin = next;
        textBegin = nextText;
    };
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        out->utf16 = true;
        out->text.reserve(size / 2);
        size_t i = 2;
        while (size - i >= 2) {
            char32_t c = static_cast<char32_t>(data[i] | (data[i + 1] << 8));
            i += 2;
            if (c == '\n') {
                endLine(i, out->text.size(), out->text.size());
                continue;
            }
            if (c >= 0xD800 && c <= 0xDBFF && size - i >= 2) {
                const char32_t low = static_cast<char32_t>(data[i] | (data[i + 1] << 8));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            AppendUtf8(c, &out->text);
        }
        if (i < size) {
            failure->line = out->lines.size() + 1;
            failure->problem = "the file ends in the middle of a UTF-16 character";
            return false;
        }
    } else {
        out->text = bytes;
        if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
            out->utf8Bom = true;
            textBegin = 3;
        }
        for (size_t i = textBegin; i < size; ++i) {
            if (data[i] == '\n') {
                endLine(i + 1, i, i + 1);
            }
        }
    }
    if (lineBegin < size) {
        endLine(size, out->text.size(), out->text.size());
    }
    return true;
}

// A value's data as the file gives it.
struct ValueData {
    bool remove = false;  // "name"=-
    bool isString = false;
    std::string text;  // a quoted string, decoded text
    DWORD type = 0;    // for dword: and hex: forms
    std::string bytes;
};

class Reader {
public:
    Reader(const std::string& bytes, UINT codePage, DeviceDatabase* out) : bytes_(bytes), codePage_(codePage), out_(out)
    {
    }

    bool Run(Failure* failure)
    {
        failure_ = failure;
        if (!SplitLines(bytes_, &text_, failure)) {
            return false;
        }
        if (text_.lines.empty()) {
            return Fail(1, "the file is empty, not a registry export");
        }
        std::string header = LineText(0);
        while (!header.empty() && (IsSpace(header.back()) || header.back() == '\r')) {
            header.pop_back();
        }
        if (header == kVersion5) {
            version5_ = true;
        } else if (header != kVersion4) {
            return Fail(1, std::string("not a registry export: the first line is neither \"") + kVersion5 +
                               "\" nor \"" + kVersion4 + "\"");
        }
        // A version 5 file without a byte-order mark is UTF-8; REGEDIT4 text
        // is in the ANSI code page.
        unicode_ = text_.utf16 || text_.utf8Bom || version5_;
        for (line_ = 1; line_ < text_.lines.size(); ++line_) {
            if (!ReadLine()) {
                return false;
            }
        }
        return true;
    }

private:
    std::string LineText(size_t index) const
    {
        const Line& line = text_.lines[index];
        return text_.text.substr(line.textBegin, line.textEnd - line.textBegin);
    }

    bool Fail(size_t line, const std::string& problem)
    {
        failure_->line = line;
        failure_->problem = problem;
        return false;
    }

    bool Fail(const std::string& problem) { return Fail(line_ + 1, problem); }

    // Gives the current line to the node whose key is being read, if any.
    void Claim(size_t index)
    {
        if (owner_ == kNone) {
            return;
        }
        const Line& line = text_.lines[index];
        std::vector<ByteRange>& ranges = out_->lines[owner_];
        if (!ranges.empty() && ranges.back().end == line.begin) {
            ranges.back().end = line.end;
        } else {
            ranges.push_back({line.begin, line.end});
        }
    }

    void StartLine()
    {
        const Line& line = text_.lines[line_];
        p_ = text_.text.data() + line.textBegin;
        end_ = text_.text.data() + line.textEnd;
        while (end_ > p_ && IsSpace(end_[-1])) {
            --end_;
        }
        SkipSpaces();
    }

    void SkipSpaces()
    {
        while (p_ < end_ && IsSpace(*p_)) {
            ++p_;
        }
    }

    bool ReadLine()
    {
        StartLine();
        if (p_ == end_) {
            // Blank lines after a comment stay with the comment, which stays.
            if (!afterComment_) {
                Claim(line_);
            }
            return true;
        }
        if (*p_ == ';') {
            afterComment_ = true;
            return true;
        }
        afterComment_ = false;
        if (*p_ == '[') {
            return ReadKey();
        }
        if (!keySeen_) {
            return Fail("a value before the first key");
        }
        Claim(line_);
        return ReadValue();
    }

    bool ReadKey()
    {
        if (end_[-1] != ']' || end_ - p_ < 2) {
            return Fail("a key line must end with ']'");
        }
        if (p_[1] == '-') {
            return Fail("key deletions ([-...]) have no meaning in a device database");
        }
        std::vector<std::string> parts;
        const char* part = p_ + 1;
        const char* close = end_ - 1;
        for (const char* q = part;; ++q) {
            if (q != close && q + 1 != close && LeadByte(*q)) {
                ++q;  // a trail byte may be 0x5C; it is no separator
                continue;
            }
            if (q == close || *q == '\\') {
                if (q == part) {
                    return Fail("the key name has an empty part (a doubled or trailing backslash?)");
                }
                parts.emplace_back(part, static_cast<size_t>(q - part));
                if (q == close) {
                    break;
                }
                part = q + 1;
            }
        }
        keySeen_ = true;
        owner_ = kNone;
        nodeKey_ = false;
        // HKEY_LOCAL_MACHINE\SYSTEM\<control set>\Enum\<enumerator>\<device>\<instance>[\...]
        const bool underEnum = parts.size() >= 7 &&
                               (SameName(parts[0], "HKEY_LOCAL_MACHINE") || SameName(parts[0], "HKLM")) &&
                               SameName(parts[1], "SYSTEM") && SameName(parts[3], "Enum");
        if (!underEnum) {
            return true;
        }
        std::string instanceId = parts[4] + '\\' + parts[5] + '\\' + parts[6];
        std::string folded = instanceId;
        for (char& c : folded) {
            c = FoldAscii(c);
        }
        const auto found = index_.find(folded);
        if (found != index_.end()) {
            owner_ = found->second;
        } else {
            owner_ = out_->nodes.size();
            index_.emplace(folded, owner_);
            Node node;
            node.instanceId = ToAnsi(instanceId);
            out_->nodes.push_back(node);
            out_->lines.emplace_back();
        }
        nodeKey_ = parts.size() == 7;
        // Windows keeps a started device's volatile Control key while the
        // device is there.
        if (parts.size() == 8 && SameName(parts[7], "Control")) {
            out_->nodes[owner_].present = true;
        }
        Claim(line_);
        return true;
    }

    bool ReadQuoted(std::string* out)
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

    // A REGEDIT4 file's text is in the ANSI code page, whose two-byte
    // characters may end in a byte that looks like '\\'.
    bool LeadByte(char c) const { return !unicode_ && IsLeadByte(codePage_, static_cast<unsigned char>(c)); }

    bool AtPrefix(const char* prefix) const
    {
        const size_t length = strlen(prefix);
        return static_cast<size_t>(end_ - p_) >= length && SameName(p_, length, prefix);
    }

    // Hex bytes separated by commas, continued onto the next line after a
    // trailing backslash.
    bool ReadHexList(std::string* bytes)
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
                Claim(line_);
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

    bool ReadHexNumber(size_t maxDigits, DWORD* value)
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

    bool ReadData(ValueData* data)
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
            data->type = kRegDword;
            for (int i = 0; i < 4; ++i) {
                data->bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
            }
        } else if (AtPrefix("hex")) {
            p_ += 3;
            data->type = 3;  // REG_BINARY
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

    bool ReadValue()
    {
        std::string name;
        if (*p_ == '@') {
            ++p_;
        } else if (*p_ == '"') {
            if (!ReadQuoted(&name)) {
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
        ValueData data;
        if (!ReadData(&data)) {
            return false;
        }
        if (owner_ != kNone && nodeKey_) {
            return Apply(name, data);
        }
        return true;
    }

    std::string ToAnsi(const std::string& text) const
    {
        return unicode_ ? WideToAnsi(Utf8ToUtf16(text), codePage_) : text;
    }

    // Text in hex(1), hex(2) or hex(7) form: UTF-16LE in version 5 files,
    // narrow bytes in REGEDIT4 files.
    bool StringBytes(const ValueData& data, std::string* out)
    {
        if (!version5_) {
            *out = data.bytes;
            return true;
        }
        if (data.bytes.size() % 2 != 0) {
            return Fail("a UTF-16 string value with an odd number of bytes");
        }
        *out = WideToAnsi(Utf16LeBytes(data.bytes), codePage_);
        return true;
    }

    bool Apply(const std::string& name, const ValueData& data)
    {
        Node& node = out_->nodes[owner_];
        const bool stringType = data.type == REG_SZ || data.type == 2 || data.type == REG_MULTI_SZ;
        if (SameName(name, "HardwareID")) {
            node.hasHardwareId = !data.remove;
            node.hardwareId.clear();
            if (data.isString) {
                // One entry, without the empty entry that closes a list.
                node.hardwareId = ToAnsi(data.text);
                node.hardwareId += '\0';
            } else if (stringType) {
                return StringBytes(data, &node.hardwareId);
            } else {
                node.hardwareId = data.bytes;
            }
        } else if (SameName(name, "ClassGUID")) {
            node.classGuid.clear();
            if (data.isString) {
                node.classGuid = ToAnsi(data.text);
            } else if (stringType) {
                if (!StringBytes(data, &node.classGuid)) {
                    return false;
                }
            }
            node.classGuid.resize(strnlen(node.classGuid.c_str(), node.classGuid.size()));
        } else if (SameName(name, "Class")) {
            // The setup class's name, which hwpurge-preview lists.
            node.className.clear();
            if (data.isString) {
                node.className = ToAnsi(data.text);
            } else if (stringType) {
                if (!StringBytes(data, &node.className)) {
                    return false;
                }
            }
            node.className.resize(strnlen(node.className.c_str(), node.className.size()));
        }
        return true;
    }

    const std::string& bytes_;
    UINT codePage_;
    DeviceDatabase* out_;
    Failure* failure_ = nullptr;
    Text text_;
    bool version5_ = false;
    bool unicode_ = false;
    bool keySeen_ = false;
    bool afterComment_ = false;  // no key or value line since the last comment
    size_t line_ = 0;
    size_t owner_ = kNone;  // the node whose key or subkey is being read
    bool nodeKey_ = false;  // the key is the node's own, not a subkey
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    std::unordered_map<std::string, size_t> index_;  // folded instance ID -> node
};

bool WriteAll(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool ParseRegistryExport(const std::string& bytes, UINT codePage, DeviceDatabase* out, std::string* error)
{
    *out = DeviceDatabase();
    Failure failure;
    Reader reader(bytes, codePage, out);
    if (!reader.Run(&failure)) {
        *out = DeviceDatabase();
        *error = "line " + std::to_string(failure.line) + ": " + failure.problem;
        return false;
    }
    return true;
}

std::string WithoutRemovedNodes(const std::string& bytes, const DeviceDatabase& database)
{
    return WithoutRemovedNodes(bytes, database.nodes, database.lines);
}

std::string WithoutRemovedNodes(const std::string& bytes, const std::vector<Node>& nodes,
                                const std::vector<std::vector<ByteRange>>& lines)
{
    std::vector<ByteRange> dropped;
    for (size_t i = 0; i < nodes.size() && i < lines.size(); ++i) {
        if (nodes[i].removed) {
            dropped.insert(dropped.end(), lines[i].begin(), lines[i].end());
        }
    }
    std::sort(dropped.begin(), dropped.end(), [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
    std::string result;
    result.reserve(bytes.size());
    size_t kept = 0;
    for (const ByteRange& range : dropped) {
        const size_t begin = std::min(range.begin, bytes.size());
        if (begin > kept) {
            result.append(bytes, kept, begin - kept);
        }
        kept = std::max(kept, std::min(range.end, bytes.size()));
    }
    result.append(bytes, kept, std::string::npos);
    return result;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content, std::string* error)
{
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        free(resolved);
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        *error = "cannot create a temporary file in " + folder + ": " + strerror(errno);
        return false;
    }
    struct stat old;
    if (stat(target.c_str(), &old) == 0) {
        // mkstemp makes the file private; keep the permissions the old one had.
        (void)fchmod(fd, old.st_mode & 07777);
    }
    const char* step = nullptr;
    if (!WriteAll(fd, content)) {
        step = "cannot write ";
    } else if (fsync(fd) != 0) {
        step = "cannot flush ";
    }
    const int saved = errno;
    if (close(fd) != 0 && step == nullptr) {
        step = "cannot close ";
    } else {
        errno = saved;
    }
    if (step == nullptr && rename(temporary.c_str(), target.c_str()) != 0) {
        step = "cannot rename over the old file ";
    }
    if (step != nullptr) {
        *error = step + temporary + ": " + strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself lasts only once the folder is on disk too.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        (void)fsync(dir);
        close(dir);
    }
    return true;
}

LoadResult LoadRegistryExport(const std::string& path, UINT codePage, DeviceDatabase* out)
{
    LoadResult result;
    *out = DeviceDatabase();
    auto fail = [&](DWORD code, const std::string& problem) {
        result.error = code;
        result.message = "simulated Windows: " + path + ": " + problem;
        return result;
    };
    auto failErrno = [&](int number) {
        const bool missing = number == ENOENT || number == ENOTDIR || number == ENAMETOOLONG || number == ELOOP;
        return fail(missing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED, strerror(number));
    };
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return failErrno(errno);
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int number = errno;
        close(fd);
        return failErrno(number);
    }
    if (S_ISDIR(info.st_mode)) {
        close(fd);
        return fail(ERROR_ACCESS_DENIED, "a folder, not a registry export file");
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int number = errno;
            close(fd);
            return failErrno(number);
        }
        if (n == 0) {
            break;
        }
        result.bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    std::string error;
    if (!ParseRegistryExport(result.bytes, codePage, out, &error)) {
        return fail(ERROR_INVALID_DATA, error);
    }
    return result;
}

}  // namespace hwsim
