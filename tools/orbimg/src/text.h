// Numbers as the tool prints them.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace orbimg::tool {

/// printf-style formatting of one number; "-" for NaN.
inline std::string Format(const char* format, double v)
{
    if (std::isnan(v)) {
        return "-";
    }
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

/// Seven significant digits (%.7g), as the image statistics are printed.
inline std::string Number(double v) { return Format("%.7g", v); }

/// A fixed number of decimals; "-" for NaN.
inline std::string Fixed(double v, int decimals)
{
    if (std::isnan(v)) {
        return "-";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

}  // namespace orbimg::tool
