// Command-line parsing and checked conversions of option values.
#include "options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orbimg::tool {
namespace {

[[noreturn]] void BadValue(const std::string& what, const std::string& text, const std::string& expected)
{
    throw UsageError("bad value for " + what + ": '" + text + "' (expected " + expected + ")");
}

/// The whole word as a finite double, or nothing.
std::optional<double> ToNumber(const std::string& text)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

/// The whole word as a whole number (optional sign, digits), or nothing.
std::optional<long long> ToInteger(const std::string& text)
{
    std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size() || text.size() - i > 12) {
        return std::nullopt;
    }
    for (std::size_t k = i; k < text.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) {
            return std::nullopt;
        }
    }
    return std::strtoll(text.c_str(), nullptr, 10);
}

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(sep, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

std::string ToLower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool LooksLikePoint(const std::string& word)
{
    const auto parts = Split(word, ',');
    return parts.size() == 2 && ToNumber(parts[0]) && ToNumber(parts[1]);
}

const OptionSpec* FindSpec(const std::vector<OptionSpec>& specs, const std::string& word)
{
    for (const auto& option : specs) {
        if (word == option.name || (!option.alias.empty() && word == option.alias)) {
            return &option;
        }
    }
    return nullptr;
}

/// CLI11 reads the words (names, aliases, `--name=value`, a value taken
/// whatever it is, `--`). Each option reports as it is read; the words CLI11
/// leaves (positional words, unknown options, the `--`) wait in its
/// `missing_`, in order, and are taken in between: so the words keep their
/// order, a bare --auto or --at takes the words that follow it by their
/// shape, and any other word before `--` that starts with '-' and is not a
/// number is an unknown option.
class Builder : public CLI::App {
public:
    Builder(const std::vector<OptionSpec>& specs, const std::string& command) : m_specs(specs), m_command(command)
    {
        set_help_flag();
        allow_extras();
        const auto add = [this](const std::string& names, const OptionSpec* entry) {  // entry null: --help
            const int values = entry && entry->value == OptionValue::Required ? 1 : 0;
            add_option(names,
                       [this, entry](const CLI::results_t& results) {
                           Use(entry, results.empty() ? std::string() : results.back());
                           m_parsed.help = m_parsed.help || !entry;
                           return true;
                       })
                ->expected(values, values)
                ->trigger_on_parse();
        };
        for (const auto& entry : specs) {
            add(entry.alias.empty() ? entry.name : entry.alias + "," + entry.name, &entry);
        }
        add("-h,--help", nullptr);
    }

    ParsedArgs Parse(const std::vector<std::string>& args)
    {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        try {
            parse(reversed);
        } catch (const CLI::ArgumentMismatch& e) {
            // The one way to run short: an option needing a value is the last word.
            Use(nullptr, "");
            const OptionSpec* option = FindSpec(m_specs, args.back());
            throw UsageError(option ? "option " + option->name + " needs a value (" + option->metavar + ")"
                                    : std::string(e.what()));
        } catch (const CLI::ParseError& e) {
            throw UsageError(e.what());
        }
        Use(nullptr, "");
        return std::move(m_parsed);
    }

private:
    /// Takes the words CLI11 left since the last option, then the option
    /// (null: --help, or the end of the words).
    void Use(const OptionSpec* entry, const std::string& value)
    {
        for (; m_taken < missing_.size(); ++m_taken) {
            const auto& [kind, word] = missing_[m_taken];
            const bool point = m_open && m_open->value == OptionValue::Points && LooksLikePoint(word);
            if (kind == CLI::detail::Classifier::POSITIONAL_MARK) {
                Close();
                m_ended = true;
            } else if (!m_ended && word.size() > 1 && word[0] == '-' && !ToNumber(word) && !point) {
                Close();
                const std::string name = word.rfind("--", 0) == 0 ? word.substr(0, word.find('=')) : word;
                throw UsageError("unknown option '" + name + "' for '" + m_command + "' (see 'orbimg " + m_command +
                                 " --help')");
            } else if (point || (m_open && m_open->value == OptionValue::OptionalCount && ToInteger(word))) {
                m_parsed.options.back().values.push_back(word);
                m_open = point ? m_open : nullptr;
            } else {
                Close();
                m_parsed.positional.push_back(word);
            }
        }
        Close();
        if (!entry) {
            return;
        }
        if (entry->value == OptionValue::None && !value.empty()) {
            throw UsageError("option " + entry->name + " takes no value");
        }
        m_parsed.options.push_back(OptionUse{entry->name, {}});
        if (!value.empty() || entry->value == OptionValue::Required) {
            m_parsed.options.back().values.push_back(value);
        }
        if (entry->value == OptionValue::Points || (entry->value == OptionValue::OptionalCount && value.empty())) {
            m_open = entry;
        }
    }

    /// Ends the words a bare --auto or an --at takes.
    void Close()
    {
        if (m_open && m_open->value == OptionValue::Points && m_parsed.options.back().values.empty()) {
            throw UsageError("option " + m_open->name + " needs at least one " + m_open->metavar);
        }
        m_open = nullptr;
    }

    const std::vector<OptionSpec>& m_specs;
    std::string m_command;
    ParsedArgs m_parsed;
    std::size_t m_taken = 0;             ///< words of missing_ taken
    bool m_ended = false;                ///< past the `--`
    const OptionSpec* m_open = nullptr;  ///< the --auto or --at still taking words
};

}  // namespace

