// The command table, help texts and the entry point.
#include <algorithm>
#include <new>
#include <sstream>

#include "commands.h"
#include "dibfile.h"
#include "membudget.h"

#ifndef ORBIMG_VERSION
#define ORBIMG_VERSION "unknown"
#endif

namespace orbimg::tool {

namespace {

/// Every command that reads image files also takes --max-memory.
std::vector<CommandSpec> WithMemoryOption(std::vector<CommandSpec> commands)
{
    for (auto& command : commands) {
        if (command.name != "demo") {
            command.options.push_back(OptionSpec{"--max-memory", "", OptionValue::Required, "SIZE",
                                                 "memory an image may take when read, e.g. 2G (default: what the "
                                                 "machine has free; also ORBIMG_MAX_MEMORY)"});
        }
    }
    return commands;
}

}  // namespace

const std::vector<CommandSpec>& Commands()
{
    static const std::vector<CommandSpec> commands =
        WithMemoryOption({InfoCommand(), RenderCommand(), HistogramCommand(), StarsCommand(), FocusCommand(),
                          TransformCommand(), DemoCommand()});
    return commands;
}

const CommandSpec* FindCommand(const std::string& name)
{
    for (const auto& command : Commands()) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

std::string CommandHelp(const CommandSpec& command)
{
    std::vector<std::pair<std::string, std::string>> lines;
    for (const auto& option : command.options) {
        std::string left = option.alias.empty() ? "    " + option.name : option.alias + ", " + option.name;
        if (option.value == OptionValue::Required) {
            left += " " + option.metavar;
        } else if (option.value == OptionValue::OptionalCount) {
            left += " [" + option.metavar + "]";
        } else if (option.value == OptionValue::Points) {
            left += " " + option.metavar + " ...";
        }
        lines.emplace_back(left, option.help);
    }
    lines.emplace_back("-h, --help", "show this help");
    std::size_t column = 0;
    for (const auto& line : lines) {
        column = std::max(column, line.first.size());
    }
    std::ostringstream text;
    text << "Usage: " << command.usage << "\n\n" << command.description << "\n\nOptions:\n";
    for (const auto& [left, help] : lines) {
        text << "  " << left << std::string(column - left.size() + 2, ' ') << help << '\n';
    }
    return text.str();
}

std::string ToolHelp()
{
    std::ostringstream text;
    text << "orbimg " ORBIMG_VERSION
            ": image processing for astrophotography\n\n"
            "Usage: orbimg <command> [options]\n"
            "       orbimg <command> --help\n\n"
            "Commands:\n";
    for (const auto& command : Commands()) {
        text << "  " << command.name << std::string(12 - command.name.size(), ' ') << command.summary << '\n';
    }
    text << "\n"
            "Images are read from FITS (BITPIX 8, 16, 32, 64, -32, -64; a mono plane or\n"
            "3 colour planes; the first HDU holding an image), PNG and JPEG files, and\n"
            "written as 32-bit float FITS, PNG or BMP.\n"
            "Pixel coordinates are FITS coordinates, as DS9 and Siril show them: 1-based,\n"
            "(1,1) the centre of the bottom-left pixel, y up.\n"
            "Damaged files, and files claiming more than they hold or more memory than\n"
            "the machine has free (--max-memory, ORBIMG_MAX_MEMORY), are refused.\n"
            "Exit status: 0 success, 1 failure, 2 bad command line.\n";
    return text.str();
}

void RequirePositional(const ParsedArgs& args, const std::string& command, int min, int max, const std::string& what)
{
    const int count = static_cast<int>(args.positional.size());
    if (count < min) {
        throw UsageError(command + ": missing " + what + " (see 'orbimg " + command + " --help')");
    }
    if (max >= 0 && count > max) {
        throw UsageError(command + ": unexpected argument '" + args.positional[static_cast<std::size_t>(max)] +
                         "' (see 'orbimg " + command + " --help')");
    }
}

std::optional<std::string> OutputFile(const ParsedArgs& args, const std::string& command,
                                      std::initializer_list<const char*> extensions, const std::string& expected,
                                      const char* missing)
{
    const auto output = args.Value("--output");
    if (!output && missing) {
        throw UsageError(command + ": " + missing);
    }
    if (output && std::none_of(extensions.begin(), extensions.end(),
                               [&](const char* ext) { return LowerExtension(*output) == ext; })) {
        throw UsageError(command + ": the " + expected + ", not '" + *output + "'");
    }
    return output;
}

OptionSpec PngLevelSpec()
{
    return {"--png-level", "", OptionValue::Required, "0..9",
            "PNG compression: 0 none, 1 fastest (default), 9 smallest"};
}

int PngLevelOption(const ParsedArgs& args, const std::string& command, const std::string& output, bool png)
{
    const auto level = args.Value("--png-level");
    if (!level) {
        return kDefaultPngLevel;
    }
    if (!png) {
        throw UsageError(command + ": --png-level goes with a .png output" +
                         (output.empty() ? std::string(" (-o)") : ", not '" + output + "'"));
    }
    return ParseInt(*level, "--png-level", kMinPngLevel, kMaxPngLevel);
}

int Main(const std::vector<std::string>& args, Context& ctx)
{
    try {
        if (args.empty()) {
            ctx.err << ToolHelp();
            return 2;
        }
        const std::string& first = args[0];
        if (first == "--help" || first == "-h" || first == "help") {
            const CommandSpec* command = args.size() > 1 ? FindCommand(args[1]) : nullptr;
            if (args.size() > 1 && !command) {
                throw UsageError("unknown command '" + args[1] + "' (see 'orbimg --help')");
            }
            ctx.out << (command ? CommandHelp(*command) : ToolHelp());
            return 0;
        }
        if (first == "--version") {
            ctx.out << "orbimg " ORBIMG_VERSION "\n";
            return 0;
        }
        const CommandSpec* command = FindCommand(first);
        if (!command) {
            throw UsageError("unknown command '" + first + "' (see 'orbimg --help')");
        }
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        const ParsedArgs parsed = ParseArgs(command->options, rest, command->name);
        if (parsed.help) {
            ctx.out << CommandHelp(*command);
            return 0;
        }
        if (const auto budget = parsed.Value("--max-memory")) {
            SetMemoryBudget(ParseMemorySize(*budget, "--max-memory"));
        }
        return command->run(parsed, ctx);
    } catch (const ToolError& e) {
        ctx.err << "orbimg: " << e.what() << '\n';
        return e.ExitCode();
    } catch (const std::bad_alloc&) {
        ctx.err << "orbimg: out of memory\n";
        return 1;
    } catch (const std::exception& e) {
        ctx.err << "orbimg: internal error: " << e.what() << '\n';
        return 1;
    } catch (...) {
        ctx.err << "orbimg: internal error\n";
        return 1;
    }
}

}  // namespace orbimg::tool
