// The hardware-ID list walk and the single-byte comparison.
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"

namespace {

class SingleByte : public ::testing::Test {
protected:
    void SetUp() override
    {
        hwsim::Reset();
        hwsim::SetAnsiCodePage(1252);
        TakeNarrowCodePage();
    }
};

struct MatchCase {
    const char* entry;
    const char* identifier;
    bool matches;
};

TEST_F(SingleByte, ComparesAPrefixWithAsciiCaseFolded)
{
    const MatchCase cases[] = {
        {"USB\\VID_1A2B&PID_4100", "USB\\VID_1A2B&PID_4100", true},
        {"usb\\vid_1a2b&pid_4100", "USB\\VID_1A2B&PID_4100", true},
        {"USB\\VID_1A2B&PID_4100&REV_0200", "usb\\Vid_1a2b", true},
        {"USB\\VID_1A2B", "USB\\VID_1A2B&PID_4100", false},  // shorter than the identifier
        {"USB\\VID_1A2C&PID_4100", "USB\\VID_1A2B", false},
        {"XUSB\\VID_1A2B", "USB", false},  // only prefixes count
        {"PCI\\VEN_8086", "PCI\\VEN_8086&DEV", false},
        {"ROOT\\\xC9QUIPEMENT", "root\\\xE9quipement", false},  // accented letters compare exactly
        {"ROOT\\\xE9QUIPEMENT", "root\\\xE9quipement", true},
        {"[\\]^_`", "{|}~\x7F@", false},  // only A-Z fold, not neighbours
        {"@", "`", false},
        {"Z", "z", true},
        {"", "A", false},
        {"anything", "", true},  // no bytes to compare
        {"", "", true},
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(MatchesHardwareId(c.entry, c.identifier, strlen(c.identifier)), c.matches)
            << "entry '" << c.entry << "' identifier '" << c.identifier << "'";
    }
}

TEST_F(SingleByte, ComparesOnlyTheGivenNumberOfBytes)
{
    EXPECT_TRUE(MatchesHardwareId("USB\\X", "USB\\Y", 4));
    EXPECT_FALSE(MatchesHardwareId("USB\\X", "USB\\Y", 5));
}

TEST_F(SingleByte, Utf8SystemCodePageKeepsSingleByteRules)
{
    for (UINT codePage : {65001u, 65000u, 12345u}) {
        hwsim::SetAnsiCodePage(codePage);
        TakeNarrowCodePage();
        EXPECT_FALSE(NarrowCodePageIsDoubleByte()) << codePage;
        EXPECT_EQ(NarrowCodePage(), 0u) << codePage;
        // A two-byte UTF-8 letter, capital against small, stays different.
        EXPECT_FALSE(MatchesHardwareId("ID\xC3\x89", "id\xC3\xA9", 4)) << codePage;
        EXPECT_TRUE(MatchesHardwareId("ID\xC3\xA9X", "id\xC3\xA9", 4)) << codePage;
    }
}

// A REG_MULTI_SZ list in a heap block of exactly its size, so that the
// sanitizer sees a read past it; or followed by `tail`, bytes that change
// the answer if read, so that the plain build sees it too.
struct List {
    explicit List(const std::string& bytes, const std::string& tail = std::string()) : size(bytes.size())
    {
        const std::string block = bytes + tail;
        data = static_cast<char*>(malloc(block.empty() ? 1 : block.size()));
        memcpy(data, block.data(), block.size());
    }
    ~List() { free(data); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    char* data;
    size_t size;
};

struct WalkCase {
    const char* name;
    std::string bytes;
    const char* identifier;
    long expectedOffset;  // -1: no entry
};

TEST_F(SingleByte, WalkYieldsTheFirstMatchingEntry)
{
    using std::string;
    const WalkCase cases[] = {
        {"first entry", string("USB\\A\0USB\\B\0\0", 13), "usb\\", 0},
        {"third entry", string("PCI\\X\0HID\\Y\0USB\\Z\0\0", 19), "USB", 12},
        {"two matches, first wins", string("X\0USB\\1\0USB\\2\0\0", 16), "usb", 2},
        {"no match", string("PCI\\X\0HID\\Y\0\0", 13), "USB", -1},
        {"empty list", string("\0", 1), "USB", -1},
        {"empty first entry ends the list", string("\0USB\0\0", 6), "USB", -1},
        {"no closing empty entry", string("PCI\\X\0USB\\Y\0", 12), "USB", 6},
        {"unterminated last entry matches", string("PCI\\X\0USB\\Y", 11), "USB\\Y", 6},
        {"unterminated last entry too short", string("PCI\\X\0USB\\Y", 11), "USB\\YZ", -1},
        {"unterminated only entry", string("USB", 3), "US", 0},
        {"empty identifier takes the first entry", string("PCI\\X\0USB\0\0", 11), "", 0},
        {"entry shorter than identifier before a longer one", string("USB\0USB\\VID\0\0", 13), "USB\\", 4},
    };
    for (const WalkCase& c : cases) {
        for (const std::string& tail : {std::string(), std::string("Z\0USB", 5)}) {
            List list(c.bytes, tail);
            const char* found = FindMatchingHardwareId(list.data, static_cast<DWORD>(list.size), c.identifier);
            const long offset = found == nullptr ? -1 : static_cast<long>(found - list.data);
            EXPECT_EQ(offset, c.expectedOffset) << c.name << (tail.empty() ? "" : ", bytes after the list");
        }
    }
}

TEST_F(SingleByte, WalkReadsNothingWhenTheLengthIsZero)
{
    // An address that must not be touched: the walk has no bytes to read.
    EXPECT_EQ(FindMatchingHardwareId(nullptr, 0, "USB"), nullptr);
}

TEST_F(SingleByte, WalkNeverReadsPastTheReportedLength)
{
    // Cut to L bytes, in a block of exactly L bytes (the sanitizer sees a
    // read past it) and in one that goes on with the rest of the list (a read
    // past L finds an entry the cut list does not hold).
    const std::string bytes = std::string("HID\\X\0USB\\VID_1A2B&PID_4100\0\0", 29);
    struct Expectation {
        const char* identifier;
        size_t shortest;  // the shortest cut that still holds the matching entry
        long offset;      // -1: never found
    };
    const Expectation expectations[] = {
        {"USB\\VID_1A2B&PID_4100", 27, 6},
        {"USB\\VID_1A2B&PID_4100&MI_00", 0, -1},
        {"HID\\X", 5, 0},
        {"Q", 0, -1},
    };
    for (size_t length = 0; length <= bytes.size(); ++length) {
        for (const std::string& tail : {std::string(), bytes.substr(length)}) {
            List list(bytes.substr(0, length), tail);
            for (const Expectation& e : expectations) {
                const char* found = FindMatchingHardwareId(list.data, static_cast<DWORD>(length), e.identifier);
                const long offset = found == nullptr ? -1 : static_cast<long>(found - list.data);
                EXPECT_EQ(offset, length >= e.shortest ? e.offset : -1)
                    << e.identifier << " in " << length << " bytes" << (tail.empty() ? "" : " and more after");
            }
        }
    }
}

TEST(BoundedEntryLength, StopsAtTheNulOrTheLimit)
{
    EXPECT_EQ(BoundedEntryLength("abc\0def", 7), 3u);
    EXPECT_EQ(BoundedEntryLength("abc", 2), 2u);
    EXPECT_EQ(BoundedEntryLength("", 1), 0u);
}

}  // namespace
