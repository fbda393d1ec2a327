#include "preview/driver_packages.h"

#include <cstring>

#include "removal/report_failure.h"

namespace {

const char kAllocName[] = "LocalAlloc";
const DWORD kFirstCapacity = 64;  // a power of two, as every capacity

// INF names compare as Windows compares file names here: ASCII case folded.
char Folded(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

DWORD HashOf(const char* text, size_t length)
{
    DWORD hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<unsigned char>(Folded(text[i]))) * 16777619u;
    }
    return hash;
}

bool SameInf(const char* name, const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (name[i] == '\0' || Folded(name[i]) != Folded(text[i])) {
            return false;
        }
    }
    return name[length] == '\0';
}

// The slot that holds `text`, or the empty one where it would go.
DriverPackage** SlotOf(DriverPackage** slots, DWORD capacity, const char* text, size_t length)
{
    DWORD at = HashOf(text, length) & (capacity - 1);
    while (slots[at] != nullptr && !SameInf(slots[at]->inf, text, length)) {
        at = (at + 1) & (capacity - 1);
    }
    return &slots[at];
}

void* Allocate(size_t bytes)
{
    void* block = LocalAlloc(LPTR, bytes);
    if (block == nullptr) {
        ReportFailure(kAllocName);
    }
    return block;
}

// Keeps the table at most half full, so that a search ends soon.
bool MakeRoom(PackageTally* tally)
{
    if (tally->count < tally->capacity / 2) {
        return true;
    }
    const DWORD capacity = tally->capacity == 0 ? kFirstCapacity : tally->capacity * 2;
    // Each slot is a pointer to a package.
    auto** slots = static_cast<DriverPackage**>(Allocate(sizeof(void*) * capacity));
    if (slots == nullptr) {
        return false;
    }
    for (DWORD i = 0; i < tally->capacity; ++i) {
        if (DriverPackage* package = tally->slots[i]) {
            *SlotOf(slots, capacity, package->inf, strlen(package->inf)) = package;
        }
    }
    if (tally->slots != nullptr) {
        LocalFree(tally->slots);
    }
    tally->slots = slots;
    tally->capacity = capacity;
    return true;
}

DriverPackage* NewPackage(const char* inf, size_t length)
{
    auto* package = static_cast<DriverPackage*>(Allocate(sizeof(DriverPackage)));
    if (package == nullptr) {
        return nullptr;
    }
    package->inf = static_cast<char*>(Allocate(length + 1));
    if (package->inf == nullptr) {
        LocalFree(package);
        return nullptr;
    }
    memcpy(package->inf, inf, length);
    return package;
}

void FreeText(char* text)
{
    if (text != nullptr) {
        LocalFree(text);
    }
}

}  // namespace

DriverPackage* CountPackageUse(PackageTally* tally, const char* inf, size_t length, bool listed)
{
    if (!MakeRoom(tally)) {
        return nullptr;
    }
    DriverPackage** slot = SlotOf(tally->slots, tally->capacity, inf, length);
    if (*slot == nullptr) {
        *slot = NewPackage(inf, length);
        if (*slot == nullptr) {
            return nullptr;
        }
        ++tally->count;
    }
    DriverPackage* package = *slot;
    if (!listed) {
        ++package->otherNodes;
        return package;
    }
    if (package->listedNodes++ == 0) {
        if (tally->lastListed != nullptr) {
            tally->lastListed->nextListed = package;
        } else {
            tally->firstListed = package;
        }
        tally->lastListed = package;
    }
    return package;
}

void FreePackages(PackageTally* tally)
{
    for (DWORD i = 0; i < tally->capacity; ++i) {
        if (DriverPackage* package = tally->slots[i]) {
            FreeText(package->inf);
            FreeText(package->provider);
            FreeText(package->version);
            FreeText(package->date);
            LocalFree(package);
        }
    }
    if (tally->slots != nullptr) {
        LocalFree(tally->slots);
    }
    memset(tally, 0, sizeof *tally);
}
