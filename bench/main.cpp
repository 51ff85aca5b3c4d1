// Benchmark entry: runs every registered benchmark with the console output,
// then prints each one's real time as a ratio to CopyFloor of the same run,
// and the ratios the parallel work aims at, each against its limit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

/// A benchmark's name without the timing suffix Google Benchmark appends.
std::string Plain(std::string name)
{
    for (const char* suffix : {"/real_time", "/manual_time"}) {
        const std::string tail(suffix);
        if (name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0) {
            name.erase(name.size() - tail.size());
        }
    }
    return name;
}

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
            const auto ratio = run.counters.find("fresh/copied");
            Record(Plain(run.run_name.str()), seconds, ratio != run.counters.end() ? ratio->second.value : 0.0, median);
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double floor = Time("CopyFloor");
        if (floor > 0.0) {
            std::printf("\n%-60s %12s %10s\n", "benchmark", "ms", "x floor");
            for (const Entry& e : m_entries) {
                std::printf("%-60s %12.2f %10.2f\n", e.name.c_str(), e.seconds * 1e3, e.seconds / floor);
            }
        }
        PrintTargets();
    }

private:
    struct Entry {
        std::string name;
        double seconds;
        double ratio;  // the fresh/copied counter, 0 for none
    };

    void Record(const std::string& name, double seconds, double ratio, bool median)
    {
        for (Entry& e : m_entries) {
            if (e.name == name) {
                if (median) {
                    e = Entry{name, seconds, ratio};
                }
                return;
            }
        }
        m_entries.push_back(Entry{name, seconds, ratio});
    }

    const Entry* Find(const std::string& name) const
    {
        for (const Entry& e : m_entries) {
            if (e.name == name) {
                return &e;
            }
        }
        return nullptr;
    }

    double Time(const std::string& name) const
    {
        const Entry* e = Find(name);
        return e ? e->seconds : 0.0;
    }

    // One line of the targets: `value` against `limit`, at least or at most.
    static void Target(const std::string& what, double value, double limit, bool atLeast)
    {
        if (value <= 0.0) {
            return;
        }
        const bool met = atLeast ? value >= limit : value <= limit;
        std::printf("%-62s %7.2f  %s %.2f  %s\n", what.c_str(), value, atLeast ? ">=" : "<=", limit,
                    met ? "met" : "MISSED");
    }

    // The targets of the parallel work, from this run's medians; lines whose
    // benchmarks did not run are left out.
    void PrintTargets() const
    {
        std::printf("\n%-62s %7s  %s\n", "target", "ratio", "limit");
        for (const Entry& e : m_entries) {  // parallel speed-up: serial / parallel
            const std::size_t at = e.name.find("serial:0");
            if (at == std::string::npos) {
                continue;
            }
            const std::string serial = e.name.substr(0, at) + "serial:1" + e.name.substr(at + 8);
            const double t = Time(serial);
            std::string shown = e.name.substr(0, at);
            if (!shown.empty() && shown.back() == '/') {
                shown.pop_back();
            }
            Target(shown + e.name.substr(at + 8) + " serial / parallel", t > 0.0 ? t / e.seconds : 0.0, 1.6, true);
        }
        const auto ratio = [this](const std::string& a, const std::string& b) {
            const double ta = Time(a);
            const double tb = Time(b);
            return ta > 0.0 && tb > 0.0 ? ta / tb : 0.0;
        };
        Target("HistogramRGB serial / parallel", ratio("HistogramRGBSerial", "HistogramRGB"), 1.6, true);
        for (const char* levels : {"AutoLevelNormal", "AutoLevelMean", "AutoLevelMedian"}) {
            const std::string name = std::string(levels) + "/serial:0";
            Target(name + " / CopyFloor", ratio(name, "CopyFloor"), 2.5, false);
        }
        Target("FocusDo / OpenCV Gaussian pair", ratio("FocusDo/serial:0", "OpenCvGaussianPairDefaultThreads"), 0.25,
               false);
        for (const char* what : {"FreshAgainstCopied/bilinear:0", "FreshAgainstCopied/bilinear:1"}) {
            const Entry* e = Find(what);
            Target(std::string(what) + " fresh / copied", e ? e->ratio : 0.0, 1.1, false);
        }
        for (const char* size : {"500", "1500"}) {
            const std::string s(size);
            Target("Bilinear " + s + " per mille / cv::resize",
                   ratio("ResolutionBilinearReuse/permille:" + s + "/serial:0", "OpenCvLinear/" + s + "/0/0"), 1.0,
                   false);
            Target("Bicubic " + s + " per mille / cv::resize",
                   ratio("ResolutionBicubicReuse/permille:" + s + "/serial:0", "OpenCvCubic/" + s + "/0/0"), 1.0,
                   false);
        }
    }

    std::vector<Entry> m_entries;
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
