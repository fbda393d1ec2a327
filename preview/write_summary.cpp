// hwpurge-preview's forms for fleet engines: the summary, one line of at
// most kSummaryLimit characters whatever the machine holds, and the driver
// packages to delete after the purge.
#include <cstdio>
#include <cstring>

#include "preview/preview_run.h"
#include "removal/hardware_id.h"

namespace {

// Device and instance IDs are at most 200 characters (MAX_DEVICE_ID_LEN in
// cfgmgr32.h); a longer identifier, or a name longer than a line can spare
// for it, is cut.
const size_t kIdRoom = 200;
const size_t kNameRoom = 100;

struct Line {
    char* text;
    size_t length;
    size_t capacity;
};

void Append(Line* line, const char* text)
{
    const size_t length = strlen(text);
    if (line->length + length <= line->capacity) {
        memcpy(line->text + line->length, text, length);
        line->length += length;
    }
}

// Appends `length` bytes of `text`, at most `room` of them: a control
// character becomes '?', so that the line stays one line, and a text cut
// short ends in "..." without splitting a double-byte character.
void AppendShown(Line* line, const char* text, size_t length, size_t room)
{
    size_t shown = length;
    if (length > room) {
        shown = 0;
        for (;;) {
            const bool pair = IsNarrowLeadByte(static_cast<BYTE>(text[shown])) && shown + 1 < length;
            const size_t width = pair ? 2 : 1;
            if (shown + width > room - 3) {
                break;
            }
            shown += width;
        }
    }
    for (size_t i = 0; i < shown && line->length < line->capacity; ++i) {
        const auto byte = static_cast<BYTE>(text[i]);
        line->text[line->length++] = byte < 0x20 ? '?' : text[i];
    }
    if (shown < length) {
        Append(line, "...");
    }
}

// "<operation> failed with error <code>", as the reports write the code, and
// how many more failures there were.
void AppendReason(Line* line, const Failure& failure, size_t more)
{
    char text[160];
    if (failure.configRet) {
        snprintf(text, sizeof text, "%s failed with CONFIGRET 0x%08lX", failure.operation,
                 static_cast<unsigned long>(failure.code));
    } else if (failure.code >= 0x10000) {
        snprintf(text, sizeof text, "%s failed with error 0x%08lX", failure.operation,
                 static_cast<unsigned long>(failure.code));
    } else {
        snprintf(text, sizeof text, "%s failed with error %lu", failure.operation,
                 static_cast<unsigned long>(failure.code));
    }
    Append(line, text);
    if (more == 1) {
        Append(line, " and 1 more failure");
    } else if (more > 1) {
        snprintf(text, sizeof text, " and %lu more failures", static_cast<unsigned long>(more));
        Append(line, text);
    }
}

// ", and N more" (or "and N more" with no label before it).
size_t FormatMore(char* out, size_t size, DWORD more, bool afterLabel)
{
    const int written =
        more == 0 ? 0 : snprintf(out, size, "%sand %lu more", afterLabel ? ", " : "", static_cast<unsigned long>(more));
    return written > 0 ? static_cast<size_t>(written) : 0;
}

// oem<digits>.inf, ASCII case ignored: a package the driver store took in
// from a third party. Windows' own packages keep their names.
bool IsThirdPartyInf(const char* inf)
{
    if ((inf[0] | 0x20) != 'o' || (inf[1] | 0x20) != 'e' || (inf[2] | 0x20) != 'm') {
        return false;
    }
    size_t i = 3;
    while (inf[i] >= '0' && inf[i] <= '9') {
        ++i;
    }
    return i > 3 && inf[i] == '.' && (inf[i + 1] | 0x20) == 'i' && (inf[i + 2] | 0x20) == 'n' &&
           (inf[i + 3] | 0x20) == 'f' && inf[i + 4] == '\0';
}

}  // namespace

