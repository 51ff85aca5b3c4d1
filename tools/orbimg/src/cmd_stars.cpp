// orbimg stars: star sizes (PSF and FWHM) at given positions or found automatically.
#include "commands.h"

namespace orbimg::tool {

CommandSpec StarsCommand()
{
    return CommandSpec{
        "stars",
        "PSF and FWHM of stars, given by position or found automatically",
        "orbimg stars FILE (--at X,Y ... | --auto [N]) [--csv OUT.csv]",
        "Measures the stars at the positions given (FITS pixels; each is moved to the\n"
        "nearest peak) or, with --auto, the N brightest isolated local maxima above\n"
        "the sky plus 5 sigma (default 50), and prints each star's FWHM and the mean\n"
        "and median FWHM and PSF.",
        {
            {"--at", "", OptionValue::Points, "X,Y", "stars near these positions"},
            {"--auto", "", OptionValue::OptionalCount, "N", "find the N brightest stars (default 50)"},
            {"--csv", "", OptionValue::Required, "OUT.csv", "write each star's position and FWHM"},
        },
        [](const ParsedArgs& args, Context& ctx) {
            ParseStars(args);
            return NotAvailable(ctx, "stars");
        },
    };
}

StarsPlan ParseStars(const ParsedArgs& args)
{
    RequirePositional(args, "stars", 1, 1, "FILE");
    StarsPlan plan;
    plan.input = args.positional[0];
    for (const auto& value : args.Values("--at")) {
        plan.at.push_back(ParsePoint(value, "--at"));
    }
    if (args.Has("--auto")) {
        const auto count = args.Value("--auto");
        plan.autoCount = count ? ParseInt(*count, "--auto", 1, 100000) : 50;
    }
    if (plan.at.empty() == !plan.autoCount.has_value()) {
        throw UsageError("stars: give either --at X,Y ... or --auto [N]");
    }
    plan.csv = args.Value("--csv");
    return plan;
}

}  // namespace orbimg::tool
