// SPDX-License-Identifier: MIT
// A 1 MiB download to the simulated emulator: a fresh open per transfer against one handle for all.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulink/emuprotocol.h"
#include "simemulator.h"

namespace {

class CNullSink : public CMessageSink {
public:
    void ShowMessage(void*, const std::string&) override { ++m_nCount; }
    int m_nCount = 0;
};

const std::vector<SUsbId> kIds{{0x0547, 0x2131}};

// What the program does: 32 command blocks and 32 data blocks, each transfer opening the device.
void BM_DownloadOpenPerTransfer(benchmark::State& state)
{
    CSimulator sim(SSimOptions{});
    CNullSink sink;
    CUsbTransport transport(sink, kIds);
    CEmuLink link(transport, sink, nullptr);
    std::vector<uint8_t> rom(kRomImageSize, 0x5A);
    for (auto _ : state) {
        SDownloadResult r = link.Download(rom.data(), kRomImageSize, "0", nullptr);
        if (r.eResult != EEmuResult::kOk)
            state.SkipWithError("download failed");
        sim.ClearLog();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRomImageSize));
}

// The same 64 transfers on one open handle (still claiming interface 0 for each).
void BM_DownloadOneHandle(benchmark::State& state)
{
    CSimulator sim(SSimOptions{});
    CNullSink sink;
    CUsbTransport transport(sink, kIds);
    CDeviceHandle handle;
    if (!transport.OpenDevice("Ezusb-0", handle)) {
        state.SkipWithError("no simulated emulator");
        return;
    }
    std::vector<uint8_t> rom(kRomImageSize, 0x5A);
    for (auto _ : state) {
        for (uint32_t i = 0; i < 32; ++i) {
            CommandBlock command = MakeCommandBlock(EMU_WRITE_BLOCK, static_cast<uint8_t>(i));
            if (handle.Transfer(CUsbTransport::kWritePipe, command.data(), command.size(), transport.Timeout())
                    != ETransfer::kOk
                || handle.Transfer(CUsbTransport::kWritePipe, rom.data() + i * kDataBlockSize, kDataBlockSize,
                                   transport.Timeout())
                    != ETransfer::kOk)
                state.SkipWithError("transfer failed");
        }
        sim.ClearLog();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRomImageSize));
}

BENCHMARK(BM_DownloadOpenPerTransfer)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DownloadOneHandle)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
    // libusb reaches the simulated emulator only through umockdev's preload library.
    ReexecUnderUmockdev(argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
