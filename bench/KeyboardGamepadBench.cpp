// A keyboard played as a gamepad, per key event: a burst of 1,000 EV_KEY events lies in a pipe
// as the kernel hands them to the keyboard's reader; each is read, translated and its frame
// written as input_events into a second pipe, as the pad's frames go to /dev/uinput. Beside
// it, in the same run, reading the key event alone.
#include "KeyboardGamepad.h"
#include "RatioReporter.h"

#include <linux/input.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBurst = 1000;

// Presses and releases over the default keymap's keys, opposite D-pad keys overlapping.
std::vector<input_event> keyBurst() {
    const std::uint16_t keys[] = {KEY_W, KEY_A, KEY_S, KEY_D, KEY_I, KEY_J,
                                  KEY_K, KEY_L, KEY_2, KEY_8, KEY_ESC};
    std::vector<input_event> events;
    for (int i = 0; events.size() < kBurst; ++i) {
        const std::uint16_t key = keys[i % std::size(keys)];
        const std::uint16_t next = keys[(i + 1) % std::size(keys)];
        events.push_back({{}, EV_KEY, key, 1});
        events.push_back({{}, EV_KEY, next, 1});
        events.push_back({{}, EV_KEY, key, 0});
        events.push_back({{}, EV_KEY, next, 0});
    }
    events.resize(kBurst);
    return events;
}

struct Pipe {
    int read = -1, write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            read = ends[0];
            write = ends[1];
            // Room for a whole burst's frames, so no write waits for the drain.
            ::fcntl(write, F_SETPIPE_SZ, 1 << 20);
        }
    }
    ~Pipe() {
        ::close(read);
        ::close(write);
    }
    bool ok() const { return read >= 0; }
};

// As the pad's frames go to /dev/uinput: the frame's input_events and SYN_REPORT in one write(2).
class PipeSink : public controllerd::GamepadSink {
public:
    explicit PipeSink(int fd) : fd_(fd) { buffer_.reserve(16); }
    void write(const std::vector<controllerd::GamepadEvent> &frame) override {
        buffer_.clear();
        for (const auto &event : frame)
            buffer_.push_back({{}, event.type, event.code, event.value});
        buffer_.push_back({{}, EV_SYN, SYN_REPORT, 0});
        const auto bytes = buffer_.size() * sizeof(input_event);
        failed |= ::write(fd_, buffer_.data(), bytes) != ssize_t(bytes);
    }
    bool failed = false;

private:
    int fd_;
    std::vector<input_event> buffer_;
};

// Per-event times in 1 ns steps up to 100 us, the last step holding everything longer: the
// percentiles of millions of events without keeping each.
class Histogram {
public:
    void add(Clock::duration took) {
        const auto steps = std::chrono::duration_cast<std::chrono::nanoseconds>(took).count();
        ++counts_[std::size_t(std::clamp<std::int64_t>(steps, 0, kSteps - 1))];
        ++total_;
    }
    // Microseconds below which the fraction `p` of the events took; -1 when there are none.
    double percentile(double p) const {
        if (total_ == 0)
            return -1;
        const auto rank = std::uint64_t(p * double(total_));
        std::uint64_t seen = 0;
        for (std::size_t step = 0; step < kSteps; ++step)
            if ((seen += counts_[step]) > rank)
                return (double(step) + 0.5) / 1000;
        return double(kSteps) / 1000;
    }
    std::uint64_t total() const { return total_; }

private:
    static constexpr std::int64_t kSteps = 100000;
    std::vector<std::uint64_t> counts_ = std::vector<std::uint64_t>(kSteps);
    std::uint64_t total_ = 0;
};

std::map<std::string, Histogram> g_times;

bool fill(const Pipe &pipe, const std::vector<input_event> &burst) {
    const auto bytes = burst.size() * sizeof(input_event);
    return ::write(pipe.write, burst.data(), bytes) == ssize_t(bytes);
}

void drain(int fd) {
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    char buffer[1 << 16];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
    ::fcntl(fd, F_SETFL, 0);
}

