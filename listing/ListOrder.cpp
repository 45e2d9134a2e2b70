#include "listing/ListOrder.h"

#include <numeric>
#include <utility>

#include "listing/CompareCells.h"

namespace velt
{

std::vector<std::size_t> SortRowOrder(const std::vector<std::string>& cells, bool ascending)
{
    std::vector<std::size_t> order(cells.size());
    std::iota(order.begin(), order.end(), 0);
    if (order.size() < 2)
        return order;
    std::vector<CellKey> keys;
    keys.reserve(cells.size());
    for (const auto& cell : cells)
        keys.push_back(MakeCellKey(cell));
    const int sign = ascending ? 1 : -1;
    const auto compare = [&](std::size_t a, std::size_t b) {
        return sign * CompareCellKeys(keys[a], keys[b]);
    };

    // Explicit stack for the left halves; the right half continues in the loop.
    std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> ranges{
        {0, static_cast<std::ptrdiff_t>(order.size()) - 1}};
    while (!ranges.empty())
    {
        auto [low, high] = ranges.back();
        ranges.pop_back();
        while (low < high)
        {
            const std::size_t pivot = order[static_cast<std::size_t>((low + high) / 2)];
            std::ptrdiff_t i = low, j = high;
            while (i <= j)
            {
                while (compare(order[static_cast<std::size_t>(i)], pivot) < 0)
                    ++i;
                while (compare(order[static_cast<std::size_t>(j)], pivot) > 0)
                    --j;
                if (i <= j)
                {
                    if (i != j)
                        std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
                    ++i;
                    --j;
                }
            }
            if (low < j)
                ranges.emplace_back(low, j);
            low = i;
        }
    }
    return order;
}

} // namespace velt
