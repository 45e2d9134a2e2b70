#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velt
{

// The words of one command: options "--name VALUE" or "--name=VALUE" (some repeatable), flags
// "--name", and positional arguments. Anything else is a usage error with a readable text.
class CCommandLine
{
public:
    struct Grammar
    {
        std::set<std::string> m_valueOptions; // take a value
        std::set<std::string> m_flags;        // take none
    };

    // Parses args (without the program and command names). On a usage error returns nothing
    // and sets error.
    static std::optional<CCommandLine> Parse(const std::vector<std::string>& args,
                                             const Grammar& grammar, std::string& error);

    bool Has(const std::string& name) const;
    std::optional<std::string> Value(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return m_positional; }

    // A whole number within [minimum, maximum], or an error text naming the option.
    std::optional<long long> Number(const std::string& name, long long minimum, long long maximum,
                                    std::string& error) const;

private:
    std::map<std::string, std::string> m_values;
    std::set<std::string> m_flags;
    std::vector<std::string> m_positional;
};

// A whole number from text, within [minimum, maximum].
std::optional<long long> ParseWholeNumber(const std::string& text, long long minimum,
                                          long long maximum);

} // namespace velt
