#include "browser/CVELTListView.h"
#include "tests/browser/PaintCounter.h"

#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/CScriptedMatchServer.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace velt
{
namespace
{

// Generous, for a loaded machine; only reached when something is wrong.
constexpr std::uint32_t kDeadlineMs = 10000;
constexpr const char* kInstalledMap = "Maps\\(2)EchoIsles.w3x";
constexpr const char* kMissingMap = "Maps\\Download\\Missing.w3x";

struct MatchRow
{
    std::uint32_t m_id;
    std::uint8_t m_status;
    const char* m_startTime;
    bool m_mapInstalled;
    std::optional<MatchStats> m_stats;
    // expected
    const char* m_statusText;
    const char* m_visits;
    const char* m_rating;
    bool m_hot;
};

// Newest first is 14, 15, 11, 12, 13.
const std::vector<MatchRow> kMatches = {
    {11, 0, "2009-05-01 20:15", true, MatchStats{12, 2, 9, 11, 0}, "Live!", "12", "4.5(Hot!)",
     true},
    {12, 1, "2009-05-01 18:00", false, MatchStats{5, 2, 8, 12, 0}, "Completed", "5", "4.0", false},
    {13, 2, "2009-04-30 23:00", true, MatchStats{7, 100, 401, 13, 0}, "Broken", "7", "4.0(Hot!)",
     true},
    {14, 1, "2009-05-02 09:30", true, std::nullopt, "Completed", "Unknown", "Unrated", false},
    {15, 7, "2009-05-01 21:00", true, MatchStats{3, 0, 0, 15, 0}, "Unknown (7)", "3", "Unrated",
     false},
};

CMatchInfo InfoOf(const MatchRow& row)
{
    CMatchInfo info;
    info.m_matchId = row.m_id;
    info.m_matchName = "Match " + std::to_string(row.m_id);
    info.m_streamer = "caster";
    info.m_playersInfo = "Grubby vs Moon";
    info.m_mapPath = row.m_mapInstalled ? kInstalledMap : kMissingMap;
    info.m_length = 3930;
    info.m_status = row.m_status;
    info.m_startTime = row.m_startTime;
    return info;
}

class MatchListViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Start());
        ASSERT_TRUE(QDir(m_warcraft.path()).mkpath(QStringLiteral("Maps")));
        QFile map(m_warcraft.filePath(QStringLiteral("Maps/(2)EchoIsles.w3x")));
        ASSERT_TRUE(map.open(QIODevice::WriteOnly));
        m_client.SetWarcraftPath(m_warcraft.path().toStdString() + "/");
        m_view.OnInitialUpdate();
        m_view.resize(900, 500);
        m_view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));
    }

    void TearDown() override { m_server.Stop(); }

    void ServeAndFetch(const std::vector<MatchRow>& rows)
    {
        CScriptedMatchServer::ListScript script;
        for (const MatchRow& row : rows)
        {
            script.m_frames.push_back(BuildMatchRecord(InfoOf(row)));
            if (row.m_stats)
                script.m_frames.push_back(BuildMatchStats(*row.m_stats));
        }
        m_server.SetListScript(script);
        if (!m_client.IsConnected())
        {
            ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.Port()));
        }
        ASSERT_EQ(m_client.FetchMatchList(kDeadlineMs), CMatchServerClient::ListOutcome::kListEnd);
    }

    CSortableListCtrl& List() { return m_view.List(); }

    int RowOf(std::uint32_t matchId)
    {
        for (int row = 0; row < List().GetItemCount(); ++row)
        {
            if (List().GetItemData(row) == matchId)
                return row;
        }
        return -1;
    }

    void Click(int row)
    {
        const QRect rect = List().visualRect(List().model()->index(row, 0));
        QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, rect.center());
    }

    QTemporaryDir m_warcraft;
    CRecordingNotice m_notices;
    CScriptedMatchServer m_server;
    CMatchServerClient m_client{m_notices};
    CVELTListView m_view;
};

TEST_F(MatchListViewTest, NineColumnsSizedByTheAverageCharacter)
{
    const std::vector<std::pair<const char*, int>> columns = {
        {"Match Name", 22}, {"Players Info", 27}, {"Map", 27},
        {"Status", 12},     {"Start Time", 17},   {"Total Length", 17},
        {"Streamer", 12},   {"Visits", 12},       {"Rating", 12}};
    const int average = QFontMetrics(m_view.Form()->font()).averageCharWidth();
    ASSERT_EQ(List().GetColumnCount(), 9);
    for (int c = 0; c < 9; ++c)
    {
        const auto& [title, characters] = columns[static_cast<std::size_t>(c)];
        EXPECT_EQ(List().model()->headerData(c, Qt::Horizontal).toString(), QLatin1String(title));
        EXPECT_EQ(List().header()->sectionSize(c), characters * average) << title;
    }
    EXPECT_TRUE(List().header()->sectionsMovable());
}

