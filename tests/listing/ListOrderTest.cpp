#include <gtest/gtest.h>

#include <algorithm>

#include "listing/CompareCells.h"
#include "listing/ListOrder.h"
#include "server/ServerAddress.h"

using namespace velt;

namespace
{

std::vector<std::string> Apply(const std::vector<std::string>& cells, const std::vector<std::size_t>& order)
{
    std::vector<std::string> out;
    for (auto i : order)
        out.push_back(cells[i]);
    return out;
}

} // namespace

struct OrderCase
{
    const char* name;
    std::vector<std::string> cells;
    bool ascending;
    std::vector<std::string> expected;
};

class SortRowOrderTest : public ::testing::TestWithParam<OrderCase>
{
};

TEST_P(SortRowOrderTest, OrdersByTheCellRules)
{
    const auto& c = GetParam();
    EXPECT_EQ(Apply(c.cells, SortRowOrder(c.cells, c.ascending)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SortRowOrderTest,
    ::testing::Values(
        OrderCase{"empty", {}, false, {}},
        OrderCase{"one", {"x"}, true, {"x"}},
        OrderCase{"numbers", {"10", "9", "100", "1"}, true, {"1", "9", "10", "100"}},
        OrderCase{"startTimesDescending",
                  {"2026-12-01 10:00", "2026-12-07 09:30", "2026-11-30 23:59", "2026-12-07 21:00"},
                  false,
                  {"2026-12-07 21:00", "2026-12-07 09:30", "2026-12-01 10:00", "2026-11-30 23:59"}},
        OrderCase{"text", {"Live!", "Broken", "Completed"}, true, {"Broken", "Completed", "Live!"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SortRowOrderTest, ManyRowsWithTiesEndSortedAndKeepEveryRow)
{
    std::vector<std::string> cells;
    for (int i = 0; i < 500; ++i)
        cells.push_back(std::to_string((i * 7919) % 37));
    const auto order = SortRowOrder(cells, false);
    auto sortedRows = order;
    std::sort(sortedRows.begin(), sortedRows.end());
    for (std::size_t i = 0; i < sortedRows.size(); ++i)
        ASSERT_EQ(sortedRows[i], i);
    for (std::size_t i = 1; i < order.size(); ++i)
        ASSERT_GE(CompareCells(cells[order[i - 1]], cells[order[i]]), 0);
}

struct AddressCase
{
    const char* text;
    bool valid;
    const char* host;
    std::uint16_t port;
};

class ServerAddressTest : public ::testing::TestWithParam<AddressCase>
{
};

TEST_P(ServerAddressTest, HostAndOptionalPort)
{
    const auto& c = GetParam();
    const auto address = ParseServerAddress(c.text);
    ASSERT_EQ(address.has_value(), c.valid) << c.text;
    if (address)
    {
        EXPECT_EQ(address->m_host, c.host);
        EXPECT_EQ(address->m_port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ServerAddressTest,
                         ::testing::Values(AddressCase{"example.org", true, "example.org", 999},
                                           AddressCase{"127.0.0.1:4000", true, "127.0.0.1", 4000},
                                           AddressCase{"host:65535", true, "host", 65535},
                                           AddressCase{"host:0", false, "", 0},
                                           AddressCase{"host:65536", false, "", 0},
                                           AddressCase{"host:", false, "", 0},
                                           AddressCase{"host:12x", false, "", 0},
                                           AddressCase{":999", false, "", 0},
                                           AddressCase{"", false, "", 0}));
