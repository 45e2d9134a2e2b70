#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

} // namespace velt::test
