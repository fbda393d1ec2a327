#include "platform/host/machine_database.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/host/code_pages.h"
#include "platform/host/database_file.h"
#include "platform/host/machine.h"

namespace hwsim {

// examples/sample-enum.reg, embedded at build time.
extern const unsigned char kSampleExport[];
extern const size_t kSampleExportSize;

void UseDatabaseFile(const std::string& path)
{
    MachineState& state = Machine();
    DeviceDatabase database;
    LoadResult loaded;
    try {
        loaded = LoadRegistryExport(path, AnsiCodePage(), &database);
    } catch (const std::bad_alloc&) {
        // A file too large for this machine is refused, not a crash.
        database = DeviceDatabase();
        loaded = LoadResult();
        loaded.error = ERROR_NOT_ENOUGH_MEMORY;
        loaded.message = "simulated Windows: " + path + ": not enough memory to read the file";
    }
    state.database = std::move(database.nodes);
    state.driverKeys = std::move(database.driverKeys);
    state.file.layout = std::move(database.layout);
    state.file.bytes = std::move(loaded.bytes);
    state.startError = loaded.error;
    state.startMessage = loaded.message;
    state.file.path = loaded.error == ERROR_SUCCESS ? path : std::string();
    state.file.unsaved = false;
}

void SaveRemovals()
{
    DatabaseFile& file = Machine().file;
    if (!file.unsaved || file.path.empty()) {
        return;
    }
    std::string reason;
    const std::string content = WithoutRemovedNodes(file.bytes, Machine().database, file.layout);
    if (ReplaceFileAtomically(file.path, content, &reason)) {
        file.unsaved = false;
    } else {
        fprintf(stderr, "simulated Windows: %s: the removals could not be saved, the file is unchanged: %s\n",
                file.path.c_str(), reason.c_str());
    }
}

std::vector<Node> SampleDatabase()
{
    return SampleMachine().nodes;
}

DeviceDatabase SampleMachine()
{
    DeviceDatabase database;
    std::string error;
    if (!ParseRegistryExport(SampleExport(), AnsiCodePage(), &database, &error)) {
        // Only a broken build gets here: the sample is checked by the tests.
        fprintf(stderr, "simulated Windows: the built-in sample: %s\n", error.c_str());
        abort();
    }
    return database;
}

std::string SampleExport()
{
    return std::string(reinterpret_cast<const char*>(kSampleExport), kSampleExportSize);
}

}  // namespace hwsim
