#include "server/Framing.h"
#include "server/CFrameAssembler.h"

#include <gtest/gtest.h>

#include "FrameBytes.h"

#include <algorithm>
#include <vector>

namespace velt
{
namespace
{

using test::Bytes;
using test::Concat;
using test::LengthField;

Bytes Payload(std::size_t size, std::uint8_t seed)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>(seed + i);
    return out;
}

TEST(CutFrameTest, EveryTruncationOfAFrameNeedsMore)
{
    for (std::size_t payloadSize : {0u, 1u, 20u, 2047u})
    {
        const Bytes payload = Payload(payloadSize, 7);
        const Bytes frame = BuildFrame({0x3F, payload});
        ASSERT_EQ(frame.size(), 5 + payloadSize);
        for (std::size_t cut = 0; cut < frame.size(); ++cut)
        {
            const FrameCut result = CutFrame(std::span(frame).first(cut));
            EXPECT_EQ(result.m_status, FrameStatus::kNeedMore) << payloadSize << " cut at " << cut;
        }
        const FrameCut whole = CutFrame(frame);
        ASSERT_EQ(whole.m_status, FrameStatus::kFrame);
        EXPECT_FALSE(whole.m_discard);
        EXPECT_EQ(whole.m_frameSize, frame.size());
        ASSERT_EQ(whole.m_body.size(), payloadSize + 1);
        EXPECT_EQ(whole.m_body[0], 0x3F);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), whole.m_body.begin() + 1));
    }
}

struct LengthRow
{
    const char* m_name;
    std::uint32_t m_length;
    FrameStatus m_status;
    bool m_discard;
};

class CutFrameLengthTest : public ::testing::TestWithParam<LengthRow>
{
};

// Only the length field is buffered: kept frames need more, dropped ones are known at once.
TEST_P(CutFrameLengthTest, DecidesFromTheLengthField)
{
    const LengthRow& row = GetParam();
    const Bytes field = LengthField(row.m_length);
    const FrameCut cut = CutFrame(field);
    EXPECT_EQ(cut.m_status, row.m_status);
    EXPECT_EQ(cut.m_discard, row.m_discard);
    if (row.m_discard)
    {
        EXPECT_EQ(cut.m_frameSize, 4u + row.m_length);
        EXPECT_TRUE(cut.m_body.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, CutFrameLengthTest,
    ::testing::Values(LengthRow{"Zero", 0, FrameStatus::kFrame, true},
                      LengthRow{"One", 1, FrameStatus::kNeedMore, false},
                      LengthRow{"Largest", kMaxFrameLength, FrameStatus::kNeedMore, false},
                      LengthRow{"JustTooLarge", kMaxFrameLength + 1, FrameStatus::kFrame, true},
                      LengthRow{"LargestSkipped", kMaxDiscardLength, FrameStatus::kFrame, true},
                      LengthRow{"BeyondSkipping", kMaxDiscardLength + 1, FrameStatus::kMalformed,
                                false},
                      LengthRow{"Huge", 0xFFFFFFFFu, FrameStatus::kMalformed, false}),
    [](const auto& info) { return std::string(info.param.m_name); });

// Feeds a stream to an assembler in pieces that start at the given offsets.
std::vector<Bytes> Assemble(const Bytes& stream, const std::vector<std::size_t>& cuts,
                            bool* broken = nullptr)
{
    CFrameAssembler assembler;
    std::vector<Bytes> frames;
    std::vector<std::size_t> starts{0};
    starts.insert(starts.end(), cuts.begin(), cuts.end());
    starts.push_back(stream.size());
    for (std::size_t piece = 0; piece + 1 < starts.size(); ++piece)
    {
        std::size_t at = starts[piece];
        while (at < starts[piece + 1])
        {
            const auto space = assembler.FreeSpace();
            if (space.empty())
                break;
            const std::size_t count = std::min(space.size(), starts[piece + 1] - at);
            std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), count, space.begin());
            assembler.Commit(count);
            at += count;
            while (auto body = assembler.Next())
                frames.emplace_back(body->begin(), body->end());
        }
    }
    if (broken != nullptr)
        *broken = assembler.Broken();
    return frames;
}

TEST(FrameAssemblerTest, ReassemblesAtEverySplitPoint)
{
    const Bytes first = BuildFrame({0x3F, Payload(30, 3)});
    const Bytes second = BuildFrame({0x4B, Payload(20, 9)});
    const Bytes stream = Concat({first, second});
    const std::vector<Bytes> expected = {Bytes(first.begin() + 4, first.end()),
                                         Bytes(second.begin() + 4, second.end())};
    for (std::size_t cut = 1; cut < stream.size(); ++cut)
        EXPECT_EQ(Assemble(stream, {cut}), expected) << "cut at " << cut;
    std::vector<std::size_t> everyByte;
    for (std::size_t at = 1; at < stream.size(); ++at)
        everyByte.push_back(at);
    EXPECT_EQ(Assemble(stream, everyByte), expected);
}

struct DropRow
{
    const char* m_name;
    std::uint32_t m_length;
    std::vector<std::size_t> m_cuts;
};

class FrameAssemblerDropTest : public ::testing::TestWithParam<DropRow>
{
};

// A dropped frame between two kept ones leaves both kept frames intact.
TEST_P(FrameAssemblerDropTest, SkipsTheDroppedFrameExactly)
{
    const DropRow& row = GetParam();
    const Bytes before = BuildFrame({0x49, {}});
    const Bytes after = BuildFrame({0x3F, Payload(40, 5)});
    const Bytes stream =
        Concat({before, LengthField(row.m_length), Payload(row.m_length, 0xEE), after});
    bool broken = true;
    const std::vector<Bytes> frames = Assemble(stream, row.m_cuts, &broken);
    EXPECT_FALSE(broken);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], Bytes(before.begin() + 4, before.end()));
    EXPECT_EQ(frames[1], Bytes(after.begin() + 4, after.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameAssemblerDropTest,
    ::testing::Values(DropRow{"ZeroLength", 0, {}}, DropRow{"ZeroLengthSplit", 0, {6, 8}},
                      DropRow{"OneTooLarge", kMaxFrameLength + 1, {}},
                      DropRow{"LargeInPieces", 10000, {7, 100, 4000, 9000, 10010}},
                      DropRow{"LargestSkipped", kMaxDiscardLength, {3000, 60000}}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST(FrameAssemblerTest, BreaksBeyondTheSkipLimitAndHandsOutNothingMore)
{
    const Bytes stream = Concat(
        {BuildFrame({0x49, {}}), LengthField(kMaxDiscardLength + 1), BuildFrame({0x4A, {}})});
    bool broken = false;
    const std::vector<Bytes> frames = Assemble(stream, {}, &broken);
    EXPECT_TRUE(broken);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Bytes{0x49});
}

} // namespace
} // namespace velt
