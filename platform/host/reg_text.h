// A registry export's bytes as lines of text: UTF-16LE (with its byte-order
// mark) decoded to UTF-8, any other file taken as it stands. Every line
// keeps where its bytes lie in the file, so that the file can later be
// rewritten around it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hwsim {

// One physical line: where its bytes lie in the file (line break included)
// and where its text lies in the decoded text (line break excluded).
struct Line {
    size_t begin;
    size_t end;
    size_t textBegin;
    size_t textEnd;
};

struct ExportText {
    bool utf16 = false;
    bool utf8Bom = false;
    std::string text;
    std::vector<Line> lines;
};

// Where reading an export failed, and why.
struct Failure {
    size_t line = 0;  // 1-based
    std::string problem;
};

bool SplitLines(const std::string& bytes, ExportText* out, Failure* failure);

}  // namespace hwsim
