#include "tools/matchd/CStatsStore.h"

#include <algorithm>
#include <limits>
#include <sqlite3.h>

namespace velt
{

namespace
{

constexpr int kBusyTimeoutMs = 2000;

constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS match_stats ("
                                " match_id INTEGER PRIMARY KEY,"
                                " visits INTEGER NOT NULL DEFAULT 0,"
                                " rating_count INTEGER NOT NULL DEFAULT 0,"
                                " rating_sum INTEGER NOT NULL DEFAULT 0)";
constexpr const char* kAddVisit = "INSERT INTO match_stats (match_id, visits) VALUES (?1, 1)"
                                  " ON CONFLICT (match_id) DO UPDATE SET visits = visits + 1";
constexpr const char* kAddRating =
    "INSERT INTO match_stats (match_id, rating_count, rating_sum) VALUES (?1, 1, ?2)"
    " ON CONFLICT (match_id) DO UPDATE SET rating_count = rating_count + 1,"
    " rating_sum = rating_sum + ?2";
constexpr const char* kSelect =
    "SELECT visits, rating_count, rating_sum FROM match_stats WHERE match_id = ?1";

std::uint32_t Clamp32(sqlite3_int64 value)
{
    return static_cast<std::uint32_t>(
        std::clamp<sqlite3_int64>(value, 0, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

void CStatsStore::DatabaseCloser::operator()(sqlite3* db) const
{
    sqlite3_close(db);
}

void CStatsStore::StatementFinalizer::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

CStatsStore::CStatsStore() = default;

CStatsStore::~CStatsStore()
{
    // Statements before the database, which refuses to close while they exist.
    m_addVisit.reset();
    m_addRating.reset();
    m_select.reset();
    m_db.reset();
}

void CStatsStore::Fail(const std::string& what)
{
    m_error = what + ": " + (m_db ? sqlite3_errmsg(m_db.get()) : "out of memory");
}

bool CStatsStore::Prepare(const char* sql, Statement& out)
{
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(m_db.get(), sql, -1, &statement, nullptr);
    out.reset(statement);
    return rc == SQLITE_OK;
}

bool CStatsStore::Open(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_addVisit.reset();
    m_addRating.reset();
    m_select.reset();
    m_db.reset();
    const std::string target = path.empty() ? ":memory:" : path;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(
        target.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK)
    {
        Fail("cannot open " + target);
        m_db.reset();
        return false;
    }
    sqlite3_busy_timeout(m_db.get(), kBusyTimeoutMs);
    // A visit per header request: the log need not reach the disk before the answer goes out.
    sqlite3_exec(m_db.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                 nullptr);
    if (sqlite3_exec(m_db.get(), kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
        !Prepare(kAddVisit, m_addVisit) || !Prepare(kAddRating, m_addRating) ||
        !Prepare(kSelect, m_select))
    {
        Fail("cannot use " + target);
        m_addVisit.reset();
        m_addRating.reset();
        m_select.reset();
        m_db.reset();
        return false;
    }
    m_error.clear();
    return true;
}

std::string CStatsStore::LastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

bool CStatsStore::Run(sqlite3_stmt* statement, std::uint32_t matchId, std::int64_t value) const
{
    if (statement == nullptr)
        return false;
    sqlite3_reset(statement);
    sqlite3_bind_int64(statement, 1, matchId);
    if (sqlite3_bind_parameter_count(statement) >= 2)
        sqlite3_bind_int64(statement, 2, value);
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    return rc == SQLITE_DONE;
}

void CStatsStore::AddVisit(std::uint32_t matchId)
{
    std::lock_guard lock(m_mutex);
    Run(m_addVisit.get(), matchId, 0);
}

bool CStatsStore::AddRating(std::uint32_t matchId, std::uint8_t rating)
{
    if (rating < kMinRating || rating > kMaxRating)
        return false;
    std::lock_guard lock(m_mutex);
    return Run(m_addRating.get(), matchId, rating);
}

MatchStats CStatsStore::Stats(std::uint32_t matchId) const
{
    MatchStats stats;
    stats.m_matchId = matchId;
    std::lock_guard lock(m_mutex);
    sqlite3_stmt* statement = m_select.get();
    if (statement == nullptr)
        return stats;
    sqlite3_reset(statement);
    sqlite3_bind_int64(statement, 1, matchId);
    if (sqlite3_step(statement) == SQLITE_ROW)
    {
        stats.m_visits = Clamp32(sqlite3_column_int64(statement, 0));
        stats.m_ratingCount = Clamp32(sqlite3_column_int64(statement, 1));
        stats.m_ratingSum = Clamp32(sqlite3_column_int64(statement, 2));
    }
    sqlite3_reset(statement);
    return stats;
}

} // namespace velt
