#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/MatchdOptions.h"

using namespace velt;

namespace
{

// A file path of this test's own, removed again at the end.
class TempPath
{
public:
    explicit TempPath(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() /
                 (name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this))))
    {
    }
    ~TempPath()
    {
        std::error_code ignored;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(m_path.string() + suffix, ignored);
    }
    std::string Text() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

} // namespace

TEST(CStatsStoreTest, VisitsAndValidRatingsAccumulatePerMatch)
{
    CStatsStore store;
    ASSERT_TRUE(store.Open(""));
    EXPECT_EQ(store.Stats(5).m_visits, 0u);
    EXPECT_EQ(store.Stats(5).m_matchId, 5u);
    store.AddVisit(5);
    store.AddVisit(5);
    store.AddVisit(6);
    const struct
    {
        std::uint8_t m_rating;
        bool m_counts;
    } rows[] = {{0, false}, {1, true}, {5, true}, {6, false}, {255, false}, {3, true}};
    for (const auto& row : rows)
        EXPECT_EQ(store.AddRating(5, row.m_rating), row.m_counts) << int(row.m_rating);
    const MatchStats five = store.Stats(5);
    EXPECT_EQ(five.m_visits, 2u);
    EXPECT_EQ(five.m_ratingCount, 3u);
    EXPECT_EQ(five.m_ratingSum, 9u);
    EXPECT_EQ(store.Stats(6).m_visits, 1u);
    EXPECT_EQ(store.Stats(6).m_ratingCount, 0u);
}

TEST(CStatsStoreTest, FileKeepsTheCountsAcrossReopening)
{
    TempPath path("velt-stats");
    if (!CStatsStore::kKeepsFiles)
    {
        // A build without SQLite refuses the file, and the server's --state with it.
        CStatsStore store;
        EXPECT_FALSE(store.Open(path.Text()));
        EXPECT_NE(store.LastError().find(CStatsStore::kMemoryOnlyMessage), std::string::npos);
        std::string error;
        EXPECT_FALSE(ParseMatchdOptions({"--state", path.Text()}, error));
        EXPECT_NE(error.find(CStatsStore::kMemoryOnlyMessage), std::string::npos);
        return;
    }
    {
        CStatsStore store;
        ASSERT_TRUE(store.Open(path.Text())) << store.LastError();
        store.AddVisit(1);
        store.AddRating(1, 4);
    }
    CStatsStore reopened;
    ASSERT_TRUE(reopened.Open(path.Text()));
    reopened.AddVisit(1);
    EXPECT_EQ(reopened.Stats(1).m_visits, 2u);
    EXPECT_EQ(reopened.Stats(1).m_ratingSum, 4u);
}

TEST(CStatsStoreTest, AFileThatIsNoDatabaseIsRefused)
{
    TempPath path("velt-not-a-db");
    {
        std::ofstream out(path.Text(), std::ios::binary);
        out << std::string(4096, 'x');
    }
    CStatsStore store;
    EXPECT_FALSE(store.Open(path.Text()));
    EXPECT_NE(store.LastError().find(path.Text()), std::string::npos);
    // A refused store counts nothing and answers zeros.
    store.AddVisit(1);
    EXPECT_EQ(store.Stats(1).m_visits, 0u);
    EXPECT_FALSE(CStatsStore().Open("/nonexistent-dir/velt/stats.db"));
}
