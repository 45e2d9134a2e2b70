#include "cli/CommandLine.h"

#include <charconv>

namespace velt
{

std::optional<CCommandLine> CCommandLine::Parse(const std::vector<std::string>& args,
                                                const Grammar& grammar, std::string& error)
{
    CCommandLine line;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        // "--" ends the options, as in other programs: a file may then begin with a dash.
        if (optionsEnded)
        {
            line.m_positional.push_back(arg);
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0)
        {
            if (arg.size() > 1 && arg[0] == '-' && arg != "-")
            {
                error = "unknown option '" + arg + "'";
                return std::nullopt;
            }
            line.m_positional.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('='); equals != std::string::npos)
        {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        if (grammar.m_flags.count(name) != 0)
        {
            if (inlineValue)
            {
                error = "option '--" + name + "' takes no value";
                return std::nullopt;
            }
            line.m_flags.insert(name);
            continue;
        }
        if (grammar.m_valueOptions.count(name) == 0)
        {
            error = "unknown option '--" + name + "'";
            return std::nullopt;
        }
        if (!inlineValue)
        {
            if (i + 1 >= args.size())
            {
                error = "option '--" + name + "' needs a value";
                return std::nullopt;
            }
            inlineValue = args[++i];
        }
        line.m_values[name] = *inlineValue;
    }
    return line;
}

bool CCommandLine::Has(const std::string& name) const
{
    return m_flags.count(name) != 0 || m_values.count(name) != 0;
}

std::optional<std::string> CCommandLine::Value(const std::string& name) const
{
    const auto it = m_values.find(name);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

std::optional<long long> CCommandLine::Number(const std::string& name, long long minimum,
                                              long long maximum, std::string& error) const
{
    const auto text = Value(name);
    if (!text)
        return std::nullopt;
    auto value = ParseWholeNumber(*text, minimum, maximum);
    if (!value)
        error = "option '--" + name + "' needs a whole number from " + std::to_string(minimum) +
                " to " + std::to_string(maximum) + ", not '" + *text + "'";
    return value;
}

std::optional<long long> ParseWholeNumber(const std::string& text, long long minimum,
                                          long long maximum)
{
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

} // namespace velt
