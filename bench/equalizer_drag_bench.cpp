// What one mouse move of a continuous band drag costs the GUI thread in the equalizer window: the
// move reaches the real chart, the controller spreads the bump over the 120 points and sends the
// ten gains to the equalizer stage, the window puts the new curve on the chart and the chart
// repaints (one repaint per move: the worst case, as if every move reached a fresh event-loop
// turn). Offscreen, on the virtual devices; the CPU time is the GUI thread's. Target: < 2 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/controls/curve_chart.h"
#include "app/controls/face_button.h"
#include "app/controls/power_switch.h"
#include "app/logic/program_folder.h"
#include "app/qt/message_pump.h"
#include "app/windows/equalizer_window.h"
#include "app/windows/main_window.h"
#include "platform/message_loop.h"
#include "platform/paths.h"
#include "platform/virtual/scripted_dialogs.h"

namespace tunefold {
namespace {

void Send(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    const QPointF pos(at);
    QMouseEvent event(type, pos, pos, w.mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void BM_BandDragMouseMove(benchmark::State& state) {
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped(dialogs);
    qt::MessagePump pump;
    const std::string folder = platform::ProgramFolder();
    SeedProgramFolder(folder);
    windows::MainWindow main;
    windows::EqualizerWindow eq(main, folder);
    main.show();
    eq.show();
    eq.Controller().VrSwitch1Change(true);
    eq.Controller().RzBmpButton8Click();
    QApplication::processEvents();

    controls::CurveChart& chart = *eq.Chart1;
    const int band = static_cast<int>(state.range(0));
    const QPoint start = chart.ToPixel(chart.Points()[static_cast<std::size_t>(band)]).toPoint();
    Send(chart, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    int step = 0;
    for (auto _ : state) {
        // Up and down over most of the chart, one pixel a move.
        const int dy = (step / 40) % 2 == 0 ? step % 40 : 40 - step % 40;
        ++step;
        Send(chart, QEvent::MouseMove, start - QPoint(0, dy - 20), Qt::NoButton, Qt::LeftButton);
        QApplication::processEvents(); // the chart's repaint
    }
    Send(chart, QEvent::MouseButtonRelease, start, Qt::LeftButton, Qt::NoButton);
    state.counters["moves"] = static_cast<double>(step);
}
BENCHMARK(BM_BandDragMouseMove)->Arg(0)->Arg(4)->Arg(9)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace tunefold

int main(int argc, char** argv) {
    // A program folder of its own and the virtual devices; no display needed.
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("tunefold-drag-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(home);
    setenv("TUNEFOLD_HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("TUNEFOLD_PLATFORM", "virtual", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    tunefold::platform::MessageLoop::Gui().BindToCurrentThread();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
