#pragma once

#include <QColor>

#include <cstdint>
#include <vector>

namespace velt
{

// A colour as the list keeps it: 0x00BBGGRR, red in the low byte.
using ColorRef = std::uint32_t;

// The "no particular colour" argument: the system's window text colour.
constexpr ColorRef kDefaultColor = 0xFFFFFFFFu;

constexpr ColorRef MakeColorRef(int red, int green, int blue)
{
    return static_cast<ColorRef>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}

inline QColor ToQColor(ColorRef color)
{
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

inline ColorRef FromQColor(const QColor& color)
{
    return MakeColorRef(color.red(), color.green(), color.blue());
}

// What the report list keeps per row: the caller's data word and a text and background colour
// per column. Both colour arrays have at least as many entries as the list has columns.
struct ListRowData
{
    std::uint32_t m_userData = 0;
    std::vector<ColorRef> m_textColors;
    std::vector<ColorRef> m_backColors;
};

} // namespace velt
