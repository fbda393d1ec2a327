// JSON strings for hwpurge-preview's --json output.
#pragma once

#include <cstddef>
#include <cstdio>

// Writes `length` bytes of `text` as a JSON string, quotes included.
// Well-formed UTF-8 passes through; the quote, the backslash and the control
// characters below 0x20 are escaped. A byte that is not part of a
// well-formed UTF-8 sequence is written as U+FFFD, so that whatever the
// bytes, the output is valid JSON.
void WriteJsonString(FILE* out, const char* text, size_t length);

// Writes a narrow string of the system's ANSI code page as a JSON string in
// UTF-8, converted by the platform's code-page services. Should a conversion
// fail, ASCII passes through and every other byte becomes U+FFFD.
void WriteJsonNarrowString(FILE* out, const char* text, size_t length);
