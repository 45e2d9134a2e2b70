// The match list with 10,000 matches, offscreen: one FillMatchList (clear, insert, colour, sort by
// start time, one repaint) and one header-click sort. Goal: under 0.5 s each.
#include "browser/CVELTListView.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/CScriptedMatchServer.h"

#include <QApplication>
#include <QHeaderView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

namespace
{

using namespace velt;

constexpr std::uint32_t kMatches = 10000;
constexpr std::uint32_t kFetchDeadlineMs = 60000;

// A server with 10,000 matches, a client that fetched them, and a shown list view.
struct ListBench
{
    CRecordingNotice m_notices;
    CScriptedMatchServer m_server;
    CMatchServerClient m_client{m_notices};
    CVELTListView m_view;

    bool Prepare()
    {
        CScriptedMatchServer::ListScript script;
        for (std::uint32_t id = 1; id <= kMatches; ++id)
        {
            CMatchInfo info;
            info.m_matchId = id;
            info.m_matchName = "Match " + std::to_string((id * 7919) % kMatches);
            info.m_streamer = "caster" + std::to_string(id % 37);
            info.m_playersInfo =
                "Player" + std::to_string(id % 101) + " vs Player" + std::to_string(id % 89);
            info.m_mapPath =
                "Maps\\(" + std::to_string(2 + id % 6) + ")Map" + std::to_string(id % 50) + ".w3x";
            info.m_length = (id * 37) % 5400;
            info.m_status = static_cast<std::uint8_t>(id % 3);
            char start[32];
            std::snprintf(start, sizeof start, "2009-%02u-%02u %02u:%02u", 1 + id % 12, 1 + id % 28,
                          id % 24, (id * 13) % 60);
            info.m_startTime = start;
            script.m_frames.push_back(BuildMatchRecord(info));
            if (id % 4 != 0)
                script.m_frames.push_back(
                    BuildMatchStats(MatchStats{id % 500, id % 9, (id % 9) * 4, id, 0}));
        }
        m_server.SetListScript(std::move(script));
        if (!m_server.Start() || !m_client.Connect("127.0.0.1", m_server.Port()))
            return false;
        if (m_client.FetchMatchList(kFetchDeadlineMs) != CMatchServerClient::ListOutcome::kListEnd)
            return false;
        m_view.OnInitialUpdate();
        m_view.SetClient(&m_client);
        m_view.resize(900, 600);
        m_view.show();
        QApplication::processEvents();
        return true;
    }
};

ListBench* g_bench = nullptr;

void BM_FillMatchList(benchmark::State& state)
{
    for (auto _ : state)
        g_bench->m_view.FillMatchList();
    state.counters["rows"] = g_bench->m_view.List().GetItemCount();
}
BENCHMARK(BM_FillMatchList)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_HeaderClickSort(benchmark::State& state)
{
    const int column = static_cast<int>(state.range(0));
    g_bench->m_view.FillMatchList();
    CSortableListCtrl& list = g_bench->m_view.List();
    for (auto _ : state)
    {
        emit list.header()->sectionClicked(column);
        list.viewport()->repaint();
    }
}
// Match Name (text), Start Time (dates), Visits (numbers).
BENCHMARK(BM_HeaderClickSort)->Arg(0)->Arg(4)->Arg(7)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    auto bench = std::make_unique<ListBench>();
    if (!bench->Prepare())
    {
        std::fprintf(stderr, "bench_list: could not fetch the matches from the scripted server\n");
        return 1;
    }
    g_bench = bench.get();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_bench = nullptr;
    bench->m_server.Stop();
    return 0;
}
