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
        // One time per benchmark: the median of repetitions when there are
        // any, else the (last) plain run.
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median) {
                continue;
            }
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            Record(run.run_name.str(), seconds, median);
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
    void Record(const std::string& name, double seconds, bool median)
    {
        for (auto& [known, time] : m_times) {
            if (known == name) {
                if (median) {
                    time = seconds;
                }
                return;
            }
        }
        m_times.emplace_back(name, seconds);
    }

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
