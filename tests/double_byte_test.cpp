// The comparison in the double-byte code pages, and the fallbacks to the
// single-byte rules.
#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"

namespace {

void UseCodePage(UINT codePage)
{
    hwsim::Reset();
    hwsim::SetAnsiCodePage(codePage);
    TakeNarrowCodePage();
}

std::string Char16(unsigned value)
{
    return std::string{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

bool Matches(const std::string& entry, const std::string& identifier)
{
    return MatchesHardwareId(entry.c_str(), identifier.c_str(), identifier.size());
}

// The five double-byte code pages hwpurge knows by name, and their names
// for iconv.
struct DoubleBytePage {
    UINT codePage;
    const char* iconvName;
};
const DoubleBytePage kPages[] = {{932, "CP932"}, {936, "CP936"}, {949, "CP949"}, {950, "CP950"}, {1361, "JOHAB"}};

// A character in a code page, as the code page's own conversion gives it.
std::string Encode(char16_t character, const char* iconvName)
{
    iconv_t cd = iconv_open(iconvName, "UTF-16LE");
    char in[2] = {static_cast<char>(character & 0xFF), static_cast<char>(character >> 8)};
    char out[8];
    char* src = in;
    size_t srcLeft = sizeof in;
    char* dst = out;
    size_t dstLeft = sizeof out;
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    return rc == static_cast<size_t>(-1) ? std::string() : std::string(out, static_cast<size_t>(dst - out));
}

unsigned Value(const std::string& character)
{
    return static_cast<unsigned char>(character[0]) * 256u + static_cast<unsigned char>(character[1]);
}

TEST(DoubleByte, FullWidthCapitalsFoldToTheirSmallLettersAndTheirNeighboursDoNot)
{
    for (const DoubleBytePage& page : kPages) {
        UseCodePage(page.codePage);
        ASSERT_TRUE(NarrowCodePageIsDoubleByte()) << page.codePage;
        std::vector<std::string> capitals;
        std::vector<std::string> smalls;
        for (char16_t letter = 0; letter < 26; ++letter) {
            capitals.push_back(Encode(static_cast<char16_t>(0xFF21 + letter), page.iconvName));
            smalls.push_back(Encode(static_cast<char16_t>(0xFF41 + letter), page.iconvName));
            ASSERT_EQ(capitals.back().size(), 2u) << page.iconvName;
            ASSERT_EQ(smalls.back().size(), 2u) << page.iconvName;
        }
        auto isCapital = [&](unsigned value) {
            return std::any_of(capitals.begin(), capitals.end(),
                               [&](const std::string& c) { return Value(c) == value; });
        };
        for (size_t letter = 0; letter < 26; ++letter) {
            const std::string& capital = capitals[letter];
            const std::string& small = smalls[letter];
            EXPECT_TRUE(Matches("id" + small + "x", "ID" + capital + "X")) << page.codePage << " letter " << letter;
            EXPECT_TRUE(Matches("ID" + capital + "X", "id" + small + "x")) << page.codePage << " letter " << letter;
            // The codes just outside a run of capitals do not fold, not even
            // to where this letter's small letter lies.
            const unsigned distance = Value(small) - Value(capital);
            for (unsigned beside : {Value(capital) - 1, Value(capital) + 1}) {
                if (!isCapital(beside)) {
                    EXPECT_FALSE(Matches(Char16(beside + distance), Char16(beside)))
                        << page.codePage << " " << std::hex << beside;
                }
            }
        }
    }
}

struct LeadRanges {
    UINT codePage;
    std::vector<std::pair<unsigned, unsigned>> ranges;
};

// Lead bytes by name for the five, and as the simulated system reports them
// for 20932.
const LeadRanges kLeadRanges[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}},
    {936, {{0x81, 0xFE}}},
    {949, {{0x81, 0xFE}}},
    {950, {{0x81, 0xFE}}},
    {1361, {{0x81, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}}},
    {20932, {{0x8E, 0x8E}, {0xA1, 0xFE}}},
};

bool IsLead(const LeadRanges& table, unsigned b)
{
    for (const auto& range : table.ranges) {
        if (b >= range.first && b <= range.second) {
            return true;
        }
    }
    return false;
}

TEST(DoubleByte, LeadBytesAtEveryRangeBoundAndJustOutside)
{
    for (const LeadRanges& table : kLeadRanges) {
        UseCodePage(table.codePage);
        for (const auto& range : table.ranges) {
            for (unsigned b : {range.first - 1, range.first, range.second, range.second + 1}) {
                if (b > 0xFF) {
                    continue;
                }
                // A lead byte closing the identifier counts as its end, so
                // the shorter entry matches; any other byte must be there.
                const std::string identifier = std::string("A") + static_cast<char>(b);
                EXPECT_EQ(Matches("a", identifier), IsLead(table, b)) << table.codePage << " " << std::hex << b;
            }
        }
    }
}

TEST(DoubleByte, LeadBytesInEveryDoubleByteCodePage)
{
    struct Case {
        const char* entry;
        const char* identifier;
        bool matches;
    };
    // 0x82 leads in all five code pages.
    const Case cases[] = {
        // A lone lead byte closing the identifier counts as its end.
        {"usb\\k", "USB\\K\x82", true},
        {"USB\\K\x82\x60", "USB\\K\x82", true},
        {"USB\\K\x88\x41zzz", "USB\\K\x82", true},
        {"USB\\KA", "USB\\K\x82", false},
        {"USB\\K1", "USB\\K\x82", false},
        // An entry ending in a lead byte where the identifier goes on.
        {"USB\\\x82", "USB\\\x82\x60", false},
        {"USB\\\x82", "USB\\AB", false},
        {"USB\\\x82", "USB\\A", false},
        // A trail byte 'A' is not the identifier's 'a'.
        {"X\x82"
         "A",
         "Xa", false},
        {"Xa",
         "X\x82"
         "A",
         false},
    };
    for (const DoubleBytePage& page : kPages) {
        UseCodePage(page.codePage);
        for (const Case& c : cases) {
            EXPECT_EQ(Matches(c.entry, c.identifier), c.matches)
                << page.codePage << ": entry " << ::testing::PrintToString(std::string(c.entry)) << " identifier "
                << ::testing::PrintToString(std::string(c.identifier));
        }
    }
}

TEST(DoubleByte, Example932)
{
    UseCodePage(932);
    EXPECT_TRUE(
        Matches("USB\\\x82\x81"
                "BC",
                "usb\\\x82\x60"
                "bc"));
    // One-byte capitals fold as before, other ASCII does not.
    EXPECT_TRUE(Matches("ROOT\\KIVO", "root\\kivo"));
    EXPECT_FALSE(Matches("ROOT[", "root{"));
    // Half-width katakana have no case.
    EXPECT_FALSE(Matches("\xB1", "\xB2"));
    EXPECT_TRUE(Matches("\xB1\xB2", "\xB1"));
}

TEST(DoubleByte, BudgetCountsTheIdentifiersBytes)
{
    UseCodePage(932);
    const char* identifier = "\x82\x60\x82\x61Z";  // full-width A, B, then Z
    const char* entry = "\x82\x81\x82\x82z-tail";
    for (size_t length = 0; length <= 5; ++length) {
        // Cut after 1 or 3 bytes, the identifier ends at a lead byte, and the
        // entry's lead byte at that place matches whatever follows it.
        EXPECT_TRUE(MatchesHardwareId(entry, identifier, length)) << length;
    }
    EXPECT_FALSE(
        MatchesHardwareId("\x82\x81"
                          "A",
                          identifier, 3));
    EXPECT_TRUE(MatchesHardwareId("\x82\x81", identifier, 3));
    EXPECT_FALSE(
        MatchesHardwareId("\x82\x81\x82\x82"
                          "y",
                          identifier, 5));
    // A two-byte identifier character takes two bytes of budget; the entry's
    // never decides the count.
    EXPECT_TRUE(MatchesHardwareId("\x82\x81q",
                                  "\x82\x60"
                                  "Q",
                                  3));
    EXPECT_FALSE(MatchesHardwareId("\x82\x81q",
                                   "\x82\x60"
                                   "R",
                                   3));
}

TEST(DoubleByte, KnownCodePagesUseTheirOwnLeadBytesNotTheSystems)
{
    // The simulated system reports 1361's lead bytes from 0x84; 0x82 leads
    // all the same, so "\x82" "A" is one character that does not fold.
    UseCodePage(1361);
    EXPECT_FALSE(
        Matches("\x82"
                "a",
                "\x82"
                "A"));
    UseCodePage(1252);
    EXPECT_TRUE(
        Matches("\x82"
                "a",
                "\x82"
                "A"));
}

TEST(DoubleByte, OtherDoubleByteCodePageTakesTheSystemsLeadBytesAndNoWideCapitals)
{
    UseCodePage(20932);
    ASSERT_TRUE(NarrowCodePageIsDoubleByte());
    EXPECT_EQ(NarrowCodePage(), 20932u);
    // 0xA3C1 / 0xA3E1 are full-width A / a here, but nothing folds them.
    EXPECT_FALSE(Matches("\xA3\xE1", "\xA3\xC1"));
    EXPECT_TRUE(Matches("\xA3\xC1x", "\xA3\xC1"));
    // 0xA3 leads, so its trail byte is not an ASCII letter to fold.
    EXPECT_FALSE(
        Matches("\xA3"
                "a",
                "\xA3"
                "A"));
    // 0x82 does not lead here: it is one byte, and 'A' after it folds.
    EXPECT_TRUE(
        Matches("\x82"
                "a",
                "\x82"
                "A"));
    EXPECT_TRUE(Matches("usb\\kivo", "USB\\KIVO"));
}

TEST(DoubleByte, FallsBackToSingleByteRules)
{
    struct Fallback {
        UINT codePage;
        const char* why;
    };
    const Fallback fallbacks[] = {{65001, "UTF-8"}, {65000, "UTF-7"}, {4242, "invalid"}, {0, "invalid"}};
    for (const Fallback& f : fallbacks) {
        UseCodePage(f.codePage);
        EXPECT_FALSE(NarrowCodePageIsDoubleByte()) << f.why;
        EXPECT_EQ(NarrowCodePage(), 0u) << f.why;
        // 0x82 0x60 compared as two single bytes: no full-width folding.
        EXPECT_FALSE(Matches("\x82\x81", "\x82\x60")) << f.why;
        EXPECT_TRUE(
            Matches("\x82"
                    "a",
                    "\x82"
                    "A"))
            << f.why;
    }
}

TEST(DoubleByte, OneByteCapitalsFoldByTheCodePagesOwnCaseData)
{
    struct Row {
        UINT codePage;
        bool caseInformationMissing;
        bool folds;  // whether the code page's own capital 0xA1 meets its small 0xA2
    };
    const Row rows[] = {
        {932, false, true},    // double-byte: the system's case data decide
        {932, true, false},    // no case data: 'A' to 'Z' alone
        {1252, false, false},  // single-byte: only ASCII ever folds
    };
    for (const Row& row : rows) {
        hwsim::Reset();
        hwsim::SetAnsiCodePage(row.codePage);
        hwsim::AddOneByteCapital(0xA1, 0xA2);
        hwsim::SetCaseInformationMissing(row.caseInformationMissing);
        TakeNarrowCodePage();
        EXPECT_EQ(Matches("ID\xA2", "id\xA1"), row.folds) << row.codePage << " " << row.caseInformationMissing;
        EXPECT_TRUE(Matches("usb\\\x82\x81", "USB\\\x82\x60") || row.codePage == 1252) << row.codePage;
        // 'A' to 'Z' fold to their last letter, and no further.
        EXPECT_TRUE(Matches("az", "AZ")) << row.codePage;
        EXPECT_FALSE(Matches("@", "`")) << row.codePage;
        EXPECT_FALSE(Matches("[", "{")) << row.codePage;
    }
}

TEST(DoubleByte, SingleByteCodePageTakesItsCaseTablesButFoldsOnlyAscii)
{
    UseCodePage(1251);
    EXPECT_EQ(NarrowCodePage(), 1251u);
    EXPECT_FALSE(NarrowCodePageIsDoubleByte());
    EXPECT_FALSE(Matches("\xE0", "\xC0"));  // Cyrillic a / A stay different
    EXPECT_TRUE(Matches("kivo\xC0", "KIVO\xC0"));
}

TEST(DoubleByte, WalkFindsAWideEntryAndStaysInsideTheList)
{
    UseCodePage(932);
    // The last entry ends in a lead byte with no terminator after it. The
    // block is exactly the list (the sanitizer sees a read past it), or goes
    // on with 0x82: read as the trail byte, it makes full-width small b.
    const std::string bytes = std::string("PCI\\X\0USB\\\x82\x81\0USB\\\x82", 18);
    for (const char* tail : {"", "\x82"}) {
        char* list = static_cast<char*>(malloc(bytes.size() + strlen(tail)));
        memcpy(list, bytes.data(), bytes.size());
        memcpy(list + bytes.size(), tail, strlen(tail));
        const DWORD size = static_cast<DWORD>(bytes.size());
        EXPECT_EQ(FindMatchingHardwareId(list, size, "usb\\\x82\x60"), list + 6);
        EXPECT_EQ(FindMatchingHardwareId(list, size, "USB\\\x82\x61"), nullptr) << strlen(tail);
        // Cut just after the trailing lead byte: it reads as the end of the entry.
        EXPECT_EQ(FindMatchingHardwareId(list, size, "USB\\\x82"), list + 6);
        EXPECT_EQ(FindMatchingHardwareId(list + 13, 5, "USB\\\x82"), list + 13);
        free(list);
    }
}

}  // namespace
