// The driver packages a preview's nodes use, counted by INF name: how many
// listed nodes use each, and how many other nodes, so that an administrator
// knows which packages no device will use once the listed nodes are gone.
#pragma once

#include <cstddef>

#include "platform/platform.h"

struct DriverPackage {
    char* inf;  // the package's INF name in the driver store, e.g. oem12.inf
    // Of the first listed node that uses it; null where that value is missing.
    char* provider;
    char* version;
    char* date;
    DWORD listedNodes;
    DWORD otherNodes;
    DriverPackage* nextListed;  // the next package a listed node uses, in the order first listed
};

// Zero-initialised, it is empty.
struct PackageTally {
    DriverPackage** slots;  // open addressing by the INF name, case folded
    DWORD capacity;
    DWORD count;
    DriverPackage* firstListed;
    DriverPackage* lastListed;
};

// Counts one use of the package named by `inf` (`length` bytes): by a listed
// node or by another. Returns the package, or null when memory ran out
// (reported as LocalAlloc).
DriverPackage* CountPackageUse(PackageTally* tally, const char* inf, size_t length, bool listed);

// Releases every package.
void FreePackages(PackageTally* tally);
