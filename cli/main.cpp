#include <cstdio>
#include <cstring>

#include "platform/Socket.h"

namespace
{

constexpr const char* kUsage = R"(Usage: velt COMMAND [OPTIONS]

Watch Warcraft III matches that a VELT match server streams, without the desktop client.

Commands:
  list     Connect to the match server and print the channel's match list.
  watch    Watch one match: host it as a LAN game for Warcraft III on 127.0.0.1.

Run 'velt COMMAND --help' for the options of a command.
)";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
    {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (!velt::SocketLayerStart())
        return 1;
    std::fprintf(stderr, "velt: unknown command '%s'\n", argv[1]);
    std::fputs(kUsage, stderr);
    return 2;
}
