// hwpurge-preview's text and JSON forms: a line (or an object) per listed
// node as the walk finds it, then the driver packages and the closing line
// (or the rest of the document).
#include <cstdio>
#include <cstring>

#include "preview/json_writer.h"
#include "preview/preview_run.h"

namespace {

void WriteJsonText(const Text& text)
{
    if (text.bytes == nullptr) {
        fputs("null", stdout);
    } else {
        WriteJsonNarrowString(stdout, text.bytes, text.length);
    }
}

// The package's provider, version and date, those it has, in parentheses.
void WritePackageFacts(const Text& provider, const Text& version, const Text& date)
{
    const Text* facts[3] = {&provider, &version, &date};
    const char* separator = " (";
    for (const Text* fact : facts) {
        if (fact->bytes != nullptr) {
            printf("%s%.*s", separator, static_cast<int>(fact->length), fact->bytes);
            separator = ", ";
        }
    }
    if (separator[0] == ',') {
        fputc(')', stdout);
    }
}

}  // namespace

void WriteJsonFailures(const FailureList& list)
{
    fputc('[', stdout);
    for (size_t i = 0; i < list.count; ++i) {
        const Failure& failure = list.slots[i];
        fputs(i == 0 ? "{\"operation\":" : ",{\"operation\":", stdout);
        WriteJsonString(stdout, failure.operation, strlen(failure.operation));
        printf(",\"code\":%lu,\"text\":", static_cast<unsigned long>(failure.code));
        WriteJsonText({failure.hasText ? failure.text : nullptr, strlen(failure.text)});
        fputc('}', stdout);
    }
    fputc(']', stdout);
}

void WriteTextLine(const NodeText& node)
{
    printf("[%.*s] ", static_cast<int>(node.entry.length), node.entry.bytes);
    if (node.instanceId.bytes != nullptr) {
        printf("%.*s", static_cast<int>(node.instanceId.length), node.instanceId.bytes);
    } else {
        fputs("(instance ID unknown)", stdout);
    }
    if (node.className.bytes == nullptr && node.classGuid.bytes == nullptr) {
        fputs(" (no class", stdout);
    } else {
        fputs(" (class", stdout);
    }
    if (node.className.bytes != nullptr) {
        printf(" %.*s", static_cast<int>(node.className.length), node.className.bytes);
    }
    if (node.classGuid.bytes != nullptr) {
        printf(" %.*s", static_cast<int>(node.classGuid.length), node.classGuid.bytes);
    }
    const char* const states[] = {", not present)", ", present)", ", waiting for a restart)", ", state unknown)"};
    fputs(states[node.state], stdout);
    if (node.name.bytes != nullptr) {
        printf(" \"%.*s\"", static_cast<int>(node.name.length), node.name.bytes);
    } else {
        fputs(" no name", stdout);
    }
    if (node.manufacturer.bytes != nullptr) {
        printf(" by %.*s", static_cast<int>(node.manufacturer.length), node.manufacturer.bytes);
    }
    if (node.driver.inf.bytes != nullptr) {
        printf(", driver package %.*s", static_cast<int>(node.driver.inf.length), node.driver.inf.bytes);
        WritePackageFacts(node.driver.provider, node.driver.version, node.driver.date);
        fputc('\n', stdout);
    } else {
        fputs(", no driver package\n", stdout);
    }
}

void WriteJsonLine(const NodeText& node, bool first, const FailureList& failures)
{
    fputs(first ? "{\"hardwareId\":" : ",{\"hardwareId\":", stdout);
    WriteJsonText(node.entry);
    fputs(",\"instanceId\":", stdout);
    WriteJsonText(node.instanceId);
    fputs(",\"class\":", stdout);
    WriteJsonText(node.className);
    fputs(",\"classGuid\":", stdout);
    WriteJsonText(node.classGuid);
    const char* const states[] = {
        ",\"present\":false,\"waitingForRestart\":false,\"name\":",
        ",\"present\":true,\"waitingForRestart\":false,\"name\":",
        ",\"present\":true,\"waitingForRestart\":true,\"name\":",
        ",\"present\":null,\"waitingForRestart\":null,\"name\":",
    };
    fputs(states[node.state], stdout);
    WriteJsonText(node.name);
    fputs(",\"manufacturer\":", stdout);
    WriteJsonText(node.manufacturer);
    fputs(",\"driver\":", stdout);
    if (node.driver.inf.bytes == nullptr) {
        fputs("null", stdout);
    } else {
        fputs("{\"inf\":", stdout);
        WriteJsonText(node.driver.inf);
        fputs(",\"provider\":", stdout);
        WriteJsonText(node.driver.provider);
        fputs(",\"version\":", stdout);
        WriteJsonText(node.driver.version);
        fputs(",\"date\":", stdout);
        WriteJsonText(node.driver.date);
        fputc('}', stdout);
    }
    if (failures.count != 0) {
        fputs(",\"failures\":", stdout);
        WriteJsonFailures(failures);
    }
    fputc('}', stdout);
}

