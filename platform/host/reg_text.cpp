#include "platform/host/reg_text.h"

#include "platform/host/code_pages.h"

namespace hwsim {

bool SplitLines(const std::string& bytes, ExportText* out, Failure* failure)
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

}  // namespace hwsim
