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
// Watch and play with the local hosts' intervals given, for tests that shorten them.
struct HostTimings;
int RunWatchCommandWithTimings(const std::vector<std::string>& args, const HostTimings& timings);
int RunPlayCommandWithTimings(const std::vector<std::string>& args, const HostTimings& timings);

} // namespace velt
