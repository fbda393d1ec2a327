// What the fuzz targets share: the code pages they draw from and the way a
// broken property stops the run.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace hwfuzz {

// The five double-byte code pages known by name, one known only by what the
// system reports, a single-byte one and UTF-8 (single-byte rules).
const UINT kCodePages[] = {1252, 932, 936, 949, 950, 1361, 20932, 65001};
const size_t kCodePageCount = sizeof kCodePages / sizeof kCodePages[0];

// libFuzzer keeps the input that aborts.
inline void Check(bool holds, const char* what)
{
    if (!holds) {
        fprintf(stderr, "property violated: %s\n", what);
        abort();
    }
}

}  // namespace hwfuzz
