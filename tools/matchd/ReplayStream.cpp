#include "tools/matchd/ReplayStream.h"

#include <algorithm>
#include <span>

#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "platform/ByteReader.h"
#include "tools/matchd/SyntheticStream.h"
#include "tools/replay/CActionTally.h"
#include "tools/w3gs/TimeSlotChecksum.h"

namespace velt
{

namespace
{

constexpr std::uint8_t kActionMapPing = 0x68;
constexpr std::uint8_t kActionHeroSkill = 0x66;
constexpr std::size_t kMapPingSize = 13;     // id, x, y, duration
constexpr std::size_t kBlockHeadSize = 3;    // player id, u16 length
constexpr std::size_t kTimeSlotHeadSize = 8; // head, interval, checksum
constexpr std::uint32_t kMaxInterval = 0xFFFF;
constexpr std::uint8_t kChatFlagLobby = 0x10;
constexpr std::uint8_t kChatFlagInGame = 0x20;
constexpr std::uint32_t kChatModeAll = 0;
constexpr std::uint32_t kChatModeAllies = 1;
constexpr std::uint32_t kChatModeObservers = 2;
constexpr std::uint32_t kChatModePrivate = 3; // 3 + slot number

// A command block as served: the served player id and (part of) the recorded actions.
struct Piece
{
    std::uint8_t m_playerId = 0;
    std::span<const std::uint8_t> m_actions;
};

class CStreamWriter
{
public:
    CStreamWriter(const ReplayFile& replay, const ReplaySeating& seating, std::string& error)
        : m_replay(replay), m_seating(seating), m_error(error)
    {
        const ActionLayout layout =
            ActionLayout::For(replay.m_header, replay.m_lobby.m_post202Format);
        // Before 1.07 the ping was stored one lower, and 0x68 meant something else.
        m_pingsKnown = !layout.m_menuIdsLower;
        m_out.m_bytes.reserve(replay.m_commandData.size() +
                              replay.m_timeSlots.size() * kTimeSlotHeadSize + 4096);
        m_out.m_marks.reserve(replay.m_timeSlots.size());
    }

    std::optional<ReplayStream> Write()
    {
        std::size_t chat = 0;
        std::size_t leave = 0;
        const auto& slots = m_replay.m_timeSlots;
        if (!Between(0, chat, leave))
            return std::nullopt;
        for (std::size_t i = 0; i < slots.size(); ++i)
        {
            if (!TimeSlot(slots[i]) || !Between(static_cast<std::uint32_t>(i + 1), chat, leave))
                return std::nullopt;
            m_out.m_marks.push_back(
                {slots[i].m_timeMs, static_cast<std::uint32_t>(m_out.m_bytes.size())});
        }
        if (slots.empty())
            m_out.m_marks.push_back({0, static_cast<std::uint32_t>(m_out.m_bytes.size())});
        if (m_out.m_bytes.size() > kMaxStreamSize)
            return Fail("the stream of " + std::to_string(m_out.m_bytes.size()) +
                        " bytes does not fit the client's buffer");
        m_out.m_durationMs = m_replay.m_durationMs;
        return std::move(m_out);
    }

private:
    std::nullopt_t Fail(std::string message)
    {
        m_error = std::move(message);
        return std::nullopt;
    }

    bool Append(const std::vector<std::uint8_t>& packet, const char* what)
    {
        if (packet.empty())
        {
            m_error = std::string("a ") + what + " does not fit its packet";
            return false;
        }
        m_out.m_bytes.insert(m_out.m_bytes.end(), packet.begin(), packet.end());
        return true;
    }

    // The chat lines, then the leaves, recorded before time slot number afterSlot.
    bool Between(std::uint32_t afterSlot, std::size_t& chat, std::size_t& leave)
    {
        const auto& chats = m_replay.m_chat;
        for (; chat < chats.size() && chats[chat].m_afterSlot <= afterSlot; ++chat)
            if (!Chat(chats[chat]))
                return false;
        const auto& leaves = m_replay.m_leaves;
        for (; leave < leaves.size() && leaves[leave].m_afterSlot <= afterSlot; ++leave)
            if (!Leave(leaves[leave]))
                return false;
        return true;
    }

    bool IsObserverPing(const Piece& piece) const
    {
        if (!m_pingsKnown || piece.m_actions.size() < kMapPingSize ||
            piece.m_actions[0] != kActionMapPing)
            return false;
        const ServedParticipant* who = m_seating.ParticipantByServedId(piece.m_playerId);
        return who != nullptr && who->m_observer;
    }

    bool TimeSlot(const ReplayTimeSlot& slot)
    {
        std::vector<Piece> pieces;
        std::vector<Piece> pings;
        CByteReader reader(m_replay.CommandBytes(slot));
        while (reader.Ok() && !reader.AtEnd())
        {
            const std::uint8_t recordedId = reader.U8();
            const std::uint16_t length = reader.U16();
            const auto actions = reader.Bytes(length);
            const auto servedId = m_seating.ServedId(recordedId);
            if (!reader.Ok() || !servedId)
                continue;
            Piece piece{*servedId, actions};
            // Pings at the start of an observer's block are cut off it one by one.
            bool cut = false;
            while (IsObserverPing(piece))
            {
                pings.push_back({piece.m_playerId, piece.m_actions.first(kMapPingSize)});
                piece.m_actions = piece.m_actions.subspan(kMapPingSize);
                cut = true;
            }
            if (!cut || !piece.m_actions.empty())
                pieces.push_back(piece);
        }
        // A slot that starts with a hero skill keeps its own notice; its pings follow it.
        const bool firstTaken = !pieces.empty() && !pieces.front().m_actions.empty() &&
                                pieces.front().m_actions[0] == kActionHeroSkill;
        std::size_t carried = 0;
        if (!pings.empty() && !firstTaken)
        {
            pieces.insert(pieces.begin(), pings.front());
            carried = 1;
        }
        ++m_out.m_counts.m_timeSlots;
        m_out.m_counts.m_observerPings += static_cast<std::uint32_t>(pings.size());
        if (!SlotPackets(slot.m_intervalMs, pieces))
            return false;
        for (; carried < pings.size(); ++carried)
        {
            ++m_out.m_counts.m_extraTimeSlots;
            if (!SlotPackets(0, {pings[carried]}))
                return false;
        }
        return true;
    }

