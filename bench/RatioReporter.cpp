#include "RatioReporter.h"

#include <cstdio>

void RatioReporter::ReportRuns(const std::vector<Run> &runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
        if (run.error_occurred || run.iterations == 0)
            continue;
        const bool aggregate = run.run_type == Run::RT_Aggregate;
        if (aggregate && run.aggregate_name != "median")
            continue;
        const double seconds =
            aggregate ? run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit)
                      : run.real_accumulated_time / static_cast<double>(run.iterations);
        const std::string name = run.run_name.function_name;
        // A median overrides the single repetitions reported before it.
        if (aggregate || !perIteration_.count(name))
            perIteration_[name] = seconds * 1e6;
    }
}

double RatioReporter::microseconds(const std::string &name) const {
    auto it = perIteration_.find(name);
    return it == perIteration_.end() ? -1 : it->second;
}

void RatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    for (const Ratio &ratio : ratios_) {
        const double measured = microseconds(ratio.measured);
        const double baseline = microseconds(ratio.baseline);
        if (measured < 0 || baseline <= 0)
            continue;
        const double value = measured / baseline;
        std::printf("%s: %.1f us; %s: %.1f us; ratio %.3fx", ratio.measured.c_str(), measured,
                    ratio.baseline.c_str(), baseline, value);
        if (ratio.goal > 0)
            std::printf(" (goal <= %.1fx) %s", ratio.goal, value <= ratio.goal ? "met" : "NOT MET");
        std::printf("\n");
    }
}

int runWithRatios(int argc, char **argv, std::vector<RatioReporter::Ratio> ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter(std::move(ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
