#include "removal/report_failure.h"

#include <cstdio>
#include <cstring>

namespace {

struct NamedCode {
    DWORD code;
    const char* name;
};

// The setup codes that opening the set, enumerating it, reading a node's
// properties or its class installer's removal can answer with. The system
// has no text for them, so the name is what an administrator can look up.
const NamedCode kSetupCodes[] = {
    {ERROR_NO_ASSOCIATED_CLASS, "ERROR_NO_ASSOCIATED_CLASS"},
    {ERROR_INVALID_CLASS, "ERROR_INVALID_CLASS"},
    {ERROR_DEVINFO_NOT_REGISTERED, "ERROR_DEVINFO_NOT_REGISTERED"},
    {ERROR_INVALID_REG_PROPERTY, "ERROR_INVALID_REG_PROPERTY"},
    {ERROR_NO_SUCH_DEVINST, "ERROR_NO_SUCH_DEVINST"},
    {ERROR_INVALID_CLASS_INSTALLER, "ERROR_INVALID_CLASS_INSTALLER"},
    {ERROR_DI_DO_DEFAULT, "ERROR_DI_DO_DEFAULT"},
    {ERROR_DEVINFO_LIST_LOCKED, "ERROR_DEVINFO_LIST_LOCKED"},
    {ERROR_DEVINFO_DATA_LOCKED, "ERROR_DEVINFO_DATA_LOCKED"},
    {ERROR_DI_BAD_PATH, "ERROR_DI_BAD_PATH"},
    {ERROR_NO_ASSOCIATED_SERVICE, "ERROR_NO_ASSOCIATED_SERVICE"},
    {ERROR_NO_CONFIGMGR_SERVICES, "ERROR_NO_CONFIGMGR_SERVICES"},
    {ERROR_CANT_REMOVE_DEVINST, "ERROR_CANT_REMOVE_DEVINST"},
    {ERROR_IN_WOW64, "ERROR_IN_WOW64"},
    {ERROR_UNKNOWN_EXCEPTION, "ERROR_UNKNOWN_EXCEPTION"},
    {ERROR_PNP_REGISTRY_ERROR, "ERROR_PNP_REGISTRY_ERROR"},
    {ERROR_NOT_INSTALLED, "ERROR_NOT_INSTALLED"},
};

// Names of CONFIGRET values, as cfgmgr32.h gives them, for those a failure
// to read a node's status seems likeliest to bring; Learn's page on
// CM_Get_DevNode_Status lists none. Others are written by value alone.
const NamedCode kConfigRets[] = {
    {CR_OUT_OF_MEMORY, "CR_OUT_OF_MEMORY"},
    {CR_INVALID_POINTER, "CR_INVALID_POINTER"},
    {CR_INVALID_FLAG, "CR_INVALID_FLAG"},
    {CR_INVALID_DEVNODE, "CR_INVALID_DEVNODE"},
    {CR_FAILURE, "CR_FAILURE"},
    {CR_REGISTRY_ERROR, "CR_REGISTRY_ERROR"},
    {CR_NO_CM_SERVICES, "CR_NO_CM_SERVICES"},
    {CR_ACCESS_DENIED, "CR_ACCESS_DENIED"},
    {CR_CALL_NOT_IMPLEMENTED, "CR_CALL_NOT_IMPLEMENTED"},
};

// The sink of the run under way; only RunWithFailureSink changes them.
FailureSink g_sink = nullptr;
void* g_sinkContext = nullptr;

// The name `table` gives `code`, or nullptr.
template <size_t N>
const char* NameIn(const NamedCode (&table)[N], DWORD code)
{
    for (const NamedCode& known : table) {
        if (known.code == code) {
            return known.name;
        }
    }
    return nullptr;
}

// Strips the line break and spaces the system ends its message texts with,
// and joins a text of several lines into one, so that a report stays one line.
void TrimMessage(char* text)
{
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i) {
        const bool lineBreak = text[i] == '\r' || text[i] == '\n';
        if (!lineBreak) {
            text[kept++] = text[i];
        } else if (kept > 0 && text[kept - 1] != ' ') {
            text[kept++] = ' ';
        }
    }
    text[kept] = '\0';
}

}  // namespace

const char* SetupErrorName(DWORD code)
{
    return NameIn(kSetupCodes, code);
}

bool RunWithFailureSink(FailureSink sink, void* sinkContext, bool (*run)(void* runContext), void* runContext)
{
    // The only place the sink is set, and it is always put back.
    const FailureSink outerSink = g_sink;
    void* const outerContext = g_sinkContext;
    g_sink = sink;
    g_sinkContext = sinkContext;
    const bool result = run(runContext);
    g_sink = outerSink;
    g_sinkContext = outerContext;
    return result;
}

bool ReportFailure(const char* operationName)
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    // Inserts are left as they stand: there are no arguments to put in them.
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    const bool hasText = length != 0 && text != nullptr;
    if (hasText) {
        TrimMessage(text);
    }
    // Windows tools write codes with the high bits set in hex; small codes
    // stay in the decimal the system's own tools use for them.
    char number[64];
    const char* name = SetupErrorName(code);
    if (name != nullptr) {
        snprintf(number, sizeof number, "0x%08lX (%s)", static_cast<unsigned long>(code), name);
    } else if (code >= 0x10000) {
        snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
    } else {
        snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(code));
    }
    if (hasText) {
        fprintf(stderr, "hwpurge: %s failed with error %s: %s\n", operationName, number, text);
    } else {
        fprintf(stderr, "hwpurge: %s failed with error %s\n", operationName, number);
    }
    if (g_sink != nullptr) {
        g_sink(operationName, code, false, hasText ? text : nullptr, g_sinkContext);
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    SetLastError(code);
    return false;
}

void ReportConfigManagerFailure(const char* operationName, CONFIGRET result)
{
    const char* name = NameIn(kConfigRets, result);
    if (name != nullptr) {
        fprintf(stderr, "hwpurge: %s failed with CONFIGRET 0x%08lX (%s)\n", operationName,
                static_cast<unsigned long>(result), name);
    } else {
        fprintf(stderr, "hwpurge: %s failed with CONFIGRET 0x%08lX\n", operationName,
                static_cast<unsigned long>(result));
    }
    if (g_sink != nullptr) {
        g_sink(operationName, result, true, name, g_sinkContext);
    }
}
