// Benchmark entry: runs every registered benchmark with the console output,
// then prints each one's real time as a ratio to CopyFloor of the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            m_times.emplace_back(run.benchmark_name(), seconds);
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        double floor = 0.0;
        for (const auto& [name, seconds] : m_times) {
            if (name.rfind("CopyFloor", 0) == 0) {
                floor = seconds;
            }
        }
        if (floor <= 0.0) {
            return;
        }
        std::printf("\n%-60s %12s %10s\n", "benchmark", "ms", "x floor");
        for (const auto& [name, seconds] : m_times) {
            std::printf("%-60s %12.2f %10.2f\n", name.c_str(), seconds * 1e3, seconds / floor);
        }
    }

private:
    std::vector<std::pair<std::string, double>> m_times;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