void AddSummaryLabel(SummaryLabels* labels, const NodeText& node)
{
    if (labels->full) {
        return;
    }
    char text[2 * kIdRoom];
    Line label = {text, 0, sizeof text};
    if (node.instanceId.bytes != nullptr) {
        AppendShown(&label, node.instanceId.bytes, node.instanceId.length, kIdRoom);
    } else {
        Append(&label, "[");
        AppendShown(&label, node.entry.bytes, node.entry.length, kIdRoom);
        Append(&label, "]");
    }
    if (node.name.bytes != nullptr) {
        Append(&label, " \"");
        AppendShown(&label, node.name.bytes, node.name.length, kNameRoom);
        Append(&label, "\"");
    }
    if (node.state == kNodeWaiting) {
        Append(&label, " (waits for a restart)");
    }
    const size_t separator = labels->kept == 0 ? 0 : 2;
    const size_t capacity = sizeof labels->ends / sizeof labels->ends[0];
    if (labels->kept == capacity || labels->length + separator + label.length > sizeof labels->text) {
        labels->full = true;
        return;
    }
    memcpy(labels->text + labels->length, ", ", separator);
    memcpy(labels->text + labels->length + separator, label.text, label.length);
    labels->length += separator + label.length;
    labels->ends[labels->kept++] = labels->length;
}

void WriteSummaryLine(const PreviewRun& run, const char* identifier, bool complete, const FailureList& walkFailures)
{
    char headText[kIdRoom + 128];
    Line head = {headText, 0, sizeof headText};
    AppendShown(&head, identifier, strlen(identifier), kIdRoom);
    Append(&head, ": ");
    head.length += FormatCount(run, complete, head.text + head.length, head.capacity - head.length);

    char tailText[320];
    Line tail = {tailText, 0, sizeof tailText};
    tail.length = FormatRestartClause(run, tail.text, tail.capacity);
    // What made the look incomplete: the failure that ended the walk (the
    // walk's last: one counting another node's package may come before it),
    // else the run's first.
    const Failure* reason = nullptr;
    if (!complete && walkFailures.count != 0) {
        reason = &walkFailures.slots[walkFailures.count - 1];
    } else if (run.failureCount != 0) {
        reason = &run.firstFailure;
    }
    if (complete && !run.detailsComplete) {
        Append(&tail, "; some details could not be read");
    }
    if ((!complete || !run.detailsComplete) && reason != nullptr) {
        Append(&tail, complete ? ": " : "; ");
        AppendReason(&tail, *reason, run.failureCount - 1);
    }

    // As many labels as fit beside the rest, then how many more there are.
    const SummaryLabels* labels = run.labels;
    size_t kept = labels->kept;
    char more[48];
    size_t moreLength = 0;
    for (;; --kept) {
        moreLength = FormatMore(more, sizeof more, run.listed - static_cast<DWORD>(kept), kept != 0);
        const size_t labelsLength = kept == 0 ? 0 : labels->ends[kept - 1];
        if (run.listed == 0 || kept == 0 ||
            head.length + 2 + labelsLength + moreLength + tail.length <= kSummaryLimit) {
            break;
        }
    }
    fwrite(head.text, 1, head.length, stdout);
    if (run.listed != 0) {
        fputs(": ", stdout);
        fwrite(labels->text, 1, kept == 0 ? 0 : labels->ends[kept - 1], stdout);
        fwrite(more, 1, moreLength, stdout);
    }
    fwrite(tail.text, 1, tail.length, stdout);
    fputc('\n', stdout);
}

void WriteUnusedPackages(const PreviewRun& run, bool complete)
{
    // Only a look that examined everything can say no other node uses one.
    if (!complete || !run.detailsComplete || !run.othersCounted) {
        return;
    }
    for (const DriverPackage* package = run.packages.firstListed; package != nullptr; package = package->nextListed) {
        if (package->otherNodes == 0 && IsThirdPartyInf(package->inf)) {
            printf("%s\n", package->inf);
        }
    }
}
