// SPDX-License-Identifier: MIT
// Benchmarks of the hex editor: editing primitives on a 1 MiB image.
#include "hexedit/hexeditmodel.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kImage = 1 << 20;

void LoadImage(CHexEditModel& m)
{
    std::vector<std::uint8_t> image(kImage);
    for (int i = 0; i < kImage; ++i)
        image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 31);
    m.SetFontMetrics(7, 14);
    m.SetClientSize(600, 40 * 14);
    m.SetData(image.data(), kImage);
}

// One byte out of the middle of 1 MiB; the byte is put back untimed so every round sees 1 MiB.
void BM_DeleteRangeOneByte(benchmark::State& state)
{
    CHexEditModel m;
    LoadImage(m);
    for (auto _ : state) {
        benchmark::DoNotOptimize(m.DeleteRange(kImage / 2, kImage / 2 + 1));
        state.PauseTiming();
        m.InsertZeros(kImage / 2, 1);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_DeleteRangeOneByte)->Unit(benchmark::kMicrosecond);

void BM_InsertZerosOneByte(benchmark::State& state)
{
    CHexEditModel m;
    LoadImage(m);
    for (auto _ : state) {
        benchmark::DoNotOptimize(m.InsertZeros(kImage / 2, 1));
        state.PauseTiming();
        m.DeleteRange(kImage / 2, kImage / 2 + 1);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_InsertZerosOneByte)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
