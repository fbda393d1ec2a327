// hwpurge-preview's listing: the nodes hwpurge's removal pass would remove,
// found by the same walk, with nothing removed and nothing changed.
#pragma once

#include "platform/platform.h"

enum PreviewFormat {
    kPreviewText,  // one line per node, then a closing count line
    kPreviewJson,  // one JSON document in UTF-8
};

// Lists on standard output, in the order hwpurge would remove them, the
// nodes whose hardware-ID list holds an entry matching `identifier`: the
// entry, the instance ID, the setup class (name and GUID) and whether the
// node is present. Failures are reported on standard error as hwpurge
// reports them, and in the JSON document. Sets *listed to the number of
// nodes listed; returns true when every node was examined.
bool PreviewDevicesByHardwareId(const char* identifier, PreviewFormat format, DWORD* listed);
