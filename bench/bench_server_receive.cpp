// The match server client's receive side: cutting and dispatching frames from a buffer, and a
// whole list exchange over loopback against the scripted server.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string_view>

#include "platform/Socket.h"
#include "server/CFrameAssembler.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tests/doubles/ClientTestAccess.h"

namespace
{

using Bytes = std::vector<std::uint8_t>;

class CDiscardNotice final : public velt::IUserNotice
{
public:
    void Notify(std::string_view) override {}
};

velt::CMatchInfo Match(std::uint32_t id)
{
    velt::CMatchInfo info;
    info.m_matchId = id;
    info.m_matchName = "Match number " + std::to_string(id);
    info.m_streamer = "velt";
    info.m_playersInfo = "Player One (Orc) vs Player Two (Night Elf)";
    info.m_mapPath = "Maps\\FrozenThrone\\(4)TwistedMeadows.w3x";
    info.m_length = id * 7;
    info.m_startTime = "2009-05-01 20:15";
    return info;
}

std::vector<Bytes> ListFrames(std::uint32_t matches)
{
    std::vector<Bytes> frames;
    for (std::uint32_t id = 0; id < matches; ++id)
    {
        frames.push_back(velt::BuildMatchRecord(Match(id)));
        frames.push_back(velt::BuildMatchStats({id, 3, 9, id, 0}));
    }
    return frames;
}

// Frames handed to the assembler in 1460-byte pieces (one TCP segment's payload) and
// dispatched into a client's tables.
void BM_AssembleAndDispatch(benchmark::State& state)
{
    Bytes stream;
    for (const Bytes& frame : ListFrames(static_cast<std::uint32_t>(state.range(0))))
        stream.insert(stream.end(), frame.begin(), frame.end());
    CDiscardNotice notices;
    velt::CMatchServerClient client(notices);
    for (auto _ : state)
    {
        velt::CFrameAssembler assembler;
        std::size_t fed = 0;
        while (fed < stream.size())
        {
            const auto space = assembler.FreeSpace();
            const std::size_t count =
                std::min({space.size(), std::size_t{1460}, stream.size() - fed});
            std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(fed), count, space.begin());
            assembler.Commit(count);
            fed += count;
            while (auto body = assembler.Next())
                velt::ClientTestAccess::Connection(client).DispatchFrame(*body);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_AssembleAndDispatch)->Arg(100)->Arg(1000);

// Request, records and statistics, list end: the wait a viewer sees after Connect.
void BM_FetchMatchListOverLoopback(benchmark::State& state)
{
    velt::SocketLayerStart();
    velt::CScriptedMatchServer server;
    if (!server.Start())
    {
        state.SkipWithError("server did not start");
        return;
    }
    velt::CScriptedMatchServer::ListScript script;
    script.m_frames = ListFrames(static_cast<std::uint32_t>(state.range(0)));
    script.m_coalesce = true;
    server.SetListScript(script);
    CDiscardNotice notices;
    velt::CMatchServerClient client(notices);
    if (!client.Connect("127.0.0.1", server.Port()))
    {
        state.SkipWithError("client did not connect");
        return;
    }
    for (auto _ : state)
    {
        if (client.FetchMatchList(10000) != velt::CMatchServerClient::ListOutcome::kListEnd)
        {
            state.SkipWithError("list did not end");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FetchMatchListOverLoopback)->Arg(10)->Arg(500)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