TEST_F(MatchListViewTest, FillShowsTextsAndColoursNewestFirst)
{
    ServeAndFetch(kMatches);
    m_view.SetClient(&m_client);
    m_view.FillMatchList();

    ASSERT_EQ(List().GetItemCount(), 5);
    const std::vector<std::uint32_t> order = {14, 15, 11, 12, 13};
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(List().GetItemData(row), order[static_cast<std::size_t>(row)]) << "row " << row;
    EXPECT_EQ(List().SortColumn(), CVELTListView::kStartTimeColumn);
    EXPECT_FALSE(List().SortAscending());

    const ColorRef system = FromQColor(List().palette().color(QPalette::Active, QPalette::Text));
    const ColorRef red = CVELTListView::kBrokenColor;
    for (const MatchRow& match : kMatches)
    {
        SCOPED_TRACE(match.m_id);
        const int row = RowOf(match.m_id);
        ASSERT_GE(row, 0);
        EXPECT_EQ(List().GetItemText(row, 0).toStdString(), "Match " + std::to_string(match.m_id));
        EXPECT_EQ(List().GetItemText(row, 1), QStringLiteral("Grubby vs Moon"));
        EXPECT_EQ(List().GetItemText(row, 3), QLatin1String(match.m_statusText));
        EXPECT_EQ(List().GetItemText(row, 4), QLatin1String(match.m_startTime));
        EXPECT_EQ(List().GetItemText(row, 5), QStringLiteral("1 hr :5 min:30 sec"));
        EXPECT_EQ(List().GetItemText(row, 6), QStringLiteral("caster"));
        EXPECT_EQ(List().GetItemText(row, 7), QLatin1String(match.m_visits));
        EXPECT_EQ(List().GetItemText(row, 8), QLatin1String(match.m_rating));

        const ColorRef statusColor = match.m_status == 0   ? CVELTListView::kLiveColor
                                     : match.m_status == 1 ? CVELTListView::kCompletedColor
                                                           : red;
        for (int column = 0; column < 7; ++column)
        {
            const ColorRef expected = column == 2 && !match.m_mapInstalled ? red : statusColor;
            EXPECT_EQ(List().GetCellTextColor(row, column), expected) << "column " << column;
        }
        EXPECT_EQ(List().GetCellTextColor(row, 7), system);
        EXPECT_EQ(List().GetCellTextColor(row, 8), match.m_hot ? red : system);
    }
}

TEST_F(MatchListViewTest, FillRepaintsOnce)
{
    std::vector<MatchRow> many;
    for (std::uint32_t id = 1; id <= 40; ++id)
        many.push_back({id, static_cast<std::uint8_t>(id % 3), "2009-05-01 20:15", id % 2 == 0,
                        MatchStats{id, 1, 5, id, 0}, "", "", "", false});
    ServeAndFetch(many);
    m_view.SetClient(&m_client);
    CPaintCounter counter;
    List().viewport()->installEventFilter(&counter);
    m_view.FillMatchList();
    List().viewport()->removeEventFilter(&counter);
    EXPECT_EQ(List().GetItemCount(), 40);
    EXPECT_EQ(counter.m_paints, 1);
}

TEST_F(MatchListViewTest, PickingByMouseOnly)
{
    ServeAndFetch(kMatches);
    m_view.SetClient(&m_client);
    m_view.FillMatchList();
    EXPECT_EQ(m_view.SelectedMatchId(), 0u);

    Click(1); // match 15
    EXPECT_EQ(m_view.SelectedMatchId(), 15u);
    EXPECT_EQ(m_view.SelectedMap(), QLatin1String(kInstalledMap));

    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Down);
    EXPECT_EQ(List().GetFirstSelectedItem(), 2) << "the keyboard moved the selection";
    EXPECT_EQ(m_view.SelectedMatchId(), 15u) << "but not the pick";

    const QRect last = List().visualRect(List().model()->index(4, 0));
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {},
                      QPoint(last.center().x(), last.bottom() + 60));
    EXPECT_EQ(m_view.SelectedMatchId(), 15u) << "empty space keeps the pick";

    Click(3); // match 12, whose map is missing
    EXPECT_EQ(m_view.SelectedMatchId(), 12u);
    EXPECT_EQ(m_view.SelectedMap(), QLatin1String(kMissingMap));

    // A refresh keeps the pick, wherever the row lands.
    m_view.FillMatchList();
    EXPECT_EQ(m_view.SelectedMatchId(), 12u);
}

TEST_F(MatchListViewTest, WithoutClientNothingHappens)
{
    ServeAndFetch(kMatches);
    m_view.FillMatchList();
    EXPECT_EQ(List().GetItemCount(), 0);

    m_view.SetClient(&m_client);
    m_view.FillMatchList();
    m_view.SetClient(nullptr);
    Click(0);
    EXPECT_EQ(m_view.SelectedMatchId(), 0u);
    m_view.FillMatchList();
    EXPECT_EQ(List().GetItemCount(), 5) << "the rows stay until the next fill with a client";
}

TEST(ServerText, Utf8OrLatin1)
{
    EXPECT_EQ(CVELTListView::FromServerText("Caf\xC3\xA9"), QString::fromUtf8("Caf\xC3\xA9"));
    EXPECT_EQ(CVELTListView::FromServerText("Caf\xE9"), QString::fromLatin1("Caf\xE9"));
    EXPECT_EQ(CVELTListView::FromServerText(""), QString());
}

} // namespace
} // namespace velt
