// orbimg focus: the focus figure of each frame and the best one.
#include "commands.h"

namespace orbimg::tool {

CommandSpec FocusCommand()
{
    return CommandSpec{
        "focus",
        "focus figure of each frame, and the best frame",
        "orbimg focus FILE... [--rect X0,Y0,X1,Y1]",
        "Evaluates the focus of each frame, in the order given, over the whole frame\n"
        "or a window, and tells which frame is best focused. With many files a\n"
        "progress bar is shown on a terminal.",
        {
            {"--rect", "", OptionValue::Required, "X0,Y0,X1,Y1", "the window evaluated (FITS pixels)"},
        },
        [](const ParsedArgs& args, Context& ctx) {
            ParseFocus(args);
            return NotAvailable(ctx, "focus");
        },
    };
}

FocusPlan ParseFocus(const ParsedArgs& args)
{
    RequirePositional(args, "focus", 1, -1, "FILE");
    FocusPlan plan;
    plan.inputs = args.positional;
    if (const auto rect = args.Value("--rect")) {
        plan.rect = ParseRect(*rect, "--rect");
    }
    return plan;
}

}  // namespace orbimg::tool
