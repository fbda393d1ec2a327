#include "removal/hardware_id.h"

#include <cstdint>
#include <cstring>

namespace {

struct CapitalRange {
    UINT codePage;
    unsigned first;
    unsigned last;
    unsigned offset;
};

// The full-width Latin capitals of the double-byte code pages, and what to
// add to reach their small letters.
const CapitalRange kCapitalRanges[] = {
    {932, 0x8260, 0x8279, 0x21},  {936, 0xA3C1, 0xA3DA, 0x20}, {949, 0xA3C1, 0xA3DA, 0x20},
    {950, 0xA2CF, 0xA2E4, 0x1A},  {950, 0xA2E5, 0xA2E8, 0x5B}, {1361, 0xDA51, 0xDA5E, 0x20},
    {1361, 0xDA5F, 0xDA6A, 0x32},
};

struct LeadRange {
    UINT codePage;
    BYTE first;
    BYTE last;
};

// Lead bytes of the double-byte code pages hwpurge knows by name; any other
// double-byte code page gets the ranges the system reports for it.
const LeadRange kLeadRanges[] = {
    {932, 0x81, 0x9F}, {932, 0xE0, 0xFC},  {936, 0x81, 0xFE},  {949, 0x81, 0xFE},
    {950, 0x81, 0xFE}, {1361, 0x81, 0xD3}, {1361, 0xD8, 0xDE}, {1361, 0xE0, 0xF9},
};

struct CodePageTables {
    UINT codePage;  // 0: the built-in single-byte default
    bool doubleByte;
    bool lead[256];
    bool capital[256];
    BYTE lowered[256];
};

CodePageTables g_tables = {};

bool IsKnownDoubleByte(UINT codePage)
{
    for (const LeadRange& range : kLeadRanges) {
        if (range.codePage == codePage) {
            return true;
        }
    }
    return false;
}

void MarkLeadBytes(CodePageTables* tables, const CPINFO& info)
{
    if (IsKnownDoubleByte(tables->codePage)) {
        for (const LeadRange& range : kLeadRanges) {
            if (range.codePage == tables->codePage) {
                for (unsigned b = range.first; b <= range.last; ++b) {
                    tables->lead[b] = true;
                }
            }
        }
        return;
    }
    // The system lists its ranges in pairs, closed by a pair of zeros.
    for (size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
        for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) {
            tables->lead[b] = true;
        }
    }
}

void MarkAsciiCapitals(CodePageTables* tables)
{
    for (unsigned b = 0; b < 256; ++b) {
        tables->capital[b] = b >= 'A' && b <= 'Z';
        tables->lowered[b] = static_cast<BYTE>(tables->capital[b] ? b + 0x20 : b);
    }
}

// Asks the system which single bytes of its code page are capitals, and
// their small letters. Falls back to 'A'..'Z' when it cannot tell.
void MarkCapitals(CodePageTables* tables)
{
    MarkAsciiCapitals(tables);
    bool capital[256] = {};
    BYTE lowered[256];
    for (unsigned b = 0; b < 256; ++b) {
        lowered[b] = static_cast<BYTE>(b);
    }
    for (unsigned b = 1; b < 256; ++b) {
        if (tables->lead[b]) {
            continue;
        }
        const char in = static_cast<char>(b);
        WORD type = 0;
        if (!GetStringTypeA(LOCALE_SYSTEM_DEFAULT, CT_CTYPE1, &in, 1, &type)) {
            return;
        }
        if ((type & C1_UPPER) == 0) {
            continue;
        }
        char out[2] = {};
        const int written = LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, &in, 1, out, 2);
        if (written == 1 && out[0] != in && out[0] != '\0') {
            capital[b] = true;
            lowered[b] = static_cast<BYTE>(out[0]);
        }
    }
    memcpy(tables->capital, capital, sizeof capital);
    memcpy(tables->lowered, lowered, sizeof lowered);
}

BYTE FoldAscii(BYTE b)
{
    return static_cast<BYTE>(b >= 'A' && b <= 'Z' ? b + 0x20 : b);
}

// The byte at `pos`, or NUL where the string's readable bytes end.
BYTE ByteAt(const char* s, size_t pos, size_t limit)
{
    return pos < limit ? static_cast<BYTE>(s[pos]) : 0;
}

