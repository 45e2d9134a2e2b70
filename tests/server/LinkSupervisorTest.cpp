// The link supervisor's decisions, look by look, on a clock the rows give: when a loss is told,
// when it ends, how reconnects are paced, when the sessions are given up and when they are not.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/CLinkSupervisor.h"

namespace velt
{
namespace
{

// How the connection and the sessions stand at one look.
enum class Link
{
    kUp,
    kDown,
};

struct Look
{
    std::uint64_t m_atMs;
    Link m_link;
    std::uint64_t m_generation; // of the newest connection; 0: the one before
    std::uint64_t m_answers;    // data answers on it
    bool m_needed;              // a session still downloads
    const char* m_expected;     // the actions, in the order of ActionsText
    bool m_wanted = false;
    bool m_silent = false;
    std::uint64_t m_unansweredSinceMs = 0;
};

std::string ActionsText(const LinkActions& actions)
{
    std::string text;
    const auto add = [&](bool on, const char* name)
    {
        if (!on)
            return;
        if (!text.empty())
            text += " ";
        text += name;
    };
    add(actions.m_tellLost, "lost");
    add(actions.m_revive, "revive");
    add(actions.m_askAgain, "ask");
    add(actions.m_tellBack, "back");
    add(actions.m_giveUp, "giveup");
    add(actions.m_drop, "drop");
    add(actions.m_reconnectWithinMs.has_value(), "reconnect");
    return text;
}

struct SupervisionRow
{
    const char* m_name;
    std::vector<Look> m_looks;
};

class LinkSupervision : public ::testing::TestWithParam<SupervisionRow>
{
};

constexpr Link kUp = Link::kUp;
constexpr Link kDown = Link::kDown;

TEST_P(LinkSupervision, DecidesLookByLook)
{
    ReconnectPolicy policy;
    policy.m_limitMs = 10000;
    policy.m_firstRetryMs = 1000;
    policy.m_longestRetryMs = 4000;
    policy.m_silenceMs = 3000;
    CLinkSupervisor supervisor(policy, 1);
    std::uint64_t generation = 1;
    for (const Look& look : GetParam().m_looks)
    {
        if (look.m_generation != 0)
            generation = look.m_generation;
        LinkObservation seen;
        seen.m_nowMs = look.m_atMs;
        seen.m_connected = look.m_link == Link::kUp;
        seen.m_generation = generation;
        seen.m_answers = look.m_answers;
        seen.m_needed = look.m_needed;
        seen.m_wanted = look.m_wanted;
        seen.m_silent = look.m_silent;
        seen.m_unansweredSinceMs = look.m_unansweredSinceMs;
        const LinkActions actions = supervisor.Look(seen);
        EXPECT_EQ(ActionsText(actions), look.m_expected) << "at " << look.m_atMs << " ms";
        if (actions.m_reconnectWithinMs)
        {
            EXPECT_LE(*actions.m_reconnectWithinMs, policy.m_limitMs);
            supervisor.Tried(look.m_atMs);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LinkSupervision,
    ::testing::Values(
        SupervisionRow{"lossIsToldOnceRetriedWithGrowingPausesAndGivenUpAtTheLimit",
                       {{0, kUp, 1, 5, true, ""},
                        {100, kDown, 0, 0, true, "lost"},
                        {600, kDown, 0, 0, true, ""},
                        {1100, kDown, 0, 0, true, "reconnect"},
                        {3000, kDown, 0, 0, true, ""},
                        {3100, kDown, 0, 0, true, "reconnect"},
                        {7100, kDown, 0, 0, true, "reconnect"},
                        {10100, kDown, 0, 0, true, "giveup"},
                        // The sessions given up no longer count; nothing more is told.
                        {10200, kDown, 0, 0, false, ""},
                        {20000, kDown, 0, 0, false, ""}}},
        SupervisionRow{"connectionsThatBringNoDataDoNotEndTheLoss",
                       {{0, kUp, 1, 5, true, ""},
                        {100, kDown, 0, 0, true, "lost"},
                        {1100, kDown, 0, 0, true, "reconnect"},
                        {1200, kUp, 2, 0, true, "ask"},
                        {1300, kDown, 0, 0, true, ""},
                        {3100, kDown, 0, 0, true, "reconnect"},
                        {3200, kUp, 3, 0, true, "ask"},
                        {6200, kUp, 3, 0, true, "drop", false, true},
                        {6300, kDown, 0, 0, true, ""},
                        {7100, kDown, 0, 0, true, "reconnect"},
                        {10100, kDown, 0, 0, true, "giveup"}}},
        SupervisionRow{"backOnlyWhenTheNewConnectionAnswers",
                       {{0, kUp, 1, 5, true, ""},
                        {100, kDown, 0, 0, true, "lost"},
                        {1100, kDown, 0, 0, true, "reconnect"},
                        {1200, kUp, 2, 0, true, "ask"},
                        {1300, kUp, 2, 1, true, "back"},
                        {1400, kDown, 0, 0, true, "lost"}}},
        SupervisionRow{"aConnectionThatCameAnsweredAndWentBetweenTwoLooksEndedTheLoss",
                       {{0, kUp, 1, 5, true, ""},
                        {100, kDown, 0, 0, true, "lost"},
                        {500, kDown, 2, 3, true, "lost back"},
                        {600, kDown, 0, 3, true, ""},
                        {1500, kDown, 0, 3, true, "reconnect"}}},
        SupervisionRow{"aConnectionMadeByAnyoneCounts",
                       {{0, kUp, 1, 5, true, ""},
                        {100, kDown, 0, 0, true, "lost"},
                        {500, kUp, 2, 0, true, "ask"},
                        {600, kUp, 2, 2, true, "back"},
                        {700, kUp, 2, 2, true, ""},
                        {800, kDown, 0, 0, true, "lost"}}},
        SupervisionRow{"aLossWhileNoSessionDownloadsIsNoEvent",
                       {{0, kUp, 1, 5, false, ""},
                        {100, kDown, 0, 0, false, ""},
                        {200000, kDown, 0, 0, false, ""}}},
        SupervisionRow{"aSessionThatNeedsTheServerLaterTriesOnceBeforeTelling",
                       {{100, kDown, 0, 0, false, ""},
                        {5000, kDown, 0, 0, true, "reconnect"},
                        {5100, kUp, 2, 0, true, "ask"},
                        {5200, kUp, 2, 1, true, ""}}},
        SupervisionRow{"andTellsWhenThatTryFails",
                       {{100, kDown, 0, 0, false, ""},
                        {5000, kDown, 0, 0, true, "reconnect"},
                        {5100, kDown, 0, 0, true, "lost"},
                        {6900, kDown, 0, 0, true, ""},
                        {7000, kDown, 0, 0, true, "reconnect"},
                        {15000, kDown, 0, 0, true, "giveup"}}},
        SupervisionRow{"aRatingOrARequestReconnectsWithoutAWord",
                       {{100, kDown, 0, 0, false, "reconnect", true},
                        {200, kDown, 0, 0, false, "", true},
                        {2100, kDown, 0, 0, false, "reconnect", true},
                        {2200, kUp, 2, 0, false, "ask"},
                        {2300, kUp, 2, 0, false, ""}}},
        SupervisionRow{
            "aSilentServerIsDroppedOnlyForADownloadingSession",
            {{0, kUp, 1, 5, false, "", false, true}, {100, kUp, 1, 5, true, "drop", false, true}}},
        // A server that takes the first request and never answers: the limit counts from that
        // request, not from when the silence was noticed.
        SupervisionRow{"aSilentServersLossCountsFromItsFirstUnansweredRequest",
                       {{0, kUp, 1, 0, true, ""},
                        {3000, kUp, 1, 0, true, "drop", false, true, 500},
                        {3100, kDown, 0, 0, true, "lost reconnect"},
                        {3200, kUp, 2, 0, true, "ask"},
                        {6300, kUp, 2, 0, true, "drop", false, true, 3200},
                        {6400, kDown, 0, 0, true, "reconnect"},
                        {10500, kDown, 0, 0, true, "giveup"}}},
        SupervisionRow{"theServerBackAfterAGiveUpRevivesTheSessions",
                       {{0, kUp, 1, 5, true, ""},
                        {100, kDown, 0, 0, true, "lost"},
                        {10100, kDown, 0, 0, true, "giveup"},
                        {10200, kDown, 0, 0, false, ""},
                        {12000, kUp, 2, 0, false, "revive ask"},
                        {12100, kUp, 2, 1, true, "back"}}},
        SupervisionRow{"sessionsThatEndDuringALossEndItWithoutAWord",
                       {{0, kUp, 1, 5, true, ""},
                        {100, kDown, 0, 0, true, "lost"},
                        {500, kDown, 0, 0, false, ""},
                        {1100, kDown, 0, 0, false, ""},
                        {3000, kUp, 2, 0, false, "ask"},
                        {3100, kDown, 0, 0, true, "lost"}}}),
    [](const auto& info) { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