void WritePackageLines(const PreviewRun& run)
{
    for (const DriverPackage* package = run.packages.firstListed; package != nullptr; package = package->nextListed) {
        printf("driver package %s", package->inf);
        WritePackageFacts(TextOf(package->provider), TextOf(package->version), TextOf(package->date));
        printf(": used by %lu listed node%s and ", static_cast<unsigned long>(package->listedNodes),
               package->listedNodes == 1 ? "" : "s");
        if (!run.othersCounted) {
            printf("an unknown number of other nodes\n");
        } else if (package->otherNodes == 0) {
            printf("no other node\n");
        } else {
            printf("%lu other node%s\n", static_cast<unsigned long>(package->otherNodes),
                   package->otherNodes == 1 ? "" : "s");
        }
    }
}

void WriteJsonPackages(const PreviewRun& run)
{
    fputs(",\"driverPackages\":[", stdout);
    for (const DriverPackage* package = run.packages.firstListed; package != nullptr; package = package->nextListed) {
        fputs(package == run.packages.firstListed ? "{\"inf\":" : ",{\"inf\":", stdout);
        WriteJsonText(TextOf(package->inf));
        fputs(",\"provider\":", stdout);
        WriteJsonText(TextOf(package->provider));
        fputs(",\"version\":", stdout);
        WriteJsonText(TextOf(package->version));
        fputs(",\"date\":", stdout);
        WriteJsonText(TextOf(package->date));
        printf(",\"listedNodes\":%lu,\"otherNodes\":", static_cast<unsigned long>(package->listedNodes));
        if (run.othersCounted) {
            printf("%lu}", static_cast<unsigned long>(package->otherNodes));
        } else {
            fputs("null}", stdout);
        }
    }
    fputc(']', stdout);
}

size_t FormatCount(const PreviewRun& run, bool complete, char* out, size_t size)
{
    const unsigned long count = run.listed;
    const char* plural = run.listed == 1 ? "" : "s";
    int written = 0;
    if (!complete) {
        written = run.listed == 0
                      ? snprintf(out, size, "the list is incomplete: no device node was listed")
                      : snprintf(out, size, "the list is incomplete: at least %lu device node%s would be removed",
                                 count, plural);
    } else if (run.listed == 0) {
        written = snprintf(out, size, "no device node would be removed");
    } else {
        written = snprintf(out, size, "%lu device node%s would be removed", count, plural);
    }
    return written > 0 ? static_cast<size_t>(written) : 0;
}

size_t FormatRestartClause(const PreviewRun& run, char* out, size_t size)
{
    int written = 0;
    out[0] = '\0';
    if (run.waiting == run.listed && run.listed != 0) {
        written =
            snprintf(out, size, run.listed == 1 ? "; it waits for a restart" : "; all of them wait for a restart");
    } else if (run.waiting != 0) {
        written = snprintf(out, size, "; %lu of them wait%s for a restart", static_cast<unsigned long>(run.waiting),
                           run.waiting == 1 ? "s" : "");
    }
    return written > 0 ? static_cast<size_t>(written) : 0;
}

void WriteClosingLine(const PreviewRun& run, bool complete)
{
    char count[96];
    char restart[64];
    FormatCount(run, complete, count, sizeof count);
    FormatRestartClause(run, restart, sizeof restart);
    printf("%s%s%s\n", count, restart, complete && !run.detailsComplete ? "; some details could not be read" : "");
}
