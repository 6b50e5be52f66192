// One colour reported by the chooser, as the page takes it: stored (with its notification), the
// row's swatch redrawn and the colour handed to the sender for a connected DualShock 4. Against
// the store alone in the same run, which an atomic rewrite of the preferences file makes the dear
// part: the redraw and the hand-over should add at most half of it.
//
// Then a drag on the chooser's map, as the finger moves it: the main thread's work for a move
// that announces a colour, against the same store; and a scripted drag in real time, moves 10 ms
// apart, timed from each move to the daemon's log line for its colour (or a later one).
// With --linux-backend the daemon runs on its Linux backend against the test doubles (BlueZ
// holding the DualShock 4 connected, its LEDs in a sysfs of the run's own), where that line comes
// after the LED files are written.
#include "ConnectedPage.h"
#include "EventLoopWait.h"
#include "LinuxControllerDoubles.h"
#include "NBRColorPickerController.h"
#include "NBRSupport.h"
#include "QVColorMapView.h"
#include "QVColorPickerView.h"
#include "RatioReporter.h"
#include "UIGestureRecognizer.h"
#include "UINavigationController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <thread>

namespace {

// Made before the page with --linux-backend, gone at the end of main.
std::unique_ptr<LinuxControllerDoubles> g_linux;
// The light bar did not end on the drag's last colour.
bool g_lightBarEndedWrong = false;

ConnectedPage &setting() {
    return sharedPage(
        [](ConnectedPage &made) {
            std::optional<LinuxBackendController> onLinux;
            if (g_linux) {
                if (!g_linux->start(/*connected=*/true)) {
                    std::fprintf(stderr, "%s\n", g_linux->error.c_str());
                    return false;
                }
                onLinux = LinuxBackendController{LinuxControllerDoubles::addressBytes(),
                                                 g_linux->childSetup()};
            }
            if (!made.start(made.root.path("/tmp/controllerd.log"), {"--timestamps"},
                            onLinux ? &*onLinux : nullptr))
                return false;
            made.show({390, 720});
            return made.page->ds4ColorChooser()->cellObject() != nullptr;
        },
        "the daemon did not start or the page shows no colour row");
}

// The "LED Color" screen, once opened.
NBRColorPickerController *g_chooser = nullptr;

void BM_ColorStoreOnly(benchmark::State &state) {
    NimbrelListController *page = setting().page;
    int step = 0;
    for (auto _ : state) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x8000", ++step % 256);
        page->setPreferenceValue(QString(hex), page->ds4ColorChooser().get());
    }
}
BENCHMARK(BM_ColorStoreOnly)->UseRealTime()->Repetitions(3);

void BM_ColorSendOnly(benchmark::State &state) {
    sendColourUpdates(state, setting().page);
}
BENCHMARK(BM_ColorSendOnly)->UseRealTime()->Repetitions(3);

void BM_ColorPickReport(benchmark::State &state) {
    NimbrelListController *page = setting().page;
    int step = 0;
    for (auto _ : state) {
        const double red = (++step % 256) / 255.0; // a new value each time
        page->colorPickerDidPickColor(nullptr, platform::UIColor::colorWithRed(red, 0.5, 0, 1));
    }
}
BENCHMARK(BM_ColorPickReport)->UseRealTime()->Repetitions(3);

// The "LED Color" screen over the page, its map drawn.
QVColorPickerView *openChooser() {
    ConnectedPage &s = setting();
    if (!g_chooser) {
        s.page->presentColorChooser(s.page->ds4ColorChooser().get());
        g_chooser = qobject_cast<NBRColorPickerController *>(s.navigation->topViewController());
        if (!g_chooser)
            return nullptr;
    }
    QVColorPickerView &picker = *g_chooser->colorPicker();
    platform::testing::spinUntil([&] {
        return picker.hasColorMapView() &&
               static_cast<QVColorMapView &>(picker.colorMapView()).isShown();
    });
    return picker.hasColorMapView() ? &picker : nullptr;
}

