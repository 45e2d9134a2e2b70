#include "host/CStreamBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "host/packets/GamePacketFramer.h"
#include "host/packets/PlayPackets.h"

namespace velt
{

void CStreamBuffer::ResetProgress()
{
    m_caughtUp.store(0);
    m_lowData.store(0);
}

void CStreamBuffer::Append(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length,
                           std::uint16_t matchSeconds)
{
    // Only the next bytes of the stream count, as only the latest request's answer counts: a
    // late, duplicate or stray answer is ignored whoever sent it, so the game never gets bytes
    // out of their place and the data held never shrinks.
    const std::uint32_t size = Size();
    if (offset != size || Ended())
        return;
    m_answersArrived.fetch_add(1);
    if (length > kFullChunk)
    {
        m_ended.store(1);
        AnswerReceived(offset, length);
        return;
    }
    if (length > kCapacity - offset || !Write(offset, data, length))
    {
        // The buffer is the limit of a match: refused, and the stream ends here.
        m_tooLong.store(1);
        m_ended.store(1);
        AnswerReceived(offset, kFullChunk + 1);
        m_dataArrived.Set();
        m_requestPermit.Set();
        return;
    }
    if (length == 0)
    {
        if (m_lowData.load())
            m_caughtUp.store(1);
        // Told to the viewer by the session's own thread; this thread never waits.
        m_emptyAnswersUntold.fetch_add(1);
    }
    else
    {
        // Written (above) before it is published; the feed reads below Size() only.
        m_size.store(offset + length, std::memory_order_release);
        m_matchSeconds.store(matchSeconds);
        m_matchSecondsAtMs.store(m_clock.NowMs());
        if (length < kFullChunk && m_lowData.load())
            m_caughtUp.store(1);
    }
    // Full chunks chain without waiting for the feed.
    if (const auto next = AnswerReceived(offset, length))
        m_owner.RequestGameData(m_matchId.load(), *next);
    m_dataArrived.Set();
    m_requestPermit.Set();
}

bool CStreamBuffer::Write(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length)
{
    while (length > 0)
    {
        const std::uint32_t block = offset / kBlockSize;
        const std::uint32_t at = offset % kBlockSize;
        const std::uint32_t piece = std::min(length, kBlockSize - at);
        if (!m_blocks[block])
        {
            // Pages untouched stay unused: a block costs what has been written into it.
            m_blocks[block].reset(new (std::nothrow) std::uint8_t[kBlockSize + kMaxView]);
            if (!m_blocks[block])
                return false;
        }
        std::memcpy(m_blocks[block].get() + at, data, piece);
        if (block > 0 && at < kMaxView)
            std::memcpy(m_blocks[block - 1].get() + kBlockSize + at, data,
                        std::min(piece, kMaxView - at));
        offset += piece;
        data += piece;
        length -= piece;
    }
    return true;
}

std::optional<std::uint32_t> CStreamBuffer::AnswerReceived(std::uint32_t offset,
                                                           std::uint32_t length)
{
    std::lock_guard lock(m_requestMutex);
    const std::uint64_t now = m_clock.NowMs();
    // An answer to a request that a retry has replaced changes nothing: only the latest
    // request's answer chains or frees the slot, so a slow answer never starts a second stream.
    const bool latest = m_requestOutstanding && offset == m_requestedOffset;
    if (length > kFullChunk)
    {
        m_requestOutstanding = false;
        return std::nullopt;
    }
    if (!latest)
        return std::nullopt;
    if (length > 0 && length < kFullChunk)
        m_shortAnswerEnd.store(offset + length);
    if (length == 0)
        m_requestNotBeforeMs = now + m_timings.m_emptyChunkHoldMs;
    if (length == kFullChunk && m_chaining.load())
    {
        // The slot passes straight to the chained request: no moment in which it is free.
        m_requestedOffset = offset + length;
        m_requestSentMs = now;
        return m_requestedOffset;
    }
    m_requestOutstanding = false;
    return std::nullopt;
}

bool CStreamBuffer::HoldsWholeMatch() const
{
    if (Ended())
        return true;
    const std::uint32_t shortEnd = m_shortAnswerEnd.load();
    return m_finished.load() && shortEnd != 0 && shortEnd == Size();
}

void CStreamBuffer::RequestData(std::uint32_t offset)
{
    {
        std::lock_guard lock(m_requestMutex);
        m_requestOutstanding = true;
        m_requestedOffset = offset;
        m_requestSentMs = m_clock.NowMs();
    }
    m_owner.RequestGameData(m_matchId.load(), offset);
}

std::optional<std::uint32_t> CStreamBuffer::ClaimRequest()
{
    std::lock_guard lock(m_requestMutex);
    const std::uint64_t now = m_clock.NowMs();
    // After an empty answer the server is asked again only once the hold is over.
    if (now < m_requestNotBeforeMs)
        return std::nullopt;
    // The request that is outstanding may have been lost (sent while disconnected).
    if (m_requestOutstanding && now - m_requestSentMs < m_timings.m_requestRetryMs)
        return std::nullopt;
    // The end of the data is read under the lock: an answer published just before has chained
    // its request already, and a claim for the offset before it would take the slot from that
    // request, whose answer would then chain nothing.
    m_requestOutstanding = true;
    m_requestedOffset = Size();
    m_requestSentMs = now;
    return m_requestedOffset;
}

std::uint64_t CStreamBuffer::NextRequestAllowedMs()
{
    std::lock_guard lock(m_requestMutex);
    return m_requestNotBeforeMs;
}

std::uint64_t CStreamBuffer::LastRequestSentMs()
{
    std::lock_guard lock(m_requestMutex);
    return m_requestSentMs;
}

void CStreamBuffer::RequestIfPermitted()
{
    // An ended stream is held whole: the server has nothing more to tell.
    if (Ended() || !m_requestPermit.TryConsume())
        return;
    if (const auto offset = ClaimRequest())
        m_owner.RequestGameData(m_matchId.load(), *offset);
}

void CStreamBuffer::RequestWhileWaiting()
{
    m_requestPermit.TryConsume();
    if (Ended())
        return;
    if (const auto offset = ClaimRequest())
        m_owner.RequestGameData(m_matchId.load(), *offset);
}

void CStreamBuffer::RequestAgainFromEnd()
{
    if (!Ended())
        RequestData(Size());
}

std::uint32_t CStreamBuffer::GameTimeHeldFrom(std::uint32_t offset) const
{
    const std::uint32_t size = Size();
    std::uint64_t held = 0;
    for (std::uint32_t pos = std::min(offset, size); pos < size;)
    {
        const auto rest = View(pos, std::min(size - pos, kMaxView));
        const GameFrame frame = FrameStreamPacket(rest);
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
            break;
        const auto packet = rest.first(frame.m_length);
        if (frame.m_kind == GameFrame::Kind::kWhole &&
            HasGamePacketType(packet, GamePacketType::kIncomingAction))
            held += ReadTimeSlot(packet).m_intervalMs;
        pos += static_cast<std::uint32_t>(frame.m_length);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(held, UINT32_MAX));
}

} // namespace velt
