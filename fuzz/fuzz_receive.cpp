// The receive path of the match server client on arbitrary bytes: frame cutting, the assembler's
// skipping of dropped frames, and the dispatch into the catalogue and the hosts, with no server
// socket involved.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/UserNotice.h"
#include "server/CFrameAssembler.h"
#include "server/CMatchServerClient.h"
#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/ClientTestAccess.h"

namespace
{

class CDiscardNotice final : public velt::IUserNotice
{
public:
    void Notify(std::string_view) override {}
};

// UDP port 9, the discard service: announcements of fuzzed hosts go nowhere.
constexpr std::uint16_t kDiscardPort = 9;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Piece sizes for feeding the assembler, varied from one seed byte so that frames are cut at
// different places on different inputs.
std::size_t NextPiece(std::uint32_t& state)
{
    state = state * 1103515245u + 12345u;
    const std::uint32_t kind = (state >> 16) % 4;
    if (kind == 0)
        return 1;
    if (kind == 1)
        return 1 + (state >> 20) % 8;
    if (kind == 2)
        return 1 + (state >> 18) % 2100;
    return velt::CFrameAssembler::kCapacity;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::uint32_t state = data[0];
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    const velt::FrameCut cut = velt::CutFrame(stream);
    if (cut.m_status == velt::FrameStatus::kFrame && !cut.m_discard)
    {
        Check(cut.m_frameSize <= stream.size());
        Check(!cut.m_body.empty() && cut.m_body.size() <= velt::kMaxFrameLength);
        Check(cut.m_body.data() == stream.data() + velt::kFrameLengthBytes);
    }

    // Headers create hosts: on free ports, announcing to the discard port, and without the
    // pause after an empty chunk.
    CDiscardNotice notices;
    velt::CMatchServerClient client(notices, velt::LocalPortSettings{kDiscardPort, 0});
    velt::HostTimings timings;
    timings.m_emptyChunkHoldMs = 0;
    timings.m_stopWaitMs = 10;
    client.SetHostTimings(timings);
    velt::CFrameAssembler assembler;
    std::size_t fed = 0;
    while (fed < stream.size() && !assembler.Broken())
    {
        const auto space = assembler.FreeSpace();
        Check(!space.empty());
        const std::size_t count = std::min({space.size(), NextPiece(state), stream.size() - fed});
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(fed), count, space.begin());
        assembler.Commit(count);
        fed += count;
        while (auto body = assembler.Next())
        {
            Check(!body->empty() && body->size() <= velt::kMaxFrameLength);
            const auto payload = body->subspan(1);
            (void)velt::ParseGameDataChunk(payload);
            (void)velt::ParseReplayHeaderReply(payload);
            if (const auto record = velt::ParseMatchRecord(payload))
                Check(velt::MatchRecordExtent(payload) == payload.size());
            velt::ClientTestAccess::Connection(client).DispatchFrame(*body);
        }
    }
    for (const velt::CatalogueEntry& entry : client.CatalogueSnapshot())
    {
        Check(entry.m_info.m_lengthText == velt::LengthText(entry.m_info.m_length));
        (void)velt::RatingText(entry.m_stats);
        (void)velt::StatusText(entry.m_info.m_status);
    }
    return 0;
}
