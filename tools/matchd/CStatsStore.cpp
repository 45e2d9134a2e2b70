#include "tools/matchd/CStatsStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#ifndef VELT_STATS_IN_MEMORY
#include <sqlite3.h>
#endif

namespace velt
{

namespace
{

// Opening may create the table, which waits for another writer like any write.
constexpr int kOpenLockWaitMs = 2000;

#ifndef VELT_STATS_IN_MEMORY
constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS match_stats ("
                                " match_id INTEGER PRIMARY KEY,"
                                " visits INTEGER NOT NULL DEFAULT 0,"
                                " rating_count INTEGER NOT NULL DEFAULT 0,"
                                " rating_sum INTEGER NOT NULL DEFAULT 0)";
constexpr const char* kAdd =
    "INSERT INTO match_stats (match_id, visits, rating_count, rating_sum) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (match_id) DO UPDATE SET visits = visits + ?2,"
    " rating_count = rating_count + ?3, rating_sum = rating_sum + ?4";
constexpr const char* kSelectAll =
    "SELECT match_id, visits, rating_count, rating_sum FROM match_stats";

std::uint32_t Clamp32(sqlite3_int64 value)
{
    return static_cast<std::uint32_t>(
        std::clamp<sqlite3_int64>(value, 0, std::numeric_limits<std::uint32_t>::max()));
}
#endif

// Counts saturate rather than wrap, as the file's do when they are read back.
std::uint32_t Plus(std::uint32_t a, std::uint32_t b)
{
    return a > std::numeric_limits<std::uint32_t>::max() - b
               ? std::numeric_limits<std::uint32_t>::max()
               : a + b;
}

} // namespace

#ifdef VELT_STATS_IN_MEMORY
// No file is ever opened: nothing to close.
void CStatsStore::DatabaseCloser::operator()(sqlite3*) const {}
void CStatsStore::StatementFinalizer::operator()(sqlite3_stmt*) const {}
#else
void CStatsStore::DatabaseCloser::operator()(sqlite3* db) const
{
    sqlite3_close(db);
}

void CStatsStore::StatementFinalizer::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}
#endif

CStatsStore::CStatsStore()
    : m_reporter([](const std::string& problem)
                 { std::fprintf(stderr, "velt-matchd: %s\n", problem.c_str()); })
{
}

CStatsStore::~CStatsStore()
{
    Close();
}

bool CStatsStore::Finish()
{
    return Close();
}

bool CStatsStore::Close()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_unwrittenAtClose = 0;
    }
    m_wake.notify_all();
    m_writer.Join();
    // The statement before the database, which refuses to close while it exists.
    m_add.reset();
    m_db.reset();
    std::lock_guard lock(m_mutex);
    m_open = false;
    m_stopping = false;
    m_counts.clear();
    m_pending.clear();
    return m_unwrittenAtClose == 0;
}

bool CStatsStore::Open(const std::string& path)
{
    Close();
    m_path = path;
    if (!path.empty() && !OpenFile(path))
    {
        m_add.reset();
        m_db.reset();
        std::lock_guard lock(m_mutex);
        m_counts.clear();
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_error.clear();
        m_open = true;
    }
    if (m_db && !m_writer.Start([this] { WriteLoop(); }))
    {
        std::lock_guard lock(m_mutex);
        m_error = "cannot start the writer of " + path;
        m_open = false;
        return false;
    }
    return true;
}

