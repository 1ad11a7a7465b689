// SPDX-License-Identifier: MIT
// Benchmarks of the hex editor widget offscreen: full repaint and paging through 1 MiB.
#include "hexedit/hexedit.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

// An editor shown offscreen with a view of 40 whole rows, holding `size` bytes.
std::unique_ptr<CHexEdit> MakeEditor(int size)
{
    auto w = std::make_unique<CHexEdit>();
    w->resize(700, 600);
    w->show();
    const int lh = QFontMetrics(w->EditorFont()).height();
    w->resize(700, w->height() + 40 * lh - w->viewport()->height());
    QApplication::processEvents();
    std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 37);
    w->SetData(image.data(), size);
    w->setFocus();
    QApplication::processEvents();
    return w;
}

// Whole view repainted synchronously; arg is the image size. A selection in the hex column
// makes every cell take the highlight path, the costlier of the two.
void BM_Repaint(benchmark::State& state)
{
    auto w = MakeEditor(static_cast<int>(state.range(0)));
    if (state.range(1)) {
        w->OnEditSelectAll();
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &tab);
        QApplication::sendEvent(w.get(), &tab); // back in the hex column, selection kept
    }
    if (w->Model().RowsPerPage() != 40)
        state.SkipWithError("view is not 40 rows");
    for (auto _ : state)
        w->viewport()->repaint();
}
BENCHMARK(BM_Repaint)->Args({8192, 0})->Args({1 << 20, 0})->Args({8192, 1})->Args({1 << 20, 1})->Unit(benchmark::kMicrosecond);

// The fixed cost of a repaint: backing store and background only.
void BM_RepaintEmpty(benchmark::State& state)
{
    CHexEdit w;
    w.resize(700, 600);
    w.show();
    QApplication::processEvents();
    for (auto _ : state)
        w.viewport()->repaint();
}
BENCHMARK(BM_RepaintEmpty)->Unit(benchmark::kMicrosecond);

// 4096 PgDn presses, each followed by its repaint.
void BM_PageDown4096(benchmark::State& state)
{
    auto w = MakeEditor(1 << 20);
    for (auto _ : state) {
        state.PauseTiming();
        QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier);
        QApplication::sendEvent(w.get(), &home);
        state.ResumeTiming();
        for (int i = 0; i < 4096; ++i) {
            QKeyEvent pgdn(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
            QApplication::sendEvent(w.get(), &pgdn);
            w->viewport()->repaint();
        }
        benchmark::DoNotOptimize(w->Model().TopIndex());
    }
    if (w->Model().TopIndex() != (1 << 20) - 40 * 16)
        state.SkipWithError("did not reach the last page");
}
BENCHMARK(BM_PageDown4096)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
