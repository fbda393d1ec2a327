// hwpurge-preview's walk: hwpurge's own, with a listing in place of each
// removal and a count of the driver package of every other node.
#include "preview/preview_devices.h"

#include <cstdio>
#include <cstring>

#include "preview/json_writer.h"
#include "preview/preview_run.h"
#include "removal/device_walk.h"
#include "removal/report_failure.h"

namespace {

void KeepFailure(const char* operationName, DWORD code, bool configRet, const char* text, void* context)
{
    auto* run = static_cast<PreviewRun*>(context);
    Failure failure;
    failure.operation = operationName;
    failure.code = code;
    failure.configRet = configRet;
    failure.hasText = text != nullptr;
    failure.text[0] = '\0';
    if (text != nullptr) {
        snprintf(failure.text, sizeof failure.text, "%s", text);
    }
    if (run->failureCount++ == 0) {
        run->firstFailure = failure;
    }
    FailureList* list = run->failures;
    if (list->count < list->capacity) {
        list->slots[list->count++] = failure;
    }
}

void ListDevice(HDEVINFO set, SP_DEVINFO_DATA* record, const char* entry, size_t length, void* context)
{
    auto* run = static_cast<PreviewRun*>(context);
    Failure slots[kMaxNodeFailures];
    FailureList nodeFailures = {slots, kMaxNodeFailures, 0};
    FailureList* walkFailures = run->failures;
    run->failures = &nodeFailures;
    NodeBlocks blocks = {};
    NodeText node = {};
    node.entry = {entry, length};
    ReadListedNode(run, set, record, &node, &blocks);
    run->failures = walkFailures;

    switch (run->format) {
        case kPreviewText:
            WriteTextLine(node);
            break;
        case kPreviewJson:
            WriteJsonLine(node, run->listed == 0, nodeFailures);
            break;
        case kPreviewSummary:
            AddSummaryLabel(run->labels, node);
            break;
        case kPreviewUnusedPackages:
            break;
    }
    ++run->listed;
    if (node.state == kNodeWaiting) {
        ++run->waiting;
    }
    FreeBlocks(&blocks);
}

struct Walk {
    const char* identifier;
    PreviewRun* run;
};

bool ListMatchingDevices(void* context)
{
    const Walk* walk = static_cast<const Walk*>(context);
    return WalkAllDevices(walk->identifier, ListDevice, CountOtherNode, walk->run);
}

}  // namespace

void PreviewDevicesByHardwareId(const char* identifier, PreviewFormat format, PreviewResult* result)
{
    Failure slots[kMaxWalkFailures];
    FailureList walkFailures = {slots, kMaxWalkFailures, 0};
    SummaryLabels labels = {};
    PreviewRun run = {};
    run.format = format;
    run.detailsComplete = true;
    run.othersCounted = true;
    run.failures = &walkFailures;
    run.labels = &labels;
    if (format == kPreviewJson) {
        fputs("{\"identifier\":", stdout);
        WriteJsonNarrowString(stdout, identifier, strlen(identifier));
        fputs(",\"devices\":[", stdout);
    }
    Walk walk = {identifier, &run};
    const bool complete = RunWithFailureSink(KeepFailure, &run, ListMatchingDevices, &walk);
    // A walk that stopped early never saw the rest of the machine: no
    // package's other users are known then, and saying "no other node"
    // could have one deleted that a device still uses.
    if (!complete) {
        run.othersCounted = false;
    }
    if (!run.othersCounted && run.packages.firstListed != nullptr) {
        run.detailsComplete = false;
    }
    switch (format) {
        case kPreviewText:
            WritePackageLines(run);
            WriteClosingLine(run, complete);
            break;
        case kPreviewJson:
            fputc(']', stdout);
            WriteJsonPackages(run);
            fputs(complete ? ",\"complete\":true" : ",\"complete\":false", stdout);
            fputs(run.detailsComplete ? ",\"detailsComplete\":true,\"failures\":"
                                      : ",\"detailsComplete\":false,\"failures\":",
                  stdout);
            WriteJsonFailures(walkFailures);
            fputs("}\n", stdout);
            break;
        case kPreviewSummary:
            WriteSummaryLine(run, identifier, complete, walkFailures);
            break;
        case kPreviewUnusedPackages:
            WriteUnusedPackages(run, complete);
            break;
    }
    FreePackages(&run.packages);
    result->listed = run.listed;
    result->waiting = run.waiting;
    result->complete = complete;
    result->detailsComplete = run.detailsComplete;
}
