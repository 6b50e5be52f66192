// The colour map's images for a phone-sized map, at the screen's scale and at one pixel per tile
// as a map view shows them, against working out the same colour-map image pixel by pixel; and a
// brightness change on a map that is already shown.
#include "BitmapStore.h"
#include "EventLoopWait.h"
#include "QVColorMapView.h"
#include "RatioReporter.h"
#include "UIScreen.h"

#include <QApplication>
#include <cstdio>

namespace {

constexpr CGSize kMapSize{390, 600};
constexpr double kScale = 3;
constexpr double kTile = 16;
constexpr double kLimit = 0.9;

void BM_ColorMapImage(benchmark::State &state) {
    UIScreen::mainScreen().setScale(kScale);
    for (auto _ : state) {
        auto map = QVColorMapView::colorMapImageWithSize(kMapSize, kTile, kLimit);
        benchmark::DoNotOptimize(map->CGImage()->constBits());
    }
}
BENCHMARK(BM_ColorMapImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void renderBothImages() {
    auto map = QVColorMapView::colorMapImageWithSize(kMapSize, kTile, kLimit);
    auto background = QVColorMapView::backgroundImageWithSize(kMapSize, kTile);
    benchmark::DoNotOptimize(map->CGImage()->constBits());
    benchmark::DoNotOptimize(background->CGImage()->constBits());
}

// The colour map and its background at the screen's scale (the snapshot tool's pictures).
void BM_ColorMapImages(benchmark::State &state) {
    UIScreen::mainScreen().setScale(kScale);
    for (auto _ : state)
        renderBothImages();
}
BENCHMARK(BM_ColorMapImages)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first map of a process: its bitmaps are fresh memory, every page faulted in.
void BM_ColorMapImagesFreshMemory(benchmark::State &state) {
    UIScreen::mainScreen().setScale(kScale);
    for (auto _ : state) {
        state.PauseTiming();
        BitmapStore::purge();
        state.ResumeTiming();
        renderBothImages();
    }
}
BENCHMARK(BM_ColorMapImagesFreshMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a map view renders: both pictures at one pixel per tile, shown stretched.
void BM_ColorMapTiles(benchmark::State &state) {
    for (auto _ : state) {
        auto map = QVColorMapView::colorMapTilesWithSize(kMapSize, kTile, kLimit);
        auto background = QVColorMapView::backgroundTilesWithSize(kMapSize, kTile);
        benchmark::DoNotOptimize(map->CGImage()->constBits());
        benchmark::DoNotOptimize(background->CGImage()->constBits());
    }
}
BENCHMARK(BM_ColorMapTiles)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same picture as BM_ColorMapImage, each pixel's colour worked out on its own (its bitmap
// memory is reused by the allocator from one iteration to the next).
void BM_PerPixelColorMap(benchmark::State &state) {
    const int columns = int(kMapSize.width / kTile), rows = int(kMapSize.height / kTile);
    const int tilePixels = int(kTile * kScale);
    const int w = columns * tilePixels, h = rows * tilePixels;
    for (auto _ : state) {
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < h; ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            const int row = y / tilePixels;
            const double saturation = 1.0 - kLimit * row / (rows - 1);
            for (int x = 0; x < w; ++x) {
                const int column = x / tilePixels;
                const auto c =
                    platform::UIColor::colorWithHue(double(column) / columns, saturation, 1.0, 1.0);
                line[x] = qRgb(int(c.red() * 255 + 0.5), int(c.green() * 255 + 0.5),
                               int(c.blue() * 255 + 0.5));
            }
        }
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PerPixelColorMap)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BrightnessChange(benchmark::State &state) {
    UIScreen::mainScreen().setScale(kScale);
    auto map = QVColorMapView::colorMapWithFrame({{0, 0}, kMapSize}, kLimit);
    map->setTileSize(kTile);
    map->layoutIfNeeded();
    const bool shown = platform::testing::spinUntil(
        [&] {
            if (map->isShown())
                return true;
            map->waitForRendering();
            return false;
        },
        std::chrono::seconds(10));
    if (!shown) {
        state.SkipWithError("the map was not rendered");
        return;
    }
    const auto contents = map->colorMapLayer()->contents();
    double brightness = 0.4;
    for (auto _ : state) {
        map->setBrightness(brightness);
        brightness = brightness > 0.9 ? 0.4 : brightness + 0.01;
    }
    if (map->colorMapLayer()->contents() != contents)
        state.SkipWithError("a brightness change re-rendered the map");
}
BENCHMARK(BM_BrightnessChange)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter({{"BM_ColorMapImage", "BM_PerPixelColorMap", 0.1},
                            {"BM_ColorMapImages", "BM_PerPixelColorMap", 0.1},
                            {"BM_ColorMapTiles", "BM_PerPixelColorMap", 0.1}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto figure = [&](const char *name, double goalMicroseconds) {
        const double us = reporter.microseconds(name);
        if (us < 0)
            return;
        std::printf("%s: %.6f ms", name, us / 1000);
        if (goalMicroseconds > 0)
            std::printf(" (goal <= %.1f ms) %s", goalMicroseconds / 1000,
                        us <= goalMicroseconds ? "met" : "NOT MET");
        std::printf("\n");
    };
    figure("BM_ColorMapImages", 5000);
    figure("BM_ColorMapImagesFreshMemory", 0);
    figure("BM_BrightnessChange", 200);
    benchmark::Shutdown();
    return 0;
}
