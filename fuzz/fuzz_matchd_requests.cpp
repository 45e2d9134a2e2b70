// Whatever bytes a client sends, the stand-in match server cuts and answers them without
// reading past them, and every answer is a whole frame that the client's framing accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "platform/Clock.h"
#include "server/Framing.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CRequestHandler.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace
{

using namespace velt;

// Half-way through the live match, so that its edge, the completed match and the end marker
// are all in reach.
class CFixedClock final : public IClock
{
public:
    std::uint64_t NowMs() override { return m_calls++ == 0 ? 0 : 100000; }
    void SleepMs(std::uint32_t) override {}

private:
    std::uint64_t m_calls = 0;
};

struct Server
{
    CFixedClock m_clock;
    CStatsStore m_stats;
    std::unique_ptr<CMatchArchive> m_archive;
    std::unique_ptr<CRequestHandler> m_handler;

    Server()
    {
        m_stats.Open("");
        SyntheticSettings synthetic;
        synthetic.m_count = 2;
        synthetic.m_liveCount = 1;
        synthetic.m_minSeconds = 200;
        synthetic.m_maxSeconds = 200;
        m_archive = std::make_unique<CMatchArchive>(GenerateSyntheticMatches(synthetic), m_clock);
        m_handler =
            std::make_unique<CRequestHandler>(*m_archive, m_stats, std::vector<std::uint32_t>{1});
    }
};

void CheckFrames(std::span<const std::uint8_t> answer)
{
    while (!answer.empty())
    {
        const FrameCut cut = CutFrame(answer);
        if (cut.m_status != FrameStatus::kFrame || cut.m_discard || cut.m_frameSize > answer.size())
            std::abort();
        answer = answer.subspan(cut.m_frameSize);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Server server;
    std::span<const std::uint8_t> rest(data, size);
    std::vector<std::uint8_t> answer;
    for (;;)
    {
        const RequestCut cut = CutRequest(rest);
        if (cut.m_kind != RequestCut::Kind::kRequest)
            break;
        if (cut.m_size > rest.size() || cut.m_body.size() + 4 != cut.m_size)
            std::abort();
        answer.clear();
        if (!server.m_handler->Handle(cut.m_body, answer))
            break;
        CheckFrames(answer);
        rest = rest.subspan(cut.m_size);
    }
    return 0;
}
