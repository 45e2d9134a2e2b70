#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "host/HostTimings.h"

namespace velt::test
{

// A command of the command line, run in-process, with what it printed.
struct CommandRun
{
    int m_status = -1;
    std::string m_out;
    std::string m_err;
};

inline CommandRun RunCommand(int (*command)(const std::vector<std::string>&),
                             const std::vector<std::string>& args)
{
    CommandRun run;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run.m_status = command(args);
    run.m_out = ::testing::internal::GetCapturedStdout();
    run.m_err = ::testing::internal::GetCapturedStderr();
    return run;
}

// The hosts of these announce and start at once, so that a game joins and plays within a
// moment instead of after the first announcement's 2 s.
inline HostTimings QuickHostTimings()
{
    HostTimings timings;
    timings.m_announceIntervalMs = 50;
    timings.m_startPauseMs = 50;
    timings.m_stopWaitMs = 200;
    return timings;
}

inline int RunQuickWatch(const std::vector<std::string>& args)
{
    return RunWatchCommandWithTimings(args, QuickHostTimings());
}

inline int RunQuickPlay(const std::vector<std::string>& args)
{
    return RunPlayCommandWithTimings(args, QuickHostTimings());
}

} // namespace velt::test
