// The whole removal pass over 10^3 to 10^6 simulated device nodes, about one
// in ten of them matching. Reports time per node, the platform calls made per
// node and the most heap the pass held at once, and fits the time to O(N).
// And hwpurge-preview over 10^5 nodes, side by side: every node with a driver
// package (one of 200, as a machine's driver store holds), and none with one.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/host/simulated_windows.h"
#include "preview/preview_devices.h"
#include "removal/hardware_id.h"
#include "removal/remove_devices.h"

namespace {

const char kIdentifier[] = "USB\\VID_1A2B&PID_4100";

// A machine of `count` nodes with lists of two to four entries; every tenth
// node lists a KIVO entry, the others look like ordinary USB, PCI and HID
// devices that share a prefix with it.
const std::vector<hwsim::Node>& Machine(long count)
{
    static std::map<long, std::vector<hwsim::Node>> machines;
    std::vector<hwsim::Node>& nodes = machines[count];
    if (!nodes.empty()) {
        return nodes;
    }
    const std::string guid = "{36fc9e60-c465-11cf-8056-444553540000}";
    nodes.reserve(static_cast<size_t>(count));
    char text[64];
    for (long i = 0; i < count; ++i) {
        snprintf(text, sizeof text, "USB\\VID_%04lX&PID_%04lX\\%ld", (i * 7) & 0xFFFF, i & 0xFFFF, i);
        const std::string instance = text;
        switch (i % 10) {
            case 3:
                nodes.push_back(hwsim::MakeNode(instance, guid, i % 2 == 0,
                                                {"USB\\VID_0BDA&PID_5411&REV_0101", "usb\\vid_1a2b&pid_4100&mi_01"}));
                break;
            case 6:
                nodes.push_back(hwsim::MakeNode(
                    instance, guid, true,
                    {"PCI\\VEN_8086&DEV_A2AF&SUBSYS_86941043&REV_00", "PCI\\VEN_8086&DEV_A2AF&SUBSYS_86941043",
                     "PCI\\VEN_8086&DEV_A2AF&CC_0C0330", "PCI\\VEN_8086&DEV_A2AF"}));
                break;
            case 8:
                nodes.push_back(hwsim::MakeNode(instance, guid, false,
                                                {"HID\\VID_046D&PID_C52B&REV_1211&MI_00",
                                                 "HID\\VID_046D&PID_C52B&MI_00", "HID_DEVICE_SYSTEM_MOUSE"}));
                break;
            default:
                snprintf(text, sizeof text, "USB\\VID_1A2B&PID_%04lX&REV_0200", 0x4101 + i % 10);
                nodes.push_back(hwsim::MakeNode(instance, guid, i % 3 == 0, {text, "USB\\VID_1A2B&PID_0720"}));
                break;
        }
    }
    return nodes;
}

// A driver key for every node of Machine(count), with one of 200 packages.
const hwsim::DriverKeys& DriverKeysOf(long count)
{
    static std::map<long, hwsim::DriverKeys> keys;
    hwsim::DriverKeys& machine = keys[count];
    if (!machine.empty()) {
        return machine;
    }
    char text[64];
    auto value = [](const std::string& data) {
        hwsim::RegValue made;
        made.type = REG_SZ;
        made.data = data + std::string(1, 0);
        return made;
    };
    for (long i = 0; i < count; ++i) {
        snprintf(text, sizeof text, "{36fc9e60-c465-11cf-8056-444553540000}\\%ld", i);
        hwsim::DriverKey& key = machine[text];
        snprintf(text, sizeof text, "oem%ld.inf", i % 200);
        key.values["infpath"] = value(text);
        key.values["providername"] = value("KIVO Imaging");
        key.values["driverversion"] = value("2.1.3.0");
        key.values["driverdate"] = value("5-2-2024");
    }
    return machine;
}

// The most bytes of LocalAlloc blocks the pass held at one time.
double PeakHeldBytes()
{
    std::map<const void*, DWORD> held;
    double now = 0;
    double peak = 0;
    for (const hwsim::Call& call : hwsim::Calls()) {
        if (call.op == hwsim::Op::LocalAlloc && call.ok) {
            held[call.block] = call.size;
            now += call.size;
            peak = now > peak ? now : peak;
        } else if (call.op == hwsim::Op::LocalFree && held.count(call.block) != 0) {
            now -= held[call.block];
            held.erase(call.block);
        }
    }
    return peak;
}

void BM_RemovalPass(benchmark::State& state)
{
    const long count = static_cast<long>(state.range(0));
    const std::vector<hwsim::Node>& machine = Machine(count);

    // The removal lines go where redirected output would: a fully buffered
    // file, here /dev/null.
    fflush(stdout);
    const int console = dup(STDOUT_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, STDOUT_FILENO);

    for (auto _ : state) {
        state.PauseTiming();
        hwsim::Reset();
        TakeNarrowCodePage();
        hwsim::SetDatabase(machine);
        // A million nodes take more calls than the limit meant for a looping
        // program.
        hwsim::Faults faults;
        faults.callLimit = 16 * static_cast<size_t>(count);
        hwsim::SetFaults(faults);
        state.ResumeTiming();
        RemoveDevicesByHardwareId(kIdentifier);
        fflush(stdout);
    }

    dup2(console, STDOUT_FILENO);
    close(console);
    close(sink);

    const double nodes = static_cast<double>(count);
    size_t removed = 0;
    for (const hwsim::Node& node : hwsim::Database()) {
        removed += node.removed ? 1 : 0;
    }
    state.SetComplexityN(count);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
    state.counters["time/node"] =
        benchmark::Counter(nodes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["calls/node"] = static_cast<double>(hwsim::Calls().size()) / nodes;
    state.counters["enum/node"] = static_cast<double>(hwsim::CallsOf(hwsim::Op::EnumDeviceInfo).size()) / nodes;
    state.counters["reads/node"] =
        static_cast<double>(hwsim::CallsOf(hwsim::Op::GetDeviceRegistryProperty).size()) / nodes;
    state.counters["removals/node"] = static_cast<double>(hwsim::CallsOf(hwsim::Op::CallClassInstaller).size()) / nodes;
    state.counters["matched"] = static_cast<double>(removed) / nodes;
    state.counters["peak_heap_B"] = PeakHeldBytes();
    hwsim::Reset();
}

// hwpurge-preview's text listing, over Machine(count) with (1) or without (0)
// a driver package on every node.
void BM_Preview(benchmark::State& state)
{
    const long count = static_cast<long>(state.range(0));
    const bool drivers = state.range(1) != 0;
    std::vector<hwsim::Node> machine = Machine(count);
    if (drivers) {
        char text[64];
        for (long i = 0; i < count; ++i) {
            snprintf(text, sizeof text, "{36fc9e60-c465-11cf-8056-444553540000}\\%ld", i);
            machine[static_cast<size_t>(i)].driver = text;
            machine[static_cast<size_t>(i)].friendlyName = "KIVO 4100 Scanner";
            machine[static_cast<size_t>(i)].manufacturer = "KIVO";
        }
    }
    fflush(stdout);
    const int console = dup(STDOUT_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, STDOUT_FILENO);
    PreviewResult result = {};
    for (auto _ : state) {
        state.PauseTiming();
        hwsim::Reset();
        TakeNarrowCodePage();
        hwsim::SetDatabase(machine);
        hwsim::SetDriverKeys(drivers ? DriverKeysOf(count) : hwsim::DriverKeys());
        hwsim::Faults faults;
        faults.callLimit = 32 * static_cast<size_t>(count);
        hwsim::SetFaults(faults);
        state.ResumeTiming();
        PreviewDevicesByHardwareId(kIdentifier, kPreviewText, &result);
        fflush(stdout);
    }
    dup2(console, STDOUT_FILENO);
    close(console);
    close(sink);
    const double nodes = static_cast<double>(count);
    state.counters["time/node"] =
        benchmark::Counter(nodes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["calls/node"] = static_cast<double>(hwsim::Calls().size()) / nodes;
    state.counters["listed"] = static_cast<double>(result.listed) / nodes;
    state.counters["peak_heap_B"] = PeakHeldBytes();
    hwsim::Reset();
}

BENCHMARK(BM_Preview)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->ArgNames({"nodes", "drivers"})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_RemovalPass)
    ->RangeMultiplier(10)
    ->Range(1000, 1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
