#include "tests/tools/matchd/CStateLockHolder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velt::test
{

bool CStateLockHolder::Hold(const std::string& path)
{
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    const std::string filter = std::string("--gtest_filter=") + kFilter;
    char self[] = "/proc/self/exe";
    char* argv[] = {self, const_cast<char*>(filter.c_str()),
                    const_cast<char*>("--gtest_also_run_disabled_tests"), nullptr};
    setenv(kPathVariable, path.c_str(), 1);
    const int spawned = posix_spawn(&m_pid, self, &actions, nullptr, argv, environ);
    unsetenv(kPathVariable);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    m_toChild = toChild[1];
    if (spawned != 0)
    {
        m_pid = -1;
        close(fromChild[0]);
        return false;
    }
    // The test framework prints lines of its own before the holder's.
    FILE* lines = fdopen(fromChild[0], "r");
    char line[512];
    bool held = false;
    while (!held && lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr)
        held = std::strncmp(line, kHeldLine, std::strlen(kHeldLine)) == 0;
    if (lines != nullptr)
        std::fclose(lines);
    return held;
}

void CStateLockHolder::Release()
{
    if (m_toChild >= 0)
        close(m_toChild);
    m_toChild = -1;
    if (m_pid > 0)
        waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

int CStateLockHolder::HoldUntilInputCloses(const std::string& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 1;
    std::printf("%s\n", kHeldLine);
    std::fflush(stdout);
    char byte = 0;
    while (read(0, &byte, 1) > 0)
    {
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}

} // namespace velt::test
