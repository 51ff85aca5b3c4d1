// The commands of the orbimg tool: their table, their parsed plans and their
// entry points.
//
// Each command parses its words into a plan (checking every option value),
// then carries the plan out. Checks that need the image itself (a rectangle
// inside the frame, a colour plane of a mono image) are made once the image
// is loaded.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "coords.h"
#include "mosaic.h"
#include "options.h"
#include "picture.h"
#include "starmeasure.h"
#include "tool.h"

namespace orbimg::tool {

struct CommandSpec {
    std::string name;
    std::string summary;      ///< one line for the command list
    std::string usage;        ///< "orbimg info FILE..."
    std::string description;  ///< paragraphs after the usage line
    std::vector<OptionSpec> options;
    int (*run)(const ParsedArgs& args, Context& ctx) = nullptr;
};

/// Every command, in the order `orbimg --help` lists them.
const std::vector<CommandSpec>& Commands();
/// The command of that name, or null.
const CommandSpec* FindCommand(const std::string& name);
/// The help text of a command.
std::string CommandHelp(const CommandSpec& command);
/// The help text of the tool.
std::string ToolHelp();

/// Throws UsageError unless the command got between min and max positional
/// words (max < 0: no limit).
void RequirePositional(const ParsedArgs& args, const std::string& command, int min, int max, const std::string& what);
/// The -o file when given, checked to end in one of `extensions` (lower
/// case, with the dot); else UsageError "<command>: the <expected>, not
/// '<file>'". `missing`: the message when -o is required and not given.
std::optional<std::string> OutputFile(const ParsedArgs& args, const std::string& command,
                                      std::initializer_list<const char*> extensions, const std::string& expected,
                                      const char* missing = nullptr);
/// The --png-level option of the commands writing PNG.
OptionSpec PngLevelSpec();
/// --png-level 0..9 (kDefaultPngLevel when not given); UsageError when the
/// command writes no PNG (`output`: the file written, "" for none).
int PngLevelOption(const ParsedArgs& args, const std::string& command, const std::string& output, bool png);

// ---- info ----
CommandSpec InfoCommand();
int RunInfo(const ParsedArgs& args, Context& ctx);

// ---- render ----
struct RenderPlan {
    std::string input;
    std::string output;
    bool bmp = false;  ///< else PNG
    AutoLevelMethod method = AutoLevelMethod::Median;
    double low = 0.0;  ///< method parameters (defaults per method)
    double high = 0.0;
    bool perPlane = false;
    std::optional<FitsRect> rect;                     ///< the window measured
    std::optional<std::pair<double, double>> levels;  ///< explicit levels: no method
    int depth = 24;                                   ///< 8 or 24 bits per pixel
    int pngLevel = kDefaultPngLevel;                  ///< PNG compression level (dibfile.h)
    /// CDisplayStretch kind. kLinear: levels by a method or given, the way
    /// render always drew; otherwise the auto stretch (CImgAutoLevel::
    /// DoAutoStretch) unless levels are given.
    int stretch = CDisplayStretch::kMTF;
    std::optional<double> stretchParam;  ///< the stretch's parameter instead of the auto one
    bool unlinked = false;               ///< auto stretch of each colour plane on its own
    MosaicOptions mosaic;
};
/// Default low and high parameters of each auto-level method.
std::pair<double, double> DefaultLevelParameters(AutoLevelMethod method);
CommandSpec RenderCommand();
RenderPlan ParseRender(const ParsedArgs& args);
/// Writes the picture of a render plan and reports it; returns the levels used.
Levels RunRender(const RenderPlan& plan, Context& ctx);
/// "red 1.5 .. 20, green ..." (or "1.5 .. 20" for a mono image).
std::string DescribeLevels(const Levels& levels);
/// The levels and stretch `render` uses by default: the auto MTF, linked.
void ApplyDefaultRender(CImgAutoLevel& image);
/// "MTF, midtones 0.0123" (per plane when they differ), "linear", ...
std::string DescribeStretch(const CDisplayStretch& stretch, int planes);

// ---- histogram ----
struct HistogramPlan {
    std::string input;
    std::optional<std::string> output;  ///< a PNG plot; none: a text table
    int pngLevel = kDefaultPngLevel;
    int bins = 256;
    bool log = false;
    /// 'R', 'G', 'B', 'L' (luminance, or the plane of a mono image) or 'C'
    /// (the three colour planes; a mono image's plane).
    char plane = 'C';
    std::optional<std::pair<double, double>> range;  ///< the values counted; none: least .. greatest
    MosaicOptions mosaic;
};
CommandSpec HistogramCommand();
HistogramPlan ParseHistogram(const ParsedArgs& args);
void RunHistogram(const HistogramPlan& plan, Context& ctx);

// ---- stars ----
struct StarsPlan {
    std::string input;
    std::vector<FitsPoint> at;     ///< stars given by position
    std::optional<int> autoCount;  ///< --auto N
    std::optional<std::string> csv;
    MosaicOptions mosaic;
};
CommandSpec StarsCommand();
StarsPlan ParseStars(const ParsedArgs& args);
/// Measures and prints the stars of a plan; throws ToolError when no star
/// could be measured.
StarReport RunStars(const StarsPlan& plan, Context& ctx);

// ---- focus ----
struct FocusPlan {
    std::vector<std::string> inputs;
    std::optional<FitsRect> rect;
    bool hfr = false;                   ///< median HFR and a fitted curve instead of the figure
    std::vector<double> positions;      ///< --positions (else FOCUSPOS / FOCPOS)
    std::optional<std::string> output;  ///< -o curve.png (with --hfr)
    int pngLevel = kDefaultPngLevel;
    MosaicOptions mosaic;
};
struct FocusFrame {
    std::string path;
    double figure = 0.0;
    bool measured = false;           ///< false: the file could not be read or evaluated
    double position = std::nan("");  ///< --hfr: focuser position
    double hfr = std::nan("");       ///< --hfr: median HFR of the good stars
    double hfrError = std::nan("");
    int stars = 0;  ///< --hfr: good stars
};
struct FocusResult {
    std::vector<FocusFrame> frames;         ///< in the order given
    int best = -1;                          ///< index of the largest figure (smallest HFR); -1 when none was measured
    bool failed = false;                    ///< some frame could not be measured
    std::optional<FocusCurveResult> curve;  ///< --hfr
};
CommandSpec FocusCommand();
FocusPlan ParseFocus(const ParsedArgs& args);
FocusResult RunFocus(const FocusPlan& plan, Context& ctx);

// ---- transform ----
/// One step of a transform, applied in the order given on the command line.
struct TransformStep {
    enum class Kind { Flip, Bin, Resample, Canvas, Bright } kind = Kind::Flip;
    bool vertical = true;                                ///< Flip: v (top to bottom) or h (left to right)
    int binX = 1, binY = 1;                              ///< Bin
    bool roundUp = false;                                ///< Bin: keep partial blocks at the right and top
    bool scaleLevels = false;                            ///< Bin: multiply the levels by binX x binY
    PixelSize size;                                      ///< Resample, Canvas
    bool bicubic = false;                                ///< Resample
    int anchor = 4;                                      ///< Canvas: 0..8, row by row from the top left
    double fill = 0.0;                                   ///< Canvas: on the 0..255 display scale
    double bright = 0.0, contrast = 0.0, pivot = 128.0;  ///< Bright
};
struct TransformPlan {
    std::string input;
    std::string output;
    std::vector<TransformStep> steps;
};
CommandSpec TransformCommand();
TransformPlan ParseTransform(const ParsedArgs& args);
void RunTransform(const TransformPlan& plan, Context& ctx);

// ---- demo ----
CommandSpec DemoCommand();
int RunDemo(const ParsedArgs& args, Context& ctx);

}  // namespace orbimg::tool
