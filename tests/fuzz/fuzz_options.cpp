// Fuzz target: the tool's option parsing. The input is a command number and
// words separated by NUL bytes; they are parsed against that command's
// options and turned into its plan, and each word goes through the checked
// conversions. Nothing is run: only UsageError (or ToolError) may come out.
#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "membudget.h"
#include "options.h"

namespace {

using namespace orbimg::tool;

void Plan(const std::string& name, const ParsedArgs& args)
{
    if (name == "render") {
        ParseRender(args);
    } else if (name == "histogram") {
        ParseHistogram(args);
    } else if (name == "stars") {
        ParseStars(args);
    } else if (name == "focus") {
        ParseFocus(args);
    } else if (name == "transform") {
        ParseTransform(args);
    }
}

template <class Fn>
void Quietly(Fn&& fn)
{
    try {
        fn();
    } catch (const ToolError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const auto& commands = Commands();
    const CommandSpec& command = commands[data[0] % commands.size()];
    std::vector<std::string> words(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
    Quietly([&] { Plan(command.name, ParseArgs(command.options, words, command.name)); });
    for (const auto& w : words) {
        Quietly([&] { ParseNumber(w, "x"); });
        Quietly([&] { ParseNumber(w, "x", -1e6, 1e6); });
        Quietly([&] { ParseInt(w, "x", -5, 1 << 30); });
        Quietly([&] { ParsePoint(w, "x"); });
        Quietly([&] { ParseSize(w, "x", 1 << 20); });
        Quietly([&] { ParseRect(w, "x"); });
        Quietly([&] { ParseRange(w, "x"); });
        Quietly([&] { ParseChoice(w, "x", {"range", "mean", "median"}); });
        Quietly([&] { ParseMemorySize(w, "x"); });
        Quietly([&] { LowerExtension(w); });
    }
    return 0;
}
