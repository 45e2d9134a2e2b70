#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "host/HostTimings.h"
#include "host/IHostOwner.h"
#include "platform/Clock.h"
#include "platform/Event.h"

namespace velt
{

// A host's copy of its match's game data, filled chunk by chunk from the server, and the one
// data request that may be outstanding for it.
//
// Threads: the server's receive thread appends; the session thread reads the bytes below
// Size() and asks for more. Bytes below Size() are published (release)
// after they are written, and only an answer that brings the next bytes is taken, so bytes
// held are never written again and a reader needs no lock.
//
// The data grows in blocks that never move, allocated as the match grows, so that a long match
// fits and a short one costs only what it holds. Each block also keeps a copy of the next
// block's first kMaxView bytes: any packet, whichever block it starts in, lies whole in one
// place and goes to the game without a copy.
class CStreamBuffer
{
public:
    static constexpr std::uint32_t kCapacity = 64 * 1024 * 1024;
    static constexpr std::uint32_t kFullChunk = kFullChunkSize;
    static constexpr std::uint32_t kBlockSize = 1024 * 1024;
    // The longest view: a game packet's 16-bit length, and one byte more.
    static constexpr std::uint32_t kMaxView = 65536;

    CStreamBuffer(IHostOwner& owner, IClock& clock, const HostTimings& timings)
        : m_owner(owner), m_clock(clock), m_timings(timings)
    {
    }
    CStreamBuffer(const CStreamBuffer&) = delete;
    CStreamBuffer& operator=(const CStreamBuffer&) = delete;

    void SetMatchId(std::uint32_t matchId) { m_matchId.store(matchId); }
    std::uint32_t MatchId() const { return m_matchId.load(); }

    // One answer of the server (the receive thread). Only an answer at the end of the data
    // held counts; any other is ignored. A full chunk chains the request for the next one at
    // once while chaining is on.
    void Append(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length,
                std::uint16_t matchSeconds);
    // Full chunks chain only while a session streams.
    void SetChaining(bool on) { m_chaining.store(on); }
    // A match that is no longer played (its header says so) does not grow: a short answer
    // brings its last bytes.
    void SetMatchFinished(bool finished) { m_finished.store(finished); }
    // Whether the whole match is held: the end marker came, or a finished match's data up to a
    // short answer.
    bool HoldsWholeMatch() const;

    // The game time in the whole time slots held from offset to the end of the data; any
    // thread.
    std::uint32_t GameTimeHeldFrom(std::uint32_t offset) const;
    std::uint32_t Size() const { return m_size.load(std::memory_order_acquire); }
    // length bytes from offset, in one piece: length at most kMaxView, offset + length at most
    // a Size() read before. Reading them needs no lock.
    std::span<const std::uint8_t> View(std::uint32_t offset, std::uint32_t length) const
    {
        if (length == 0)
            return {};
        return {m_blocks[offset / kBlockSize].get() + offset % kBlockSize, length};
    }
    bool Ended() const { return m_ended.load() != 0; }
    // The match's length as the server last reported it, in seconds.
    std::uint16_t MatchSeconds() const { return m_matchSeconds.load(std::memory_order_relaxed); }
    // When an answer last reported the match's length.
    std::uint64_t MatchSecondsAtMs() const { return m_matchSecondsAtMs.load(); }
    void SetMatchSeconds(std::uint16_t seconds) { m_matchSeconds.store(seconds); }
    std::uint32_t AnswersArrived() const { return m_answersArrived.load(); }

    // The feed neared the end of the data; a short or empty answer then means caught up.
    void MarkLowData() { m_lowData.store(1); }
    bool CaughtUp() const { return m_caughtUp.load() != 0; }
    // A new session starts neither low on data nor caught up.
    void ResetProgress();
    // Play was held on purpose and fell behind the live edge: no longer caught up.
    void LeaveLiveEdge() { ResetProgress(); }

    // Requests. At most one is outstanding at any time; one unanswered for the retry time
    // counts as lost.
    void RequestData(std::uint32_t offset);
    // Near the end of the data: only with the permit that the previous answer returned.
    void RequestIfPermitted();
    // While the feed waits for data.
    void RequestWhileWaiting();
    // The server connection was replaced: asks again from the end, unless the stream ended.
    void RequestAgainFromEnd();
    // When, after an empty answer, the server may be asked again.
    std::uint64_t NextRequestAllowedMs();
    // When the latest request went out.
    std::uint64_t LastRequestSentMs();

    // What the answers owe the viewer, taken once by the session thread.
    std::uint32_t TakeEmptyAnswers() { return m_emptyAnswersUntold.exchange(0); }
    bool TakeTooLong() { return m_tooLong.exchange(0) != 0; }

    // Set by every answer.
    CEvent& DataArrived() { return m_dataArrived; }

private:
    static constexpr std::uint32_t kBlocks = kCapacity / kBlockSize;

    // Copies bytes in at offset, into their block and the copy that the block before keeps;
    // false when a block could not be had.
    bool Write(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length);
    // The request slot for the end of the data, when it may be taken now: the offset to ask for.
    std::optional<std::uint32_t> ClaimRequest();
    // Bookkeeping of an answer: the offset to chain a request for, if any.
    std::optional<std::uint32_t> AnswerReceived(std::uint32_t offset, std::uint32_t length);

    IHostOwner& m_owner;
    IClock& m_clock;
    const HostTimings& m_timings;

    // The owner's threads set these; the receive thread and the session read them.
    std::atomic<std::uint32_t> m_matchId{0};
    std::atomic<bool> m_chaining{false}; // the session sets it at its start and end
    std::atomic<bool> m_finished{false};
    // Where the latest short answer ended (0: none yet).
    std::atomic<std::uint32_t> m_shortAnswerEnd{0};
    // Written by the receive thread only, each block before the first Size() that covers it.
    std::array<std::unique_ptr<std::uint8_t[]>, kBlocks> m_blocks;
    // The receive thread writes the answers' facts below; the session thread, the link
    // supervisor and status displays read them (the session also takes the counts it tells).
    std::atomic<std::uint32_t> m_size{0};
    std::atomic<std::uint16_t> m_matchSeconds{0};
    std::atomic<std::uint64_t> m_matchSecondsAtMs{0};
    std::atomic<std::uint32_t> m_ended{0}; // the server marked the end of the stream
    std::atomic<std::uint32_t> m_lowData{0}; // set by the session near the end of the data
    std::atomic<std::uint32_t> m_caughtUp{0}; // a short or empty chunk came while low on data
    std::atomic<std::uint32_t> m_answersArrived{0};
    std::atomic<std::uint32_t> m_emptyAnswersUntold{0};
    std::atomic<std::uint32_t> m_tooLong{0};

    CEvent m_dataArrived{CEvent::Kind::kAutoReset};
    CEvent m_requestPermit{CEvent::Kind::kAutoReset};

    // Guards the request slot below: the session asks, the receive thread chains and answers,
    // the link supervisor asks again after a reconnect.
    std::mutex m_requestMutex;
    bool m_requestOutstanding = false;
    std::uint32_t m_requestedOffset = 0;
    std::uint64_t m_requestSentMs = 0;
    std::uint64_t m_requestNotBeforeMs = 0;
};

} // namespace velt
