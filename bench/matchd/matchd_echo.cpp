// The reference server of the bulk load: on the same library and with the same threads as
// velt-matchd, it answers each data request with a full chunk of the same size, prepared once.
//
//   matchd_echo [--threads N]      prints "listening on 127.0.0.1:PORT", runs until killed
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/matchd/CEchoConnection.h"
#include "server/MatchServerMessages.h"

int main(int argc, char** argv)
{
    using namespace velt;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    if (argc == 3 && std::string(argv[1]) == "--threads")
        threads = static_cast<unsigned>(std::stoul(argv[2]));
    const std::vector<std::uint8_t> data(kFullChunkSize, 0x5A);
    GameDataChunk chunk;
    chunk.m_matchId = 1;
    chunk.m_count = kFullChunkSize;
    chunk.m_data = data;
    chunk.m_matchSeconds = 600;
    const std::vector<std::uint8_t> answer = BuildGameDataChunk(chunk);

    // As velt-matchd: one event loop per thread, connections dealt out in turn.
    std::vector<std::unique_ptr<asio::io_context>> loops;
    for (unsigned i = 0; i < threads; ++i)
        loops.push_back(std::make_unique<asio::io_context>(1));
    asio::ip::tcp::acceptor acceptor(
        *loops.front(), asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    acceptor.listen(4096);
    std::size_t next = 0;
    std::function<void()> accept = [&]
    {
        acceptor.async_accept(
            *loops[next++ % loops.size()],
            [&](const std::error_code& error, asio::ip::tcp::socket socket)
            {
                if (!error)
                    std::make_shared<bench::CEchoConnection>(std::move(socket), answer)->Start();
                accept();
            });
    };
    accept();
    std::printf("listening on 127.0.0.1:%u\n", acceptor.local_endpoint().port());
    std::fflush(stdout);
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < threads; ++i)
    {
        auto work = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(
            asio::make_work_guard(*loops[i]));
        pool.emplace_back([&, i, work] { loops[i]->run(); });
    }
    loops.front()->run();
    for (std::thread& thread : pool)
        thread.join();
    return 0;
}
