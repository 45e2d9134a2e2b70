#include "server/CHostTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/CLocalGameHost.h"
#include "platform/Socket.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/HostRig.h"

namespace velt
{
namespace
{

using Outcome = CHostTable::HeaderOutcome;
constexpr std::uint32_t kMatch = 5;

// One header from the server, after a request of ours or not; good: one the game can take.
struct HeaderStep
{
    bool m_asked;
    bool m_good;
    Outcome m_outcome;
};

struct HostTableRow
{
    const char* m_name;
    std::vector<HeaderStep> m_steps;
    bool m_hosted;           // the table holds a host of the match at the end
    bool m_problem;          // a reason kept for the latest header
    std::uint32_t m_started; // hosts made (ports handed out)
};

class HostTableTest : public ::testing::TestWithParam<HostTableRow>
{
};

// A header makes a host only in answer to a request, once per request; a refused one leaves its
// reason, which the next header asked for clears, and keeps the host there was; a good one
// replaces the match's host.
TEST_P(HostTableTest, HeadersMakeHostsOnlyWhenAskedFor)
{
    const HostTableRow& row = GetParam();
    SocketLayerStart();
    // Announcements go to a port of our own, so that no game of a parallel test sees them.
    CUdpSocket announceSink;
    ASSERT_TRUE(announceSink.Open());
    ASSERT_TRUE(announceSink.Bind("127.0.0.1", 0));
    test::CTestOwner owner;
    CHostTable table(owner, owner.RecordedNotices(), {announceSink.LocalPort(), 0, false});
    table.SetTimings(test::FastTimings());

    const std::vector<std::uint8_t> good = test::BuildTestHeader();
    const std::vector<std::uint8_t> bad(kReplayHeaderSize, 0);
    for (std::size_t i = 0; i < row.m_steps.size(); ++i)
    {
        const HeaderStep& step = row.m_steps[i];
        if (step.m_asked)
            table.NoteHeaderRequested(kMatch);
        EXPECT_EQ(table.TakeHeader(kMatch, step.m_good ? good : bad), step.m_outcome)
            << row.m_name << " step " << i;
    }
    EXPECT_EQ(table.Find(kMatch) != nullptr, row.m_hosted);
    EXPECT_EQ(table.HeaderProblem(kMatch).has_value(), row.m_problem);
    EXPECT_EQ(table.HostsStarted(), row.m_started);
    table.CloseAll();
    EXPECT_EQ(table.Find(kMatch), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, HostTableTest,
    ::testing::Values(
        HostTableRow{"Unasked", {{false, true, Outcome::kUnasked}}, false, false, 0},
        HostTableRow{"Asked", {{true, true, Outcome::kHosted}}, true, false, 1},
        HostTableRow{"AnsweredOnce",
                     {{true, true, Outcome::kHosted}, {false, true, Outcome::kUnasked}},
                     true,
                     false,
                     1},
        HostTableRow{"Refused", {{true, false, Outcome::kRefused}}, false, true, 0},
        HostTableRow{"RefusedThenGood",
                     {{true, false, Outcome::kRefused}, {true, true, Outcome::kHosted}},
                     true,
                     false,
                     1},
        HostTableRow{"GoodThenRefused",
                     {{true, true, Outcome::kHosted}, {true, false, Outcome::kRefused}},
                     true,
                     true,
                     1},
        HostTableRow{"Replaced",
                     {{true, true, Outcome::kHosted}, {true, true, Outcome::kHosted}},
                     true,
                     false,
                     2}),
    [](const ::testing::TestParamInfo<HostTableRow>& info) { return info.param.m_name; });

} // namespace
} // namespace velt
