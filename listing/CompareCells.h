#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velt
{

// The ordering of two list cells that both the desktop client's report list and `velt list` use.
// The first rule that accepts BOTH texts decides; the rule is chosen per pair, so a column that
// mixes kinds compares some pairs as numbers and others as text:
//   1. Hexadecimal integer: the text is non-empty and strtoul in base 16 consumes all of it
//      (leading blanks, a sign and a 0x prefix as strtoul takes them). Compared as unsigned
//      32-bit values, as a 32-bit strtoul would return them: "9" < "10", "1A" is 26, "-1" is
//      0xFFFFFFFF, and anything past 32 bits saturates at 0xFFFFFFFF.
//   2. Decimal number or percentage: the text is non-empty and strtod stops at its end or at a
//      "%" that is its last character ("2.5", "12%", "1e3"). Compared as doubles. Parsed in the
//      "C" locale whatever the process locale is, so "4.5" is a number everywhere.
//   3. Date and time, as a date parser of the user's locale accepts them. Accepted forms, with
//      optional blanks around the whole text:
//         date:  YYYY-MM-DD | MM/DD/YYYY | DD.MM.YYYY
//         time:  H:MM | H:MM:SS, optionally followed by AM or PM (any case, blank optional)
//         both:  date, one or more blanks, time
//      Years 100..9999, real calendar days, hours 0..23 (1..12 with AM/PM). A time alone is a
//      time of day 30 December 1899, a date alone is its midnight, as OLE dates count them.
//   4. Otherwise byte-wise comparison of the two texts (strcmp with unsigned bytes).
// Results are -1, 0 or 1: the first text sorts before, equal to, or after the second.
int CompareCells(std::string_view a, std::string_view b);

// What the rules know about one text, worked out once so that a sort can compare the same text
// many times without parsing it again. CompareCellKeys(MakeCellKey(a), MakeCellKey(b)) equals
// CompareCells(a, b) for all texts.
struct CellKey
{
    std::string_view m_text;
    std::optional<std::uint32_t> m_hex;
    std::optional<double> m_number;
    std::optional<std::int64_t> m_dateTime; // seconds since 1899-12-30 00:00
};

// The key refers to the text; the text must outlive it.
CellKey MakeCellKey(std::string_view text);
int CompareCellKeys(const CellKey& a, const CellKey& b);

// The single rules, for callers and tests that need one of them alone.
std::optional<std::uint32_t> ParseHexCell(std::string_view text);
std::optional<double> ParseNumberCell(std::string_view text);
std::optional<std::int64_t> ParseDateTimeCell(std::string_view text);

} // namespace velt
