// The orbimg tool: errors, output streams and the entry point.
//
// Conventions
//   - Every failure the user can cause (a missing or bad file, a bad option,
//     an unwritable output) is thrown as a ToolError and reported by Main as
//     one line "orbimg: <message>" on the error stream; nothing escapes Main.
//   - Exit status: 0 success, 1 a failure while doing the work (reading,
//     measuring, writing), 2 a bad command line (UsageError), including an
//     option value that does not fit the image (a rectangle or position
//     outside it, a bin larger than it).
//   - Commands write their results to Context::out and progress to
//     Context::err only; they never touch std::cout or std::cerr themselves,
//     so tests run them in-process with string streams.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace orbimg::tool {

/// A failure reported as "orbimg: <what>", exit status 1.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    virtual int ExitCode() const { return 1; }
};

/// A bad command line (unknown command or option, bad value): exit status 2.
class UsageError : public ToolError {
public:
    using ToolError::ToolError;
    int ExitCode() const override { return 2; }
};

/// Where a command writes.
struct Context {
    std::ostream& out;           ///< results
    std::ostream& err;           ///< messages and progress
    bool errIsTerminal = false;  ///< progress bars only on a terminal
};

/// Runs `orbimg <args>` (args excludes the program name). Returns the exit
/// status; never throws.
int Main(const std::vector<std::string>& args, Context& ctx);

}  // namespace orbimg::tool
