#pragma once

#include <string>
#include <sys/types.h>

namespace velt::test
{

// Another process that holds the write lock of a statistics file until released: this test
// program run again with only the holder test, which takes the lock, says so and waits.
class CStateLockHolder
{
public:
    // The holder test's name and the variable that hands it the file.
    static constexpr const char* kFilter = "StateLockHolder.DISABLED_HoldsTheWriteLock";
    static constexpr const char* kPathVariable = "VELT_LOCK_STATE_FILE";
    static constexpr const char* kHeldLine = "velt-lock-held";

    CStateLockHolder() = default;
    ~CStateLockHolder() { Release(); }
    CStateLockHolder(const CStateLockHolder&) = delete;
    CStateLockHolder& operator=(const CStateLockHolder&) = delete;

    // Starts the process and waits until it holds the lock.
    bool Hold(const std::string& path);
    // Ends the process; the lock goes with it.
    void Release();

    // The holder's side, in the process started by Hold: takes the lock, tells the parent,
    // keeps it until its input closes.
    static int HoldUntilInputCloses(const std::string& path);

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
};

} // namespace velt::test
