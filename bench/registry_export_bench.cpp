// Reading a large machine's Enum export: 100,000 device nodes in UTF-16LE,
// each with the values and subkeys reg export writes for it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "platform/host/registry_export.h"

namespace {

const int kNodes = 100000;

std::string HexUtf16(const std::string& text)
{
    std::string out;
    char byte[8];
    size_t column = 20;
    for (size_t i = 0; i < text.size() * 2; ++i) {
        const unsigned char value = i % 2 == 0 ? static_cast<unsigned char>(text[i / 2]) : 0;
        snprintf(byte, sizeof byte, "%02x", value);
        out += byte;
        if (i + 1 < text.size() * 2) {
            out += ',';
            column += 3;
            if (column > 74) {  // wrapped as regedit wraps it
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

std::string Utf16Le(const std::string& text)
{
    std::string out = "\xFF\xFE";
    for (char c : text) {
        if (c == '\n') {
            out += std::string("\r\0\n\0", 4);
        } else {
            out += c;
            out += '\0';
        }
    }
    return out;
}

std::string MakeExport()
{
    const std::string root = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\";
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    char device[64];
    for (int i = 0; i < kNodes; ++i) {
        snprintf(device, sizeof device, "VID_%04X&PID_%04X", (i / 16) % 0x10000, i % 16);
        const std::string node = root + device + "\\" + std::to_string(i);
        const std::string ids = std::string("USB\\") + device + "&REV_0100" + '\0' + "USB\\" + device + '\0' + '\0';
        text += "[" + node + "]\n";
        text += "\"DeviceDesc\"=\"@usb.inf,%usb.compositedevice%;USB Composite Device\"\n";
        text += "\"Capabilities\"=dword:00000084\n";
        text += "\"HardwareID\"=hex(7):" + HexUtf16(ids) + "\n";
        text += "\"CompatibleIDs\"=hex(7):" + HexUtf16(std::string("USB\\COMPOSITE") + '\0' + '\0') + "\n";
        text += "\"ConfigFlags\"=dword:00000000\n";
        text += "\"ClassGUID\"=\"{36fc9e60-c465-11cf-8056-444553540000}\"\n";
        text += "\"Driver\"=\"{36fc9e60-c465-11cf-8056-444553540000}\\\\0042\"\n";
        text += "\"Service\"=\"usbccgp\"\n\n";
        text += "[" + node + "\\Device Parameters]\n\"SymbolicName\"=\"\\\\??\\\\USB#" + device + "\"\n\n";
        text += "[" + node + "\\LogConf]\n\n";
        text += "[" + node + "\\Control]\n\"ActiveService\"=\"usbccgp\"\n\n";
    }
    return Utf16Le(text);
}

const std::string& Export()
{
    static const std::string bytes = MakeExport();
    return bytes;
}

void ReadExportOf100000Nodes(benchmark::State& state)
{
    const std::string& bytes = Export();
    for (auto _ : state) {
        hwsim::DeviceDatabase database;
        std::string error;
        if (!hwsim::ParseRegistryExport(bytes, 1252, &database, &error) || database.nodes.size() != kNodes) {
            state.SkipWithError(("the generated export did not read: " + error).c_str());
            break;
        }
        benchmark::DoNotOptimize(database.nodes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
    state.counters["nodes"] = kNodes;
    state.counters["MiB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
}
BENCHMARK(ReadExportOf100000Nodes)->Unit(benchmark::kMillisecond);

void RewriteWithoutEveryOtherNode(benchmark::State& state)
{
    const std::string& bytes = Export();
    hwsim::DeviceDatabase database;
    std::string error;
    if (!hwsim::ParseRegistryExport(bytes, 1252, &database, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (size_t i = 0; i < database.nodes.size(); i += 2) {
        database.nodes[i].removed = true;
    }
    for (auto _ : state) {
        std::string rewritten = hwsim::WithoutRemovedNodes(bytes, database);
        benchmark::DoNotOptimize(rewritten.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(RewriteWithoutEveryOtherNode)->Unit(benchmark::kMillisecond);

}  // namespace
