// The list walk and comparison in each narrow code page, in bytes of list
// per second. The identifier agrees with every entry up to its last
// character, so each entry is compared over its whole length before the walk
// steps over it: the most work a list of this size can cost.
#include <string>

#include <benchmark/benchmark.h>

#include "platform/host/simulated_windows.h"
#include "removal/hardware_id.h"

namespace {

// 64 entries of 36 bytes, with the letters in mixed case so that folding
// is done on every comparison.
std::string List()
{
    std::string list;
    for (int i = 0; i < 64; ++i) {
        list += i % 2 == 0 ? "USB\\VID_1A2B&PID_4100&REV_0200&MI_00" : "usb\\vid_1a2b&pid_4100&rev_0200&mi_00";
        list += '\0';
    }
    list += '\0';
    return list;
}

const char kIdentifier[] = "Usb\\Vid_1a2b&Pid_4100&Rev_0200&Mi_0Z";

void BM_Comparison(benchmark::State& state)
{
    const UINT codePage = static_cast<UINT>(state.range(0));
    hwsim::Reset();
    hwsim::SetAnsiCodePage(codePage);
    TakeNarrowCodePage();
    const std::string list = List();
    const DWORD size = static_cast<DWORD>(list.size());
    for (auto _ : state) {
        const char* found = FindMatchingHardwareId(list.data(), size, kIdentifier);
        benchmark::DoNotOptimize(found);
        if (found != nullptr) {
            state.SkipWithError("an entry matched; nothing would be measured");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.SetLabel(std::string("cp") + std::to_string(codePage) +
                   (NarrowCodePageIsDoubleByte() ? " double-byte" : " single-byte"));
}

BENCHMARK(BM_Comparison)->Arg(1252)->Arg(65001)->Arg(932)->Arg(936)->Arg(949)->Arg(950)->Arg(1361)->Arg(20932);

}  // namespace
