#include "listing/CompareCells.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace velt
{

namespace
{

constexpr std::uint32_t kU32Max = 0xFFFFFFFFu;
constexpr std::int64_t kSecondsPerDay = 86400;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The text as strcmp sees it: up to the first NUL.
std::string_view AsCString(std::string_view text)
{
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = static_cast<int>(year - era * 400);
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A small cursor over the date/time text.
class CDateScanner
{
public:
    explicit CDateScanner(std::string_view text) : m_text(text) {}

    bool AtEnd() const { return m_pos == m_text.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }

    // Reads minDigits..maxDigits decimal digits.
    std::optional<int> Number(std::size_t minDigits, std::size_t maxDigits)
    {
        std::size_t count = 0;
        int value = 0;
        while (count < maxDigits && m_pos < m_text.size() && IsDigit(m_text[m_pos]))
        {
            value = value * 10 + (m_text[m_pos] - '0');
            ++m_pos;
            ++count;
        }
        if (count < minDigits)
            return std::nullopt;
        if (m_pos < m_text.size() && IsDigit(m_text[m_pos]))
            return std::nullopt;
        return value;
    }

    bool Accept(char c)
    {
        if (Peek() != c || AtEnd())
            return false;
        ++m_pos;
        return true;
    }

    std::size_t SkipBlanks()
    {
        std::size_t count = 0;
        while (!AtEnd() && IsBlank(m_text[m_pos]))
        {
            ++m_pos;
            ++count;
        }
        return count;
    }

    bool AcceptWordNoCase(std::string_view word)
    {
        if (m_text.size() - m_pos < word.size())
            return false;
        for (std::size_t i = 0; i < word.size(); ++i)
        {
            char c = m_text[m_pos + i];
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            if (c != word[i])
                return false;
        }
        m_pos += word.size();
        return true;
    }

    std::size_t Position() const { return m_pos; }
    void Rewind(std::size_t pos) { m_pos = pos; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

struct CivilDate
{
    int m_year = 0;
    int m_month = 0;
    int m_day = 0;
};

// YYYY-MM-DD, MM/DD/YYYY or DD.MM.YYYY.
std::optional<CivilDate> ScanDate(CDateScanner& scan)
{
    const std::size_t start = scan.Position();
    const auto first = scan.Number(1, 4);
    if (!first)
        return std::nullopt;
    const std::size_t firstDigits = scan.Position() - start;
    const char separator = scan.Peek();
    if ((separator != '-' && separator != '/' && separator != '.') || !scan.Accept(separator))
        return std::nullopt;
    const auto second = scan.Number(1, 2);
    if (!second || !scan.Accept(separator))
        return std::nullopt;
    CivilDate date;
    if (separator == '-')
    {
        const auto third = scan.Number(1, 2);
        if (firstDigits != 4 || !third)
            return std::nullopt;
        date = {*first, *second, *third};
    }
    else
    {
        const auto year = scan.Number(4, 4);
        if (firstDigits > 2 || !year)
            return std::nullopt;
        date = separator == '/' ? CivilDate{*year, *first, *second}
                                : CivilDate{*year, *second, *first};
    }
    if (date.m_year < 100 || date.m_year > 9999 || date.m_month < 1 || date.m_month > 12 ||
        date.m_day < 1 || date.m_day > DaysInMonth(date.m_year, date.m_month))
        return std::nullopt;
    return date;
}

// H:MM[:SS] [AM|PM]; seconds of the day.
std::optional<std::int64_t> ScanTime(CDateScanner& scan)
{
    const auto hour = scan.Number(1, 2);
    if (!hour || !scan.Accept(':'))
        return std::nullopt;
    const auto minute = scan.Number(1, 2);
    if (!minute || *minute > 59)
        return std::nullopt;
    int second = 0;
    if (scan.Accept(':'))
    {
        const auto parsed = scan.Number(1, 2);
        if (!parsed || *parsed > 59)
            return std::nullopt;
        second = *parsed;
    }
    int hour24 = *hour;
    const std::size_t beforeMarker = scan.Position();
    scan.SkipBlanks();
    const bool am = scan.AcceptWordNoCase("AM");
    const bool pm = !am && scan.AcceptWordNoCase("PM");
    if (am || pm)
    {
        if (hour24 < 1 || hour24 > 12)
            return std::nullopt;
        hour24 = hour24 % 12 + (pm ? 12 : 0);
    }
    else
    {
        scan.Rewind(beforeMarker);
        if (hour24 > 23)
            return std::nullopt;
    }
    return std::int64_t{hour24} * 3600 + std::int64_t{*minute} * 60 + second;
}

} // namespace

std::optional<std::uint32_t> ParseHexCell(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    const std::string copy(text);
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(begin, &end, 16);
    const bool overflow = errno == ERANGE;
    if (end != begin + copy.size())
        return std::nullopt;
    // A 32-bit strtoul: negation happens in 32 bits, and magnitudes past 32 bits saturate.
    std::size_t signPos = 0;
    while (signPos < copy.size() && IsBlank(copy[signPos]))
        ++signPos;
    const bool negative = signPos < copy.size() && copy[signPos] == '-';
    const unsigned long magnitude = negative ? 0UL - value : value;
    if (overflow || magnitude > kU32Max)
        return kU32Max;
    const auto low = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - low) : low;
}

std::optional<double> ParseNumberCell(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    // strtod's syntax in the "C" locale: blanks, one sign, then a decimal or 0x-hex float, "inf"
    // or "nan"; std::from_chars does the rest without looking at the process locale.
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    if (pos >= text.size() || text[pos] == '+' || text[pos] == '-')
        return std::nullopt;
    auto format = std::chars_format::general;
    if (text.size() - pos > 2 && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X'))
    {
        const char next = text[pos + 2];
        const bool hexDigit =
            IsDigit(next) || (next >= 'a' && next <= 'f') || (next >= 'A' && next <= 'F');
        if (hexDigit || next == '.')
        {
            format = std::chars_format::hex;
            pos += 2;
        }
    }
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(first, last, value, format);
    if (ec == std::errc::invalid_argument)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range)
    {
        const std::string_view digits(first, static_cast<std::size_t>(ptr - first));
        const auto exponent = digits.find_first_of(format == std::chars_format::hex ? "pP" : "eE");
        const bool tiny = exponent != std::string_view::npos && exponent + 1 < digits.size() &&
                          digits[exponent + 1] == '-';
        value = tiny ? 0.0 : HUGE_VAL;
    }
    const bool atEnd = ptr == last;
    const bool atFinalPercent = ptr + 1 == last && *ptr == '%';
    if (!atEnd && !atFinalPercent)
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<std::int64_t> ParseDateTimeCell(std::string_view text)
{
    text = Trim(text);
    if (text.empty())
        return std::nullopt;
    CDateScanner scan(text);
    std::int64_t days = 0;
    std::int64_t seconds = 0;
    if (const auto date = ScanDate(scan))
    {
        days =
            DaysFromCivil(date->m_year, date->m_month, date->m_day) - DaysFromCivil(1899, 12, 30);
        if (!scan.AtEnd())
        {
            if (scan.SkipBlanks() == 0)
                return std::nullopt;
            const auto time = ScanTime(scan);
            if (!time)
                return std::nullopt;
            seconds = *time;
        }
    }
    else
    {
        scan.Rewind(0);
        const auto time = ScanTime(scan);
        if (!time)
            return std::nullopt;
        seconds = *time;
    }
    if (!scan.AtEnd())
        return std::nullopt;
    return days * kSecondsPerDay + seconds;
}

CellKey MakeCellKey(std::string_view text)
{
    return CellKey{text, ParseHexCell(text), ParseNumberCell(text), ParseDateTimeCell(text)};
}

int CompareCellKeys(const CellKey& a, const CellKey& b)
{
    const auto sign = [](auto x, auto y) { return x < y ? -1 : (x > y ? 1 : 0); };
    if (a.m_hex && b.m_hex)
        return sign(*a.m_hex, *b.m_hex);
    if (a.m_number && b.m_number)
        return sign(*a.m_number, *b.m_number);
    if (a.m_dateTime && b.m_dateTime)
        return sign(*a.m_dateTime, *b.m_dateTime);
    const std::string_view x = AsCString(a.m_text);
    const std::string_view y = AsCString(b.m_text);
    const std::size_t common = x.size() < y.size() ? x.size() : y.size();
    for (std::size_t i = 0; i < common; ++i)
    {
        const auto cx = static_cast<unsigned char>(x[i]);
        const auto cy = static_cast<unsigned char>(y[i]);
        if (cx != cy)
            return cx < cy ? -1 : 1;
    }
    return sign(x.size(), y.size());
}

int CompareCells(std::string_view a, std::string_view b)
{
    return CompareCellKeys(MakeCellKey(a), MakeCellKey(b));
}

} // namespace velt