// Per burst, only the events' own times count: not the burst's filling, nor `afterBurst`.
template <typename PerEvent, typename AfterBurst>
void runBursts(benchmark::State &state, const char *name, const Pipe &keys, PerEvent perEvent,
               AfterBurst afterBurst) {
    const auto burst = keyBurst();
    auto &times = g_times[name];
    for (auto _ : state) {
        if (!fill(keys, burst)) {
            state.SkipWithError("the key events could not be written");
            return;
        }
        Clock::duration total{};
        for (int i = 0; i < kBurst; ++i) {
            const auto start = Clock::now();
            input_event event;
            if (::read(keys.read, &event, sizeof event) != sizeof event) {
                state.SkipWithError("a key event could not be read");
                return;
            }
            perEvent(event);
            const auto took = Clock::now() - start;
            total += took;
            times.add(took);
        }
        state.SetIterationTime(std::chrono::duration<double>(total).count());
        afterBurst();
    }
    state.SetItemsProcessed(state.iterations() * kBurst);
}

void BM_ReadKeyEvent(benchmark::State &state) {
    Pipe keys;
    if (!keys.ok()) {
        state.SkipWithError("no pipe");
        return;
    }
    runBursts(state, "BM_ReadKeyEvent", keys,
              [](const input_event &event) { benchmark::DoNotOptimize(event); }, [] {});
}
BENCHMARK(BM_ReadKeyEvent)->UseManualTime()->Unit(benchmark::kMicrosecond)->Repetitions(3);

void BM_KeyEventToFrame(benchmark::State &state) {
    Pipe keys, pad;
    if (!keys.ok() || !pad.ok()) {
        state.SkipWithError("no pipe");
        return;
    }
    PipeSink sink(pad.write);
    controllerd::KeyboardGamepad gamepad(sink);
    runBursts(
        state, "BM_KeyEventToFrame", keys,
        [&](const input_event &event) {
            if (event.type == EV_KEY)
                gamepad.key(event.code, event.value);
        },
        [&] { drain(pad.read); });
    if (sink.failed)
        state.SkipWithError("a frame could not be written");
}
BENCHMARK(BM_KeyEventToFrame)->UseManualTime()->Unit(benchmark::kMicrosecond)->Repetitions(3);

// The burst's translation alone, into a sink that keeps nothing: the share of the path that is
// not system calls.
void BM_TranslateKeyEvent(benchmark::State &state) {
    struct : controllerd::GamepadSink {
        std::size_t events = 0;
        void write(const std::vector<controllerd::GamepadEvent> &frame) override {
            events += frame.size();
        }
    } sink;
    controllerd::KeyboardGamepad gamepad(sink);
    const auto burst = keyBurst();
    for (auto _ : state)
        for (const input_event &event : burst)
            gamepad.key(event.code, event.value);
    benchmark::DoNotOptimize(sink.events);
    state.SetItemsProcessed(state.iterations() * kBurst);
}
BENCHMARK(BM_TranslateKeyEvent)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter({{"BM_KeyEventToFrame", "BM_ReadKeyEvent", 2.0}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const Histogram &frames = g_times["BM_KeyEventToFrame"];
    const Histogram &reads = g_times["BM_ReadKeyEvent"];
    const double translated = reporter.microseconds("BM_TranslateKeyEvent");
    if (frames.total() && reads.total()) {
        const double ratio = frames.percentile(0.5) / reads.percentile(0.5);
        std::printf("key event -> gamepad frame written: median %.3f us, p99 %.3f us; key event "
                    "read alone: median %.3f us, p99 %.3f us; ratio of medians %.2fx (goal <= "
                    "2.0x) %s; the translation alone %.1f ns a key event\n",
                    frames.percentile(0.5), frames.percentile(0.99), reads.percentile(0.5),
                    reads.percentile(0.99), ratio, ratio <= 2.0 ? "met" : "NOT MET",
                    translated * 1000 / kBurst);
    }
    benchmark::Shutdown();
    return 0;
}
