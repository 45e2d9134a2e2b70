#pragma once

#include <string>
#include <vector>

namespace velt
{

// Exit statuses of the command line.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1; // the command ended on a failure the user was told of
inline constexpr int kExitUsage = 2;
// Stopped by the user: 128 plus the signal's number (StopExitStatus): 130 for SIGINT, 143 for
// SIGTERM.

int RunListCommand(const std::vector<std::string>& args);
int RunWatchCommand(const std::vector<std::string>& args);
int RunDemoCommand(const std::vector<std::string>& args);
// Hosts a replay file from disk as watch hosts a match (cli/PlayCommand.cpp).
int RunPlayCommand(const std::vector<std::string>& args);
// Watch and play with the local hosts' intervals given, for tests that shorten them. takeKeys:
// the viewer's keys are read when standard input is a terminal (the program's own commands); a
// test running the command in its process leaves its terminal alone.
struct HostTimings;
int RunWatchCommandWithTimings(const std::vector<std::string>& args, const HostTimings& timings,
                               bool takeKeys = false);
int RunPlayCommandWithTimings(const std::vector<std::string>& args, const HostTimings& timings,
                              bool takeKeys = false);

} // namespace velt