bool ParsedArgs::Has(const std::string& name) const
{
    for (const auto& use : options) {
        if (use.name == name) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> ParsedArgs::Value(const std::string& name) const
{
    std::optional<std::string> value;
    for (const auto& use : options) {
        if (use.name == name && !use.values.empty()) {
            value = use.values.back();
        }
    }
    return value;
}

std::vector<std::string> ParsedArgs::Values(const std::string& name) const
{
    std::vector<std::string> values;
    for (const auto& use : options) {
        if (use.name == name) {
            values.insert(values.end(), use.values.begin(), use.values.end());
        }
    }
    return values;
}

ParsedArgs ParseArgs(const std::vector<OptionSpec>& specs, const std::vector<std::string>& args,
                     const std::string& command)
{
    return Builder(specs, command).Parse(args);
}

double ParseNumber(const std::string& text, const std::string& what)
{
    const auto v = ToNumber(text);
    if (!v) {
        BadValue(what, text, "a number");
    }
    return *v;
}

double ParseNumber(const std::string& text, const std::string& what, double lo, double hi)
{
    const auto v = ToNumber(text);
    if (!v || *v < lo || *v > hi) {
        char expected[96];
        std::snprintf(expected, sizeof expected, "a number from %g to %g", lo, hi);
        BadValue(what, text, expected);
    }
    return *v;
}

int ParseInt(const std::string& text, const std::string& what, int lo, int hi)
{
    const auto v = ToInteger(text);
    if (!v || *v < lo || *v > hi) {
        BadValue(what, text, "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return static_cast<int>(*v);
}

FitsPoint ParsePoint(const std::string& text, const std::string& what)
{
    const auto parts = Split(text, ',');
    if (parts.size() == 2) {
        const auto x = ToNumber(parts[0]);
        const auto y = ToNumber(parts[1]);
        if (x && y) {
            return FitsPoint{*x, *y};
        }
    }
    BadValue(what, text, "X,Y");
}

PixelSize ParseSize(const std::string& text, const std::string& what, int maxSide)
{
    const std::string expected = "WxH, whole numbers from 1 to " + std::to_string(maxSide);
    std::size_t x = text.find('x');
    if (x == std::string::npos) {
        x = text.find('X');
    }
    if (x == std::string::npos) {
        BadValue(what, text, expected);
    }
    const auto w = ToInteger(text.substr(0, x));
    const auto h = ToInteger(text.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > maxSide || *h > maxSide) {
        BadValue(what, text, expected);
    }
    return PixelSize{static_cast<int>(*w), static_cast<int>(*h)};
}

FitsRect ParseRect(const std::string& text, const std::string& what)
{
    const auto parts = Split(text, ',');
    if (parts.size() == 4) {
        long long v[4];
        bool ok = true;
        for (int k = 0; k < 4; ++k) {
            const auto n = ToInteger(parts[k]);
            ok = ok && n && *n >= -1000000000LL && *n <= 1000000000LL;
            v[k] = n.value_or(0);
        }
        if (ok) {
            return FitsRect{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                            static_cast<int>(v[3])};
        }
    }
    BadValue(what, text, "X0,Y0,X1,Y1 in whole pixels");
}

std::pair<double, double> ParseRange(const std::string& text, const std::string& what)
{
    const auto parts = Split(text, ',');
    if (parts.size() == 2) {
        const auto lo = ToNumber(parts[0]);
        const auto hi = ToNumber(parts[1]);
        if (lo && hi && *lo < *hi) {
            return {*lo, *hi};
        }
    }
    BadValue(what, text, "MIN,MAX with MIN below MAX");
}

std::string ParseChoice(const std::string& text, const std::string& what, std::initializer_list<const char*> choices)
{
    const std::string lower = ToLower(text);
    std::string list;
    for (const char* choice : choices) {
        if (ToLower(choice) == lower) {
            return choice;
        }
        if (!list.empty()) {
            list += '|';
        }
        list += choice;
    }
    BadValue(what, text, list);
}

std::string LowerExtension(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    return ToLower(path.substr(dot));
}

}  // namespace orbimg::tool
