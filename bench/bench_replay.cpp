// Reading each sample replay from memory: header, inflation, lobby, records and action counts.
// Throughput is given in decompressed bytes. The samples come from VELT_REPLAYS_DIR.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "bench/SampleReplays.h"
#include "tools/replay/ReplayReader.h"

namespace
{

std::vector<std::uint8_t> Load(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ReadSample(benchmark::State& state, const std::vector<std::uint8_t>& file,
                const std::string& name)
{
    std::uint32_t decompressed = 0;
    for (auto _ : state)
    {
        auto result = velt::ReadReplayFromMemory(file, name);
        if (!result.m_replay)
        {
            state.SkipWithError(result.m_error.Text().c_str());
            return;
        }
        decompressed = result.m_replay->m_header.m_decompressedSize;
        benchmark::DoNotOptimize(result.m_replay->m_timeSlots.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * decompressed);
    state.counters["file_kB"] = static_cast<double>(file.size()) / 1000.0;
    state.counters["data_kB"] = decompressed / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const auto found = velt::bench::SampleReplayPaths();
    if (!found)
        return 1;
    const std::vector<std::filesystem::path>& paths = *found;
    // The files live as long as main; the benchmarks only borrow them.
    std::vector<std::vector<std::uint8_t>> files;
    files.reserve(paths.size());
    for (const auto& path : paths)
    {
        files.push_back(Load(path));
        const std::string name = path.filename().string();
        benchmark::RegisterBenchmark(("ReadReplay/" + path.stem().string()).c_str(), ReadSample,
                                     std::cref(files.back()), name)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
