#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "server/MatchStats.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velt
{

// Visits and ratings per match, kept in SQLite: in a file when the server is given one, so
// that they survive a restart, otherwise in memory. A build without SQLite keeps them in memory
// only and refuses a file. Any thread may call; one lock serialises the statements.
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

    CStatsStore();
    ~CStatsStore();
    CStatsStore(const CStatsStore&) = delete;
    CStatsStore& operator=(const CStatsStore&) = delete;

    // Opens (creating when missing) the database file; an empty path keeps the counts in
    // memory. False with LastError() when the file cannot be opened or is not ours.
    bool Open(const std::string& path);
    std::string LastError() const;

    void AddVisit(std::uint32_t matchId);
    // Only ratings of 1 to 5 count; false for any other.
    bool AddRating(std::uint32_t matchId, std::uint8_t rating);
    // All zero for a match nobody visited or rated.
    MatchStats Stats(std::uint32_t matchId) const;

private:
#ifdef VELT_STATS_IN_MEMORY
    mutable std::mutex m_mutex;
    std::unordered_map<std::uint32_t, MatchStats> m_counts;
    bool m_open = false; // counts nothing until opened, as a store without a database
    std::string m_error;
#else
    struct DatabaseCloser
    {
        void operator()(sqlite3* db) const;
    };
    struct StatementFinalizer
    {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

    bool Prepare(const char* sql, Statement& out);
    bool Run(sqlite3_stmt* statement, std::uint32_t matchId, std::int64_t value) const;
    void Fail(const std::string& what);

    mutable std::mutex m_mutex;
    std::unique_ptr<sqlite3, DatabaseCloser> m_db;
    Statement m_addVisit;
    Statement m_addRating;
    Statement m_select;
    std::string m_error;
#endif
};

} // namespace velt
