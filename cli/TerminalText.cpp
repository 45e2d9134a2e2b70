#include "cli/TerminalText.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Terminal.h"
#include "platform/Utf8.h"

namespace velt
{

namespace
{

constexpr char32_t kReplacement = 0xFFFD;

// The code points of well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF), or nothing.
std::optional<std::vector<char32_t>> DecodeUtf8(std::string_view text)
{
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
    {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t extra = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead < 0x80)
            code = lead;
        else if ((lead & 0xE0) == 0xC0)
            extra = 1, code = lead & 0x1F, minimum = 0x80;
        else if ((lead & 0xF0) == 0xE0)
            extra = 2, code = lead & 0x0F, minimum = 0x800;
        else if ((lead & 0xF8) == 0xF0)
            extra = 3, code = lead & 0x07, minimum = 0x10000;
        else
            return std::nullopt;
        if (extra > text.size() - i - 1)
            return std::nullopt;
        for (std::size_t k = 1; k <= extra; ++k)
        {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        out.push_back(code);
        i += extra + 1;
    }
    return out;
}

char32_t Printable(char32_t code)
{
    if (code == '\t' || code == '\n' || code == '\r')
        return ' ';
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
        return kReplacement;
    return code;
}

} // namespace

std::string TerminalText(std::string_view text)
{
    std::vector<char32_t> codes;
    if (auto decoded = DecodeUtf8(text))
        codes = std::move(*decoded);
    else
        for (const char c : text)
            codes.push_back(static_cast<std::uint8_t>(c)); // Latin-1: each byte is its code point
    std::string out;
    out.reserve(text.size());
    for (const char32_t code : codes)
        AppendUtf8(out, Printable(code));
    return out;
}

std::size_t TerminalWidth(std::string_view text)
{
    std::size_t width = 0;
    if (const auto codes = DecodeUtf8(text))
        for (const char32_t code : *codes)
            width += CharacterColumns(code);
    return width;
}

} // namespace velt
