// Command-line parsing: the options a command accepts, the parsed command
// line, and checked conversions of option values.
//
// Conventions
//   - Options are long (`--bins 64` or `--bins=64`), a few have a one-letter
//     alias (`-o out.png`, also `-oout.png`). `--` ends the options; `--help`
//     and `-h` ask for the command's help wherever they stand. CLI11 reads
//     the words; ParseArgs keeps them in order and adds the value rules of
//     OptionValue and the messages.
//   - Option values are checked when they are converted: a value that is not
//     a number, not finite, out of range or of the wrong shape is a
//     UsageError naming the option, the value and what was expected.
//   - Coordinates typed by the user are FITS coordinates (coords.h).
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "coords.h"

namespace orbimg::tool {

/// How an option takes a value.
enum class OptionValue {
    None,           ///< a switch: `--log`
    Required,       ///< `--bins N`; the next word is taken whatever it is (so `--fill -5` works)
    OptionalCount,  ///< `--auto [N]`: the next word is taken only when it is a whole number
    Points,         ///< `--at X,Y [X,Y ...]`: every following word of the X,Y shape
};

struct OptionSpec {
    std::string name;   ///< "--bins"
    std::string alias;  ///< "-o", or empty
    OptionValue value = OptionValue::None;
    std::string metavar;  ///< "N", shown in the help
    std::string help;     ///< one line
};

/// One option as it appeared on the command line.
struct OptionUse {
    std::string name;                 ///< the long name, also when the alias was typed
    std::vector<std::string> values;  ///< none for switches and a bare OptionalCount
};

/// A parsed command line: the positional words and the options in the order
/// they were given.
class ParsedArgs {
public:
    std::vector<std::string> positional;
    std::vector<OptionUse> options;
    bool help = false;

    bool Has(const std::string& name) const;
    /// The value of the last use of an option, or nothing.
    std::optional<std::string> Value(const std::string& name) const;
    /// Every value of every use of an option, in order.
    std::vector<std::string> Values(const std::string& name) const;
};

/// Parses `args` (the words after the command name) against `specs`.
/// Throws UsageError for an unknown option or a missing value.
ParsedArgs ParseArgs(const std::vector<OptionSpec>& specs, const std::vector<std::string>& args,
                     const std::string& command);

/// A size in pixels.
struct PixelSize {
    int width = 0;
    int height = 0;
};

// ---- checked conversions; `what` names the option in messages ----

/// A finite number (the whole word, as strtod reads it).
double ParseNumber(const std::string& text, const std::string& what);
/// A finite number within lo..hi inclusive.
double ParseNumber(const std::string& text, const std::string& what, double lo, double hi);
/// A whole number within lo..hi inclusive.
int ParseInt(const std::string& text, const std::string& what, int lo, int hi);
/// "X,Y": a position in FITS coordinates (finite numbers).
FitsPoint ParsePoint(const std::string& text, const std::string& what);
/// "WxH" (also "WXH"): whole numbers from 1 to `maxSide` each.
PixelSize ParseSize(const std::string& text, const std::string& what, int maxSide);
/// "X0,Y0,X1,Y1": whole FITS pixel coordinates, corners in any order.
FitsRect ParseRect(const std::string& text, const std::string& what);
/// "MIN,MAX": finite numbers with MIN < MAX.
std::pair<double, double> ParseRange(const std::string& text, const std::string& what);
/// One of `choices` (compared without regard to case); returns the choice
/// as spelled in `choices`.
std::string ParseChoice(const std::string& text, const std::string& what, std::initializer_list<const char*> choices);

/// The extension of a file name, lower-cased, with its dot (".png"), or "".
std::string LowerExtension(const std::string& path);

}  // namespace orbimg::tool
