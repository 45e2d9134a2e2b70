#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace velt
{

// The order in which the report list shows rows after a sort on one column: a quicksort over
// the row numbers with CompareCells, middle pivot, not stable. Sharing it keeps `velt list` in
// exactly the desktop list's order, ties included. Returns the row numbers in display order.
std::vector<std::size_t> SortRowOrder(const std::vector<std::string>& cells, bool ascending);

} // namespace velt
