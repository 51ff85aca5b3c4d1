// Command-line parsing and checked conversions of option values.
#include "options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-' || ToNumber(word)) {
            parsed.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            parsed.help = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> inlineValue;
        if (const auto eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = word.substr(0, eq);
            inlineValue = word.substr(eq + 1);
        }
        const OptionSpec* option = FindSpec(specs, name);
        if (!option) {
            throw UsageError("unknown option '" + name + "' for '" + command + "' (see 'orbimg " + command +
                             " --help')");
        }
        OptionUse use{option->name, {}};
        switch (option->value) {
        case OptionValue::None:
            if (inlineValue) {
                throw UsageError("option " + option->name + " takes no value");
            }
            break;
        case OptionValue::Required:
            if (inlineValue) {
                use.values.push_back(*inlineValue);
            } else if (i + 1 < args.size()) {
                use.values.push_back(args[++i]);
            } else {
                throw UsageError("option " + option->name + " needs a value (" + option->metavar + ")");
            }
            break;
        case OptionValue::OptionalCount:
            if (inlineValue) {
                use.values.push_back(*inlineValue);
            } else if (i + 1 < args.size() && ToInteger(args[i + 1])) {
                use.values.push_back(args[++i]);
            }
            break;
        case OptionValue::Points:
            if (inlineValue) {
                use.values.push_back(*inlineValue);
            }
            while (i + 1 < args.size() && LooksLikePoint(args[i + 1])) {
                use.values.push_back(args[++i]);
            }
            if (use.values.empty()) {
                throw UsageError("option " + option->name + " needs at least one " + option->metavar);
            }
            break;
        }
        parsed.options.push_back(std::move(use));
    }
    return parsed;
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
