// libFuzzer target for the hardware-ID list walk and the comparison.
//
// Input: byte 0 picks the narrow code page, byte 1 is the identifier's byte
// count k, the next k bytes are the identifier (cut at its first NUL, as a C
// string would be) and everything after them is the list, handed over in a
// heap block of exactly its length so that AddressSanitizer sees any read
// past it. Besides the sanitizers, the target checks what must hold for
// every input:
//   - a yielded entry lies inside the buffer and is one of the entries the
//     walk steps through;
//   - the walk agrees with MatchesHardwareId on each entry it passed or
//     yielded, given as its own NUL-terminated string;
//   - in a single-byte code page, the yielded entry is the first one that
//     is at least N bytes long and equals the identifier over N bytes with
//     'A'..'Z' folded.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"

namespace {

using hwfuzz::Check;
using hwfuzz::kCodePages;

// Taking a code page asks the simulated system about all 256 bytes, so it
// is only redone when the input picks another one.
bool UseCodePage(UINT codePage)
{
    static UINT current = 0;
    if (codePage != current) {
        hwsim::Reset();
        hwsim::SetAnsiCodePage(codePage);
        TakeNarrowCodePage();
        current = codePage;
    }
    return NarrowCodePageIsDoubleByte();
}

unsigned char Fold(unsigned char b)
{
    return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 0x20) : b;
}

size_t LengthWithin(const char* s, size_t available)
{
    size_t n = 0;
    while (n < available && s[n] != '\0') {
        ++n;
    }
    return n;
}

bool PlainPrefixMatch(const char* entry, size_t entryLength, const char* identifier, size_t n)
{
    if (entryLength < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (Fold(static_cast<unsigned char>(entry[i])) != Fold(static_cast<unsigned char>(identifier[i]))) {
            return false;
        }
    }
    return true;
}

// The entry as a string of its own, in a block exactly as long as it is.
bool MatchesAlone(const char* entry, size_t entryLength, const char* identifier, size_t n)
{
    char* copy = static_cast<char*>(malloc(entryLength + 1));
    memcpy(copy, entry, entryLength);
    copy[entryLength] = '\0';
    const bool matches = MatchesHardwareId(copy, identifier, n);
    free(copy);
    return matches;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    const bool doubleByte = UseCodePage(kCodePages[data[0] % hwfuzz::kCodePageCount]);
    size_t k = data[1];
    if (k > size - 2) {
        k = size - 2;
    }
    char* identifier = static_cast<char*>(malloc(k + 1));
    memcpy(identifier, data + 2, k);
    identifier[k] = '\0';
    const size_t n = strlen(identifier);

    const size_t listSize = size - 2 - k;
    char* list = static_cast<char*>(malloc(listSize));
    if (listSize != 0) {
        memcpy(list, data + 2 + k, listSize);
    }

    const char* found = FindMatchingHardwareId(list, static_cast<DWORD>(listSize), identifier);
    if (found != nullptr) {
        Check(found >= list && found < list + listSize, "the yielded entry lies inside the buffer");
    }

    bool yieldedAnEntryStart = false;
    const char* firstPlainMatch = nullptr;
    size_t pos = 0;
    while (pos < listSize && list[pos] != '\0') {
        const char* entry = list + pos;
        const size_t length = LengthWithin(entry, listSize - pos);
        if (firstPlainMatch == nullptr && PlainPrefixMatch(entry, length, identifier, n)) {
            firstPlainMatch = entry;
        }
        if (entry == found) {
            yieldedAnEntryStart = true;
            Check(MatchesAlone(entry, length, identifier, n), "the yielded entry matches on its own");
            break;
        }
        Check(!MatchesAlone(entry, length, identifier, n), "no entry before the yielded one matches");
        pos += length + 1;
    }
    if (found != nullptr) {
        Check(yieldedAnEntryStart, "the yielded entry starts an entry");
    }
    if (!doubleByte) {
        Check(found == firstPlainMatch, "single-byte result equals a plain prefix test with A-Z folded");
    }

    free(list);
    free(identifier);
    return 0;
}
