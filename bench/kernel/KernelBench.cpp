// The in-place block transform against memcpy of the same buffer, in one run.
// Goal: the transform moves at least 1.5 times as many bytes per second as memcpy.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Keystream.h"

namespace {

constexpr std::size_t kBufferSize = std::size_t{256} << 20;
constexpr std::size_t kNaiveSize = std::size_t{16} << 20;

std::vector<std::uint8_t> FilledBuffer(std::size_t size) {
    std::vector<std::uint8_t> buffer(size);
    for (std::size_t i = 0; i < size; ++i) {
        buffer[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    return buffer;
}

void Memcpy(benchmark::State& state) {
    const std::vector<std::uint8_t> source = FilledBuffer(kBufferSize);
    std::vector<std::uint8_t> target(kBufferSize, 1);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), kBufferSize);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBufferSize));
}

void TransformInPlace(benchmark::State& state) {
    const kestrove::KeystreamTable table(static_cast<std::uint32_t>(state.range(0)));
    std::vector<std::uint8_t> data = FilledBuffer(kBufferSize);
    for (auto _ : state) {
        table.Apply(kestrove::Direction::Encrypt, data.data(), data.size(), 1);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBufferSize));
}

// The per-byte formula with its three remainders, for scale (on a smaller buffer: it is slow).
void NaivePerByte(benchmark::State& state) {
    const auto key = static_cast<std::uint64_t>(state.range(0));
    std::vector<std::uint8_t> data = FilledBuffer(kNaiveSize);
    for (auto _ : state) {
        for (std::size_t j = 0; j < data.size(); ++j) {
            const std::uint64_t i = j + 1;
            data[j] = static_cast<std::uint8_t>(data[j] + ((i + 2) % key) * ((i + 1) % key) % key);
        }
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kNaiveSize));
}

BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(TransformInPlace)->Arg(10)->Arg(97)->Arg(165)->Unit(benchmark::kMillisecond);
BENCHMARK(NaivePerByte)->Arg(97)->Unit(benchmark::kMillisecond);

// Prints the usual table, then each result's speed relative to memcpy.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions, the median stands for the benchmark.
            const bool usable =
                run.run_type == Run::RT_Iteration ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median");
            const auto bytes = run.counters.find("bytes_per_second");
            if (usable && !run.error_occurred && bytes != run.counters.end()) {
                m_speeds[run.run_name.str()] = bytes->second.value;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto memcpySpeed = m_speeds.find("Memcpy");
        if (memcpySpeed == m_speeds.end() || memcpySpeed->second <= 0) {
            return;
        }
        for (const auto& [name, speed] : m_speeds) {
            std::printf("%-24s %6.3fx memcpy\n", name.c_str(), speed / memcpySpeed->second);
        }
    }

  private:
    std::map<std::string, double> m_speeds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
