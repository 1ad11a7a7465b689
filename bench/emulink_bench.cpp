// SPDX-License-Identifier: MIT
// A 1 MiB download to the simulated emulator: one claim for the operation against a fresh open per transfer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulink/emuprotocol.h"
#include "emulink/usbtransport.h"
#include "session/emulink.h"
#include "simemulator.h"

namespace {

class CNullSink : public CMessageSink {
public:
    void ShowMessage(void*, const std::string&) override { ++m_nCount; }
    int m_nCount = 0;
};

const std::vector<SUsbId> kIds{{0x0547, 0x2131}};

// What the program does: one claim for the operation, 32 command blocks and 32 data blocks.
void BM_Download(benchmark::State& state)
{
    CSimulator sim(SSimOptions{});
    CNullSink sink;
    CUsbTransport transport(kIds);
    CEmuLink link(transport, sink, nullptr);
    std::vector<uint8_t> rom(kRomImageSize, 0x5A);
    for (auto _ : state) {
        if (link.Download(rom.data(), kRomImageSize) != EEmuResult::kOk)
            state.SkipWithError("download failed");
        sim.ClearLog();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRomImageSize));
}

// The same 64 transfers, each opening and claiming the device for itself.
void BM_DownloadOpenPerTransfer(benchmark::State& state)
{
    CSimulator sim(SSimOptions{});
    CUsbTransport transport(kIds);
    std::vector<uint8_t> rom(kRomImageSize, 0x5A);
    for (auto _ : state) {
        for (uint32_t i = 0; i < 32; ++i) {
            CommandBlock command = MakeCommandBlock(EMU_WRITE_BLOCK, static_cast<uint8_t>(i));
            if (!transport.BulkWrite(command.data(), command.size()).Ok()
                || !transport.BulkWrite(rom.data() + i * kDataBlockSize, kDataBlockSize).Ok())
                state.SkipWithError("transfer failed");
        }
        sim.ClearLog();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRomImageSize));
}

BENCHMARK(BM_Download)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DownloadOpenPerTransfer)->Unit(benchmark::kMillisecond)->MinTime(2.0);

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