#ifdef VELT_STATS_IN_MEMORY
bool CStatsStore::OpenFile(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_error = "cannot open " + path + ": " + kMemoryOnlyMessage;
    return false;
}
#else
bool CStatsStore::OpenFile(const std::string& path)
{
    const auto fail = [&](const std::string& what)
    {
        std::lock_guard lock(m_mutex);
        m_error = what + ": " + (m_db ? sqlite3_errmsg(m_db.get()) : "out of memory");
        return false;
    };
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(
        path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK)
        return fail("cannot open " + path);
    // SQLite opens a file it may not write for reading only, and would then lose every count.
    if (sqlite3_db_readonly(m_db.get(), "main") == 1)
    {
        std::lock_guard lock(m_mutex);
        m_error = "cannot write " + path + ": the file is read-only";
        return false;
    }
    sqlite3_busy_timeout(m_db.get(), kOpenLockWaitMs);
    // The log need not reach the disk before the answer goes out.
    sqlite3_exec(m_db.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                 nullptr);
    if (sqlite3_exec(m_db.get(), kSchema, nullptr, nullptr, nullptr) != SQLITE_OK || !LoadCounts())
        return fail("cannot use " + path);
    // Whether a write can go through at all: a lock held by another writer now is no reason
    // to refuse, since writes are tried again.
    const int probe = sqlite3_exec(m_db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (probe == SQLITE_OK)
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    else if ((probe & 0xFF) != SQLITE_BUSY && (probe & 0xFF) != SQLITE_LOCKED)
        return fail("cannot write " + path);
    sqlite3_stmt* add = nullptr;
    const int prepared = sqlite3_prepare_v2(m_db.get(), kAdd, -1, &add, nullptr);
    m_add.reset(add);
    if (prepared != SQLITE_OK)
        return fail("cannot use " + path);
    sqlite3_busy_timeout(m_db.get(), static_cast<int>(m_timings.m_lockWaitMs));
    return true;
}

bool CStatsStore::LoadCounts()
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), kSelectAll, -1, &raw, nullptr) != SQLITE_OK)
        return false;
    const Statement select(raw);
    std::unordered_map<std::uint32_t, Counts> counts;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
    {
        Counts& entry = counts[static_cast<std::uint32_t>(sqlite3_column_int64(raw, 0))];
        entry.m_visits = Clamp32(sqlite3_column_int64(raw, 1));
        entry.m_ratingCount = Clamp32(sqlite3_column_int64(raw, 2));
        entry.m_ratingSum = Clamp32(sqlite3_column_int64(raw, 3));
    }
    if (rc != SQLITE_DONE)
        return false;
    std::lock_guard lock(m_mutex);
    m_counts = std::move(counts);
    return true;
}
#endif

std::string CStatsStore::LastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void CStatsStore::Add(std::uint32_t matchId, const Counts& change)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_open)
            return;
        for (Counts* counts : {&m_counts[matchId], m_db ? &m_pending[matchId] : nullptr})
        {
            if (counts == nullptr)
                continue;
            counts->m_visits = Plus(counts->m_visits, change.m_visits);
            counts->m_ratingCount = Plus(counts->m_ratingCount, change.m_ratingCount);
            counts->m_ratingSum = Plus(counts->m_ratingSum, change.m_ratingSum);
        }
    }
    m_wake.notify_one();
}

void CStatsStore::AddVisit(std::uint32_t matchId)
{
    Add(matchId, {1, 0, 0});
}

bool CStatsStore::AddRating(std::uint32_t matchId, std::uint8_t rating)
{
    if (rating < kMinRating || rating > kMaxRating)
        return false;
    Add(matchId, {0, 1, rating});
    return true;
}

MatchStats CStatsStore::Stats(std::uint32_t matchId) const
{
    MatchStats stats;
    stats.m_matchId = matchId;
    std::lock_guard lock(m_mutex);
    const auto found = m_counts.find(matchId);
    if (found != m_counts.end())
    {
        stats.m_visits = found->second.m_visits;
        stats.m_ratingCount = found->second.m_ratingCount;
        stats.m_ratingSum = found->second.m_ratingSum;
    }
    return stats;
}

std::size_t CStatsStore::PendingMatches() const
{
    std::lock_guard lock(m_mutex);
    std::size_t count = m_pending.size();
    for (const auto& entry : m_writing)
        count += m_pending.count(entry.first) == 0 ? 1 : 0;
    return count;
}

