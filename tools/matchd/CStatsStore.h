#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/Thread.h"
#include "server/MatchStats.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velt
{

// Visits and ratings per match. The counts that the server hands out live in memory; with a
// file they are loaded from it at the start and written to it (SQLite) by a thread of the
// store's own, so that a busy or locked file holds up no client. A write that fails is tried
// again until it succeeds; a failure that lasts is reported, and so is what is still unwritten
// when the store closes. A build without SQLite keeps the counts in memory only and refuses a
// file. Any thread may count and ask.
class CStatsStore
{
public:
    static constexpr std::uint8_t kMinRating = 1;
    static constexpr std::uint8_t kMaxRating = 5;
#ifdef VELT_STATS_IN_MEMORY
    static constexpr bool kKeepsFiles = false;
#else
    static constexpr bool kKeepsFiles = true;
#endif
    static constexpr const char* kMemoryOnlyMessage = "this build keeps statistics in memory only";

    struct WriteTimings
    {
        std::uint32_t m_lockWaitMs = 200;     // one write waits this long for another's lock
        std::uint32_t m_retryMs = 1000;       // pause before a failed write is tried again
        std::uint32_t m_reportAfterMs = 5000; // a failure lasting this long is reported
        // At the end, what is unwritten is tried again for this long (a lock held by a backup
        // or a shell is let go soon) before the counts are given up and named.
        std::uint32_t m_closeWaitMs = 10000;
    };
    // Receives problems met after Open, one line each without the program's name.
    using ProblemReporter = std::function<void(const std::string&)>;

    // Problems go to stderr until SetProblemReporter says otherwise.
    CStatsStore();
    // Finish, unless it has been called.
    ~CStatsStore();
    CStatsStore(const CStatsStore&) = delete;
    CStatsStore& operator=(const CStatsStore&) = delete;

    // Both before Open.
    void SetWriteTimings(const WriteTimings& timings) { m_timings = timings; }
    void SetProblemReporter(ProblemReporter reporter) { m_reporter = std::move(reporter); }

    // Opens (creating when missing) the database file and loads its counts; an empty path keeps
    // the counts in memory only. False with LastError() when the file cannot be opened, is not
    // ours, or cannot be written.
    bool Open(const std::string& path);
    std::string LastError() const;

    void AddVisit(std::uint32_t matchId);
    // Only ratings of 1 to 5 count; false for any other.
    bool AddRating(std::uint32_t matchId, std::uint8_t rating);
    // All zero for a match nobody visited or rated.
    MatchStats Stats(std::uint32_t matchId) const;
    // Matches whose latest counts are not in the file yet.
    std::size_t PendingMatches() const;
    // Writes what is still pending, trying again for the close wait, and closes the file. False
    // when counts could not be written: each match's are reported, so that none is lost unseen.
    bool Finish();

private:
    struct Counts
    {
        std::uint32_t m_visits = 0;
        std::uint32_t m_ratingCount = 0;
        std::uint32_t m_ratingSum = 0;
    };
    struct DatabaseCloser
    {
        void operator()(sqlite3* db) const;
    };
    struct StatementFinalizer
    {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;
    using Batch = std::map<std::uint32_t, Counts>;

    // Finish and forget the counts; false as Finish.
    bool Close();
    bool OpenFile(const std::string& path);
    bool LoadCounts();
    void Add(std::uint32_t matchId, const Counts& change);
    void WriteLoop();
    // Adds the batch to the file in one transaction; the reason when it cannot.
    bool WriteBatch(const Batch& batch, std::string& reason);
    void Report(const std::string& problem) const;
    // The pending counts that the store gives up, with m_mutex held.
    void ReportUnwritten(const std::string& reason) const;

    WriteTimings m_timings;
    ProblemReporter m_reporter;
    std::string m_path;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_open = false;
    bool m_stopping = false;
    std::size_t m_unwrittenAtClose = 0; // matches whose counts the last close gave up
    std::unordered_map<std::uint32_t, Counts> m_counts;
    Batch m_pending; // changes not yet in the file
    Batch m_writing; // changes being written
    std::string m_error;
    // Used by Open, then only by the writer thread.
    std::unique_ptr<sqlite3, DatabaseCloser> m_db;
    Statement m_add;
    CThread m_writer;
};

} // namespace velt
