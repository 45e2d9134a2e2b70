#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include "tests/tools/matchd/CStateLockHolder.h"
#endif
#include "platform/Thread.h"
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

#if !defined(_WIN32)
namespace
{

// Problems the store reports, as they come.
class ProblemLog
{
public:
    CStatsStore::ProblemReporter Reporter()
    {
        return [this](const std::string& problem)
        {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(problem);
        };
    }
    bool Has(const std::string& part) const
    {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(),
                           [&](const std::string& line)
                           { return line.find(part) != std::string::npos; });
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

bool WaitFor(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

CStatsStore::WriteTimings QuickRetries()
{
    CStatsStore::WriteTimings timings;
    timings.m_lockWaitMs = 20;
    timings.m_retryMs = 20;
    timings.m_reportAfterMs = 100;
    timings.m_closeWaitMs = 200;
    return timings;
}

} // namespace

// Not a test of its own: the process that CStateLockHolder starts.
TEST(StateLockHolder, DISABLED_HoldsTheWriteLock)
{
    const char* path = std::getenv(test::CStateLockHolder::kPathVariable);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(test::CStateLockHolder::HoldUntilInputCloses(path), 0);
}

TEST(CStatsStoreTest, ALockHeldByAnotherProcessDelaysWritesButLosesNoCount)
{
    enum class Release
    {
        kBeforeClose,
        kDuringClose, // the close waits for it
        kNever,       // the counts are named and the close fails
    };
    const struct
    {
        const char* m_name;
        Release m_release;
        const char* m_report; // what the store says last
    } rows[] = {
        {"released before the close", Release::kBeforeClose, "again"},
        {"released while the close waits", Release::kDuringClose, "again"},
        {"never released", Release::kNever,
         "unwritten counts of match 2: visits +0, ratings +1 (sum +5)"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_name);
        TempPath path("velt-locked");
        ProblemLog problems;
        {
            CStatsStore first;
            ASSERT_TRUE(first.Open(path.Text()));
            first.AddVisit(1);
        }
        test::CStateLockHolder holder;
        auto store = std::make_unique<CStatsStore>();
        CStatsStore::WriteTimings timings = QuickRetries();
        if (row.m_release == Release::kDuringClose)
            timings.m_closeWaitMs = 60000; // generous: the release ends it
        store->SetWriteTimings(timings);
        store->SetProblemReporter(problems.Reporter());
        ASSERT_TRUE(holder.Hold(path.Text()));
        // Opening while another writer holds the lock is no reason to refuse the file.
        ASSERT_TRUE(store->Open(path.Text())) << store->LastError();
        store->AddVisit(1);
        store->AddVisit(1);
        store->AddRating(2, 5);
        // What the store hands out is right at once, written or not.
        EXPECT_EQ(store->Stats(1).m_visits, 3u);
        EXPECT_EQ(store->Stats(2).m_ratingSum, 5u);
        ASSERT_TRUE(WaitFor([&] { return problems.Has("cannot write"); }));
        EXPECT_TRUE(problems.Has(path.Text()));
        EXPECT_EQ(store->PendingMatches(), 2u);
        if (row.m_release == Release::kBeforeClose)
        {
            holder.Release();
            ASSERT_TRUE(WaitFor([&] { return store->PendingMatches() == 0; }));
        }
        CThread releaser;
        if (row.m_release == Release::kDuringClose)
            releaser.Start(
                [&]
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    holder.Release();
                });
        const bool written = store->Finish();
        releaser.Join();
        EXPECT_EQ(written, row.m_release != Release::kNever);
        EXPECT_TRUE(problems.Has(row.m_report));
        store.reset();
        holder.Release();
        CStatsStore reopened;
        ASSERT_TRUE(reopened.Open(path.Text()));
        EXPECT_EQ(reopened.Stats(1).m_visits, written ? 3u : 1u);
        EXPECT_EQ(reopened.Stats(2).m_ratingCount, written ? 1u : 0u);
    }
}

TEST(CStatsStoreTest, AReadOnlyFileIsRefusedAtTheStart)
{
    TempPath path("velt-read-only");
    {
        CStatsStore store;
        ASSERT_TRUE(store.Open(path.Text()));
        store.AddVisit(1);
    }
    std::filesystem::permissions(path.Text(), std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::group_read |
                                                  std::filesystem::perms::others_read);
    // The superuser may write any file: the check runs in a child that gives that up.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        CStatsStore store;
        const bool opened = store.Open(path.Text());
        const std::string error = store.LastError();
        (void)!write(pipeEnds[1], error.data(), error.size());
        _exit(opened ? 0 : 1);
    }
    close(pipeEnds[1]);
    std::string error;
    char buffer[256];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        error.append(buffer, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_NE(error.find(path.Text()), std::string::npos) << error;
}
#endif