#ifdef VELT_STATS_IN_MEMORY
bool CStatsStore::WriteBatch(const Batch&, std::string& reason)
{
    reason = kMemoryOnlyMessage;
    return false;
}
#else
bool CStatsStore::WriteBatch(const Batch& batch, std::string& reason)
{
    sqlite3* db = m_db.get();
    bool ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    for (auto it = batch.begin(); ok && it != batch.end(); ++it)
    {
        sqlite3_stmt* add = m_add.get();
        sqlite3_reset(add);
        sqlite3_bind_int64(add, 1, it->first);
        sqlite3_bind_int64(add, 2, it->second.m_visits);
        sqlite3_bind_int64(add, 3, it->second.m_ratingCount);
        sqlite3_bind_int64(add, 4, it->second.m_ratingSum);
        ok = sqlite3_step(add) == SQLITE_DONE;
        sqlite3_reset(add);
    }
    if (ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    reason = sqlite3_errmsg(db);
    if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}
#endif

void CStatsStore::Report(const std::string& problem) const
{
    if (m_reporter)
        m_reporter(problem);
}

void CStatsStore::ReportUnwritten(const std::string& reason) const
{
    Report("visits and ratings of " + std::to_string(m_pending.size()) +
           " matches are not written to " + m_path + ": " + reason);
    // Named one by one, so that an operator can add them by hand.
    for (const auto& [matchId, counts] : m_pending)
        Report("unwritten counts of match " + std::to_string(matchId) + ": visits +" +
               std::to_string(counts.m_visits) + ", ratings +" +
               std::to_string(counts.m_ratingCount) + " (sum +" +
               std::to_string(counts.m_ratingSum) + ")");
}

void CStatsStore::WriteLoop()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    Clock::time_point failingSince{};
    Clock::time_point stopAt{};
    bool stopSeen = false;
    bool failing = false;
    bool reported = false;
    for (;;)
    {
        m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        if (m_pending.empty())
            return;
        m_writing = std::move(m_pending);
        m_pending.clear();
        lock.unlock();
        // Only this thread changes m_writing; others read it under the lock.
        std::string reason;
        const bool written = WriteBatch(m_writing, reason);
        lock.lock();
        Batch batch = std::move(m_writing);
        m_writing.clear();
        if (written)
        {
            if (reported)
                Report("visits and ratings are written to " + m_path + " again");
            failing = reported = false;
            continue;
        }
        // Put back what the file still lacks, merged with what came meanwhile.
        for (const auto& [matchId, change] : batch)
        {
            Counts& pending = m_pending[matchId];
            pending.m_visits = Plus(pending.m_visits, change.m_visits);
            pending.m_ratingCount = Plus(pending.m_ratingCount, change.m_ratingCount);
            pending.m_ratingSum = Plus(pending.m_ratingSum, change.m_ratingSum);
        }
        const auto now = Clock::now();
        if (m_stopping)
        {
            if (!stopSeen)
            {
                stopSeen = true;
                stopAt = now;
            }
            if (now - stopAt < std::chrono::milliseconds(m_timings.m_closeWaitMs))
            {
                m_wake.wait_for(lock, std::chrono::milliseconds(m_timings.m_retryMs));
                continue;
            }
            ReportUnwritten(reason);
            m_unwrittenAtClose = m_pending.size();
            m_pending.clear();
            return;
        }
        if (!failing)
        {
            failing = true;
            failingSince = now;
        }
        if (!reported && now - failingSince >= std::chrono::milliseconds(m_timings.m_reportAfterMs))
        {
            Report("cannot write visits and ratings to " + m_path + ": " + reason + "; " +
                   std::to_string(m_pending.size()) + " matches' counts kept, still trying");
            reported = true;
        }
        m_wake.wait_for(lock, std::chrono::milliseconds(m_timings.m_retryMs),
                        [this] { return m_stopping; });
    }
}

} // namespace velt
