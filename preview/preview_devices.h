// hwpurge-preview's listing: the nodes hwpurge's removal pass would remove,
// found by the same walk, with nothing removed and nothing changed.
#pragma once

#include "platform/platform.h"

enum PreviewFormat {
    kPreviewText,            // one line per node, then a closing count line
    kPreviewJson,            // one JSON document in UTF-8
    kPreviewSummary,         // one line of at most 2,000 characters, for fleet engines
    kPreviewUnusedPackages,  // the third-party driver packages only the listed nodes use
};

struct PreviewResult {
    DWORD listed;          // nodes listed
    DWORD waiting;         // of them, those whose removal already waits for a restart
    bool complete;         // every node was examined
    bool detailsComplete;  // every name, manufacturer, driver package and state was read, and every node's package
                           // counted
};

// Lists on standard output, in the order hwpurge would remove them, the
// nodes whose hardware-ID list holds an entry matching `identifier`: the
// entry, the instance ID, the setup class (name and GUID), whether the node
// is present or waits for a restart, its name, manufacturer and driver
// package; then each driver package they use, with how many listed and other
// nodes use it. Failures are reported on standard error as hwpurge reports
// them, and in the JSON document. The summary says the same in one line; the
// unused packages are the oemNN.inf packages no other node uses, written only
// when the look is complete.
void PreviewDevicesByHardwareId(const char* identifier, PreviewFormat format, PreviewResult* result);