bool MatchesSingleByte(const char* entry, size_t entryLimit, const char* identifier, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (FoldAscii(ByteAt(entry, i, entryLimit)) != FoldAscii(static_cast<BYTE>(identifier[i]))) {
            return false;
        }
    }
    return true;
}

// One character at `pos`: its value (0 at an end of string) and its width.
unsigned TakeCharacter(const char* s, size_t pos, size_t limit, size_t budget, size_t* width)
{
    const BYTE b = ByteAt(s, pos, limit);
    *width = 1;
    if (!g_tables.lead[b]) {
        return b;
    }
    const BYTE trail = ByteAt(s, pos + 1, limit);
    if (trail == 0 || budget == 1) {
        return 0;  // a lead byte with nothing after it ends the string
    }
    *width = 2;
    return b * 256u + trail;
}

unsigned FoldCharacter(unsigned value, size_t width)
{
    if (width == 1) {
        return g_tables.capital[value] ? g_tables.lowered[value] : value;
    }
    for (const CapitalRange& range : kCapitalRanges) {
        if (range.codePage == g_tables.codePage && value >= range.first && value <= range.last) {
            return value + range.offset;
        }
    }
    return value;
}

bool MatchesDoubleByte(const char* entry, size_t entryLimit, const char* identifier, size_t length)
{
    size_t budget = length;
    size_t pos = 0;
    while (budget > 0) {
        size_t entryWidth = 1;
        size_t identifierWidth = 1;
        const unsigned entryChar = TakeCharacter(entry, pos, entryLimit, budget, &entryWidth);
        const unsigned identifierChar = TakeCharacter(identifier, pos, SIZE_MAX, budget, &identifierWidth);
        const unsigned e = FoldCharacter(entryChar, entryWidth);
        const unsigned i = FoldCharacter(identifierChar, identifierWidth);
        if (e != i) {
            return false;
        }
        if (e == 0) {
            return true;
        }
        // Equal values are equally wide, so both sides stay in step.
        pos += identifierWidth;
        budget -= identifierWidth;
    }
    return true;
}

bool MatchesWithin(const char* entry, size_t entryLimit, const char* identifier, size_t length)
{
    if (length == 0) {
        return true;
    }
    if (g_tables.doubleByte) {
        return MatchesDoubleByte(entry, entryLimit, identifier, length);
    }
    return MatchesSingleByte(entry, entryLimit, identifier, length);
}

}  // namespace

void TakeNarrowCodePage()
{
    CodePageTables tables = {};
    MarkAsciiCapitals(&tables);
    g_tables = tables;

    const UINT codePage = GetACP();
    if (codePage == 65000 || codePage == 65001 || !IsValidCodePage(codePage)) {
        return;
    }
    CPINFO info = {};
    if (!GetCPInfo(codePage, &info)) {
        return;
    }
    tables.codePage = codePage;
    tables.doubleByte = IsKnownDoubleByte(codePage) || info.MaxCharSize > 1;
    if (tables.doubleByte) {
        MarkLeadBytes(&tables, info);
    }
    MarkCapitals(&tables);
    g_tables = tables;
}

UINT NarrowCodePage()
{
    return g_tables.codePage;
}

bool NarrowCodePageIsDoubleByte()
{
    return g_tables.doubleByte;
}

bool IsNarrowLeadByte(BYTE byte)
{
    return g_tables.lead[byte];
}

bool MatchesHardwareId(const char* entry, const char* identifier, size_t length)
{
    return MatchesWithin(entry, SIZE_MAX, identifier, length);
}

size_t BoundedEntryLength(const char* entry, size_t available)
{
    const void* end = memchr(entry, '\0', available);
    return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - entry) : available;
}

const char* FindMatchingHardwareId(const char* list, DWORD listSize, const char* identifier)
{
    const size_t length = strlen(identifier);
    size_t pos = 0;
    while (pos < listSize && list[pos] != '\0') {
        const char* entry = list + pos;
        const size_t available = listSize - pos;
        if (MatchesWithin(entry, available, identifier, length)) {
            return entry;
        }
        pos += BoundedEntryLength(entry, available) + 1;
    }
    return nullptr;
}