    // One 0x0C, or several when the blocks outgrow a packet (all but the last with interval 0)
    // or the interval outgrows its 16 bits (empty slots carry the rest).
    bool SlotPackets(std::uint32_t intervalMs, const std::vector<Piece>& pieces)
    {
        std::size_t next = 0;
        do
        {
            TimeSlotParams params;
            std::size_t size = kTimeSlotHeadSize;
            while (next < pieces.size() &&
                   (params.m_blocks.empty() ||
                    size + kBlockHeadSize + pieces[next].m_actions.size() <= kGamePacketMaxSize))
            {
                const Piece& piece = pieces[next++];
                size += kBlockHeadSize + piece.m_actions.size();
                params.m_blocks.push_back(
                    {piece.m_playerId, {piece.m_actions.begin(), piece.m_actions.end()}});
            }
            if (next == pieces.size())
            {
                params.m_intervalMs =
                    static_cast<std::uint16_t>(std::min(intervalMs, kMaxInterval));
                intervalMs -= params.m_intervalMs;
            }
            else
            {
                params.m_intervalMs = 0;
            }
            if (!Append(BuildTimeSlot(params, TimeSlotChecksum), "time slot"))
                return false;
        } while (next < pieces.size());
        while (intervalMs > 0)
        {
            TimeSlotParams rest;
            rest.m_intervalMs = static_cast<std::uint16_t>(std::min(intervalMs, kMaxInterval));
            intervalMs -= rest.m_intervalMs;
            if (!Append(BuildTimeSlot(rest, TimeSlotChecksum), "time slot"))
                return false;
        }
        return true;
    }

    std::vector<std::uint8_t> Audience(const ReplayChat& chat, std::uint8_t sender,
                                       std::uint32_t& scope) const
    {
        std::vector<std::uint8_t> receivers{kServedViewerId};
        const ServedParticipant* from = m_seating.ParticipantByServedId(sender);
        const auto& everyone = m_seating.m_participants;
        const auto addIf = [&](auto&& match)
        {
            for (const ServedParticipant& entry : everyone)
                if (match(entry))
                    receivers.push_back(entry.m_servedId);
        };
        scope = chat.m_mode;
        if (chat.m_flags != kChatFlagInGame || chat.m_mode == kChatModeAll ||
            (chat.m_mode == kChatModeAllies && from == nullptr))
            addIf([](const ServedParticipant&) { return true; });
        else if (chat.m_mode == kChatModeAllies)
            addIf([&](const ServedParticipant& entry) { return entry.m_team == from->m_team; });
        else if (chat.m_mode == kChatModeObservers)
            addIf([](const ServedParticipant& entry) { return entry.m_observer; });
        else
        {
            // Private to a slot number, which the served table may have moved.
            const std::size_t recordedSlot = chat.m_mode - kChatModePrivate;
            std::int16_t servedSlot = recordedSlot < m_seating.m_servedSlot.size()
                                          ? m_seating.m_servedSlot[recordedSlot]
                                          : kNotServed;
            if (servedSlot == kNotServed)
                servedSlot = m_seating.m_viewerSlot;
            scope = kChatModePrivate + static_cast<std::uint32_t>(servedSlot);
            const SlotRecord& to = m_seating.m_table.m_slots[static_cast<std::size_t>(servedSlot)];
            addIf([&](const ServedParticipant& entry)
                  { return entry.m_servedId == to.m_playerId; });
        }
        std::sort(receivers.begin(), receivers.end());
        receivers.erase(std::unique(receivers.begin(), receivers.end()), receivers.end());
        return receivers;
    }

    bool Chat(const ReplayChat& chat)
    {
        const auto sender = m_seating.ServedId(chat.m_senderId);
        if ((chat.m_flags != kChatFlagLobby && chat.m_flags != kChatFlagInGame) || !sender)
        {
            ++m_out.m_counts.m_chatSkipped;
            return true;
        }
        ChatFromHostParams params;
        params.m_sender = *sender;
        params.m_receivers = Audience(chat, *sender, params.m_scope);
        params.m_kind = chat.m_flags == kChatFlagLobby ? ChatKind::kLobby : ChatKind::kInGame;
        params.m_text = CutUtf8(chat.m_text, kChatTextMaxLength);
        ++m_out.m_counts.m_chat;
        return Append(BuildChatFromHost(params), "chat line");
    }

    bool Leave(const ReplayLeave& leave)
    {
        const auto servedId = m_seating.ServedId(leave.m_playerId);
        if (!servedId || m_seating.ParticipantByServedId(*servedId) == nullptr)
        {
            ++m_out.m_counts.m_leavesSkipped;
            return true;
        }
        ++m_out.m_counts.m_leaves;
        return Append(BuildPlayerLeave({*servedId, leave.m_result}), "leave");
    }

    const ReplayFile& m_replay;
    const ReplaySeating& m_seating;
    std::string& m_error;
    bool m_pingsKnown = true;
    ReplayStream m_out;
};

} // namespace

std::optional<ReplayStream> ConvertReplayStream(const ReplayFile& replay,
                                                const ReplaySeating& seating, std::string& error)
{
    return CStreamWriter(replay, seating, error).Write();
}

} // namespace velt
