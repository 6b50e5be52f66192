#pragma once

#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

// Console output plus, at the end, each measured figure against its same-run baseline.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Ratio {
        std::string measured;
        std::string baseline;
        double goal; // the ratio must stay at or below this; 0 for a ratio that is only shown
    };

    explicit RatioReporter(std::vector<Ratio> ratios) : ratios_(std::move(ratios)) {}

    void ReportRuns(const std::vector<Run> &runs) override;
    void Finalize() override;

    // Real time per iteration in microseconds of a finished benchmark (its median when
    // repeated); negative when it did not run.
    double microseconds(const std::string &name) const;

private:
    std::vector<Ratio> ratios_;
    std::map<std::string, double> perIteration_;
};

// Runs the registered benchmarks with the reporter; returns the process exit status.
int runWithRatios(int argc, char **argv, std::vector<RatioReporter::Ratio> ratios);
