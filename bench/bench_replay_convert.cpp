// Reading each sample replay and converting it into the match that velt-matchd serves (slot
// table, stream of game packets, replay header, catalogue record). ReadAndConvert/<sample>
// starts from the file's bytes in memory; Convert/<sample> from the replay already read.
// Throughput is given in decompressed bytes of the file. The samples come from VELT_REPLAYS_DIR.
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
#include "tools/matchd/ReplayConversion.h"
#include "tools/replay/ReplayReader.h"

namespace
{

struct Sample
{
    std::string m_name;
    std::vector<std::uint8_t> m_file;
    velt::ReplayFile m_replay;
};

std::vector<std::uint8_t> Load(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Count(benchmark::State& state, const Sample& sample, std::size_t streamSize)
{
    const std::uint32_t decompressed = sample.m_replay.m_header.m_decompressedSize;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * decompressed);
    state.counters["data_kB"] = decompressed / 1000.0;
    state.counters["stream_kB"] = static_cast<double>(streamSize) / 1000.0;
}

void ReadAndConvert(benchmark::State& state, const Sample& sample)
{
    std::size_t streamSize = 0;
    for (auto _ : state)
    {
        auto read = velt::ReadReplayFromMemory(sample.m_file, sample.m_name);
        if (!read.m_replay)
        {
            state.SkipWithError(read.m_error.Text().c_str());
            return;
        }
        auto conversion = velt::ConvertReplay(*read.m_replay, {1, "", false});
        if (!conversion.m_match)
        {
            state.SkipWithError(conversion.m_error.c_str());
            return;
        }
        streamSize = conversion.m_match->m_stream.size();
        benchmark::DoNotOptimize(conversion.m_match->m_stream.data());
    }
    Count(state, sample, streamSize);
}

void Convert(benchmark::State& state, const Sample& sample)
{
    std::size_t streamSize = 0;
    for (auto _ : state)
    {
        auto conversion = velt::ConvertReplay(sample.m_replay, {1, "", false});
        if (!conversion.m_match)
        {
            state.SkipWithError(conversion.m_error.c_str());
            return;
        }
        streamSize = conversion.m_match->m_stream.size();
        benchmark::DoNotOptimize(conversion.m_match->m_stream.data());
    }
    Count(state, sample, streamSize);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const auto found = velt::bench::SampleReplayPaths();
    if (!found)
        return 1;
    const std::vector<std::filesystem::path>& paths = *found;
    // The samples live as long as main; the benchmarks only borrow them.
    std::vector<Sample> samples;
    samples.reserve(paths.size());
    for (const auto& path : paths)
    {
        Sample sample{path.filename().string(), Load(path), {}};
        auto read = velt::ReadReplayFromMemory(sample.m_file, sample.m_name);
        if (!read.m_replay)
        {
            std::fprintf(stderr, "%s\n", read.m_error.Text().c_str());
            continue;
        }
        sample.m_replay = std::move(*read.m_replay);
        samples.push_back(std::move(sample));
    }
    for (const Sample& sample : samples)
    {
        const std::string stem = std::filesystem::path(sample.m_name).stem().string();
        benchmark::RegisterBenchmark(("ReadAndConvert/" + stem).c_str(), ReadAndConvert,
                                     std::cref(sample))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Convert/" + stem).c_str(), Convert, std::cref(sample))
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
