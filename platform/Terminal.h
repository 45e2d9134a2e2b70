#pragma once

#include <cstddef>
#include <string_view>

namespace velt
{

// A text console that a line can be redrawn on: whether the stream is a terminal at all (not a
// pipe or a file), how many columns it shows, and a raw write. Front ends draw status lines
// through it, tests through a recording one.
class ITerminal
{
public:
    virtual ~ITerminal() = default;
    virtual bool IsTerminal() = 0;
    // The visible width in columns; 0 when unknown.
    virtual std::size_t Columns() = 0;
    // Writes the bytes as they are and flushes them.
    virtual void Write(std::string_view bytes) = 0;
};

// The process's standard error, asked afresh each time (the window may be resized).
ITerminal& StandardErrorTerminal();

// The columns a printable character takes on a terminal, as the system's own character tables
// tell: 2 for wide and full-width characters (most of Chinese, Japanese and Korean), 0 for
// marks that combine with the character before, 1 for the rest.
std::size_t CharacterColumns(char32_t code);

} // namespace velt