UIGestureRecognizer &mapPan(QVColorPickerView &picker) {
    return *picker.colorMapView().gestureRecognizers()[1];
}

// The point `f` of the way along the map's diagonal, in the picker's space.
CGPoint alongMap(QVColorPickerView &picker, double f) {
    const CGRect map = picker.colorMapView().frame();
    return {map.minX() + 4 + (map.width() - 8) * f, map.minY() + 4 + (map.height() - 8) * f};
}

// One iteration: a move of the finger to another tile that the picker announces, with all the
// main thread does for it (map, picker, chooser, page, hand-over to the sender). The picker's
// clock steps a wait ahead each time, so that every move announces.
void BM_DragMoveThatAnnounces(benchmark::State &state) {
    QVColorPickerView *picker = openChooser();
    if (!picker) {
        state.SkipWithError("the chooser's map never showed");
        return;
    }
    timeval clock = picker->lastDrawTime();
    picker->setClock([&clock] { return clock; });
    UIGestureRecognizer &pan = mapPan(*picker);
    pan.report(UIGestureRecognizerState::Began, {alongMap(*picker, 0)});
    pan.report(UIGestureRecognizerState::Changed, {alongMap(*picker, 0)});
    int announced = 0;
    int step = 0;
    picker->addTarget(
        &announced, [&announced](UIControl &) { ++announced; }, UIControlEventValueChanged);
    for (auto _ : state) {
        clock.tv_sec += 1;
        pan.report(UIGestureRecognizerState::Changed, {alongMap(*picker, (++step % 20) / 20.0)});
    }
    pan.report(UIGestureRecognizerState::Ended, {});
    picker->removeTarget(&announced);
    picker->setClock({});
    if (announced < state.iterations())
        state.SkipWithError("a move went unannounced");
    setting().page->saveDraggedColor();
}
BENCHMARK(BM_DragMoveThatAnnounces)->UseRealTime()->Repetitions(3);

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// The daemon's light-bar lines of colours shown: when each came (monotonic seconds) and its
// colour.
std::vector<std::pair<double, std::string>> lightBarLog() {
    std::vector<std::pair<double, std::string>> lines;
    for (const auto &bar : setting().daemon.lightBars())
        if (bar.shown)
            lines.emplace_back(bar.at, bar.colour);
    return lines;
}

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One iteration: a drag of 1.5 s corner to corner, a move every 10 ms on the real clock, the
// event loop running between moves as it would. Counters: from each move that changed the colour
// to the daemon's line for it or a later colour (median, 95th percentile), the daemon's colours
// per second of drag, and the main thread's longest spell away from the event loop (a move or a
// deferred file write).
void BM_ScriptedDragToLightBar(benchmark::State &state) {
    QVColorPickerView *picker = openChooser();
    if (!picker) {
        state.SkipWithError("the chooser's map never showed");
        return;
    }
    UIGestureRecognizer &pan = mapPan(*picker);
    constexpr int kMoves = 150;
    std::vector<double> latencies;
    double sendsPerSecond = 0, longest = 0;
    // The benchmarks before this one may have left the daemon a backlog of connections.
    for (std::size_t before = ~std::size_t(0), now = lightBarLog().size(); now != before;
         before = now, now = lightBarLog().size())
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (auto _ : state) {
        const std::size_t logged = lightBarLog().size();
        std::vector<double> movedAt;
        std::vector<std::string> colourAt;
        const auto busy = [&longest](auto &&work) {
            const double start = monotonicSeconds();
            work();
            longest = std::max(longest, monotonicSeconds() - start);
        };
        const double begin = monotonicSeconds();
        pan.report(UIGestureRecognizerState::Began, {alongMap(*picker, 0)});
        for (int move = 0; move < kMoves; ++move) {
            const double due = begin + 0.010 * move;
            while (monotonicSeconds() < due) {
                busy([] { QCoreApplication::processEvents(); });
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            movedAt.push_back(monotonicSeconds());
            busy([&] {
                pan.report(UIGestureRecognizerState::Changed,
                           {alongMap(*picker, double(move) / (kMoves - 1))});
            });
            colourAt.push_back(NBRStringColorForUIColor(picker->color()));
        }
        busy([&] { pan.report(UIGestureRecognizerState::Ended, {}); });
        const double end = monotonicSeconds();
        setting().page->lightColorSender().waitUntilIdle(std::chrono::seconds(5));
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 100)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

        auto lines = lightBarLog();
        lines.erase(lines.begin(), lines.begin() + std::min(logged, lines.size()));
        // Each line shows the latest move before it that had its colour.
        std::vector<int> shows;
        for (const auto &[at, colour] : lines) {
            int latest = -1;
            for (int move = 0; move < kMoves && movedAt[move] <= at; ++move)
                if (colourAt[move] == colour)
                    latest = move;
            shows.push_back(latest);
        }
        for (int move = 1; move < kMoves; ++move) {
            if (colourAt[move] == colourAt[move - 1])
                continue;
            for (std::size_t i = 0; i < lines.size(); ++i)
                if (shows[i] >= move && lines[i].first >= movedAt[move]) {
                    latencies.push_back((lines[i].first - movedAt[move]) * 1000);
                    break;
                }
        }
        const auto during = std::count_if(lines.begin(), lines.end(),
                                          [end](const auto &line) { return line.first <= end; });
        sendsPerSecond = during / (end - begin);
        if (g_linux) {
            // What the controller would show, read where the kernel keeps it.
            std::string held;
            platform::testing::spinUntil(
                [&] { return (held = g_linux->ledColour()) == colourAt.back(); },
                platform::testing::scaled(std::chrono::seconds(2)));
            if (held != colourAt.back()) {
                g_lightBarEndedWrong = true;
                std::fprintf(stderr, "the LED files hold %s, the drag ended on %s\n", held.c_str(),
                             colourAt.back().c_str());
                state.SkipWithError("the light bar did not end on the drag's last colour");
            }
        }
    }
    state.counters["move_to_light_median_ms"] = percentile(latencies, 0.5);
    state.counters["move_to_light_p95_ms"] = percentile(latencies, 0.95);
    state.counters["sends_per_s"] = sendsPerSecond;
    state.counters["longest_main_thread_spell_ms"] = longest * 1000;
    std::printf(
        "drag to light bar (%s): %zu colour changes timed, median %.1f ms, p95 %.1f ms (goal "
        "<= 70 ms), %.1f sends/s (goal <= 15), longest main-thread spell %.1f ms\n",
        !g_linux                   ? "simulated controller"
        : g_linux->sysfsInMemory() ? "Linux backend, move to LED write, sysfs double in memory"
                                   : "Linux backend, move to LED write, sysfs double on disk",
        latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.95), sendsPerSecond,
        longest * 1000);
}
BENCHMARK(BM_ScriptedDragToLightBar)->UseRealTime()->Iterations(1)->Repetitions(1);

} // namespace

int main(int argc, char **argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Ours, taken out before Google Benchmark sees the rest.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--linux-backend") == 0) {
            LinuxControllerDoubles::keepSysfsInMemory();
            g_linux = std::make_unique<LinuxControllerDoubles>();
            std::copy(argv + i + 1, argv + argc + 1, argv + i);
            --argc;
            break;
        }
    }
    QApplication app(argc, argv);
    const int status = runWithRatios(argc, argv,
                                     {{"BM_ColorPickReport", "BM_ColorStoreOnly", 1.5},
                                      {"BM_DragMoveThatAnnounces", "BM_ColorStoreOnly", 1.0}});
    g_linux.reset();
    return status != 0 ? status : g_lightBarEndedWrong ? 1 : 0;
}
