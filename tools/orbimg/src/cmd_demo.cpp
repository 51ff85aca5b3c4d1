// orbimg demo: a synthetic colour star field, and every command run on it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "commands.h"
#include "imagefile.h"
#include "mosaic.h"
#include "planestats.h"
#include "safeoutput.h"
#include "skymesh.h"
#include "synth.h"
#include "text.h"

namespace orbimg::tool {
namespace {

constexpr int kFocusFrames = 7;
constexpr int kSharpFrame = 4;         ///< 1-based: the frame at best focus
constexpr double kBlurPerStep = 0.75;  ///< Gaussian sigma added per focuser step away from it
constexpr int kFocusStep = 100;        ///< focuser units between frames (FOCUSPOS = step x frame)
constexpr int kStarsMeasured = 50;

void WriteStarList(const std::string& path, const SynthField& field, double fwhm)
{
    WriteFileSafely(path, [&](std::FILE* out) {
        std::fprintf(out, "x,y,fwhm,peak,saturated\n");
        for (const auto& star : field.stars) {
            std::fprintf(out, "%.3f,%.3f,%.3f,%.1f,%d\n", star.position.x, star.position.y, fwhm, star.peak,
                         star.saturated ? 1 : 0);
        }
    });
}

/// A word as a shell would need it to be typed.
std::string Quoted(const std::string& word)
{
    if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                "_-+=.,/:") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

/// Runs the demo's steps and keeps the list of files written.
class Demo {
public:
    Demo(Context& ctx, std::string dir) : m_ctx(ctx), m_dir(std::move(dir)) {}

    std::string Path(const std::string& name) const { return (std::filesystem::path(m_dir) / name).string(); }
    void Wrote(const std::string& path) { m_written.push_back(path); }
    const std::vector<std::string>& Written() const { return m_written; }

    /// Prints the command line and parses it as the tool would.
    ParsedArgs Command(const std::vector<std::string>& words)
    {
        m_ctx.out << "\n$ orbimg";
        for (const auto& word : words) {
            m_ctx.out << ' ' << Quoted(word);
        }
        m_ctx.out << '\n';
        const CommandSpec* command = FindCommand(words.at(0));
        return ParseArgs(command->options, std::vector<std::string>(words.begin() + 1, words.end()), words[0]);
    }

private:
    Context& m_ctx;
    std::string m_dir;
    std::vector<std::string> m_written;
};

/// The field parameters for a size: the star and blank counts scale with the area.
FieldParams ParamsFor(PixelSize size)
{
    FieldParams params;
    const double scale =
        static_cast<double>(size.width) * size.height / (static_cast<double>(params.width) * params.height);
    params.stars = std::max(30, static_cast<int>(std::lround(params.stars * scale)));
    params.saturatedStars = std::max(1, static_cast<int>(std::lround(params.saturatedStars * scale)));
    params.blanks = std::max(2, static_cast<int>(std::lround(params.blanks * scale)));
    params.width = size.width;
    params.height = size.height;
    return params;
}

/// The green plane of the middle third of the field, as a mono image; on a
/// small field the middle 256 x 256 pixels (or the whole field), so that
/// every frame of the sweep, the most defocused too, keeps a few stars.
std::unique_ptr<CKelImage> FocusWindow(const CKelImage& field)
{
    const int width = std::min(field.GetWidth(), std::max(256, field.GetWidth() / 3));
    const int height = std::min(field.GetHeight(), std::max(256, field.GetHeight() / 3));
    CImgResize crop;
    crop = field;
    CKelImage source(field);
    if (!crop.Do(width, height, 4, nullptr, &source, 0)) {
        throw ToolError("demo: cannot cut the focus window");
    }
    auto mono = std::make_unique<CKelImage>(width, height, 1, -32, 1.0, 0.0, 1);
    for (int y = 0; y < height; ++y) {
        const float* in = crop.GetImageAdr(0, y, 1, 1, nullptr);
        std::copy(in, in + width, mono->GetImageAdr(0, y, 0, 0, nullptr));
    }
    return mono;
}

/// The window blurred by a Gaussian of `sigma` (the library's separable
/// filter), with fresh noise added back so that the sky noise stays `noise`,
/// as it does when a real focuser moves: defocus spreads the light, not the
/// read and sky noise. The window must have no blanks (they would spread).
std::unique_ptr<CKelImage> Defocused(CKelImage& window, double sigma, double noise, unsigned seed)
{
    const int width = window.GetWidth();
    const int height = window.GetHeight();
    auto out = std::make_unique<CKelImage>(width, height, 1, -32, 1.0, 0.0, 1);
    std::mt19937 random(seed);
    if (sigma <= 0.0) {
        for (int y = 0; y < height; ++y) {
            const float* in = window.GetImageAdr(0, y, 0, 1, nullptr);
            std::copy(in, in + width, out->GetImageAdr(0, y, 0, 0, nullptr));
        }
    } else {
        CFilterMatrix matrix;
        const int radius = static_cast<int>(std::ceil(3.0 * sigma));
        matrix.MakeGaussian(radius, sigma);
        // Variance left in the noise: the squared weights of the 2-D kernel.
        const float* middle = matrix.GetCoef() + static_cast<std::size_t>(radius) * matrix.GetSize();
        double rowSum = 0.0;
        double rowSquares = 0.0;
        for (int i = 0; i < matrix.GetSize(); ++i) {
            rowSum += middle[i];
            rowSquares += static_cast<double>(middle[i]) * middle[i];
        }
        const double kept = (rowSquares / (rowSum * rowSum)) * (rowSquares / (rowSum * rowSum));
        CFilterProc blur(&window, &matrix, 0);
        std::normal_distribution<double> gauss(0.0, noise * std::sqrt(std::max(0.0, 1.0 - kept)));
        std::vector<float> row(static_cast<std::size_t>(width));
        for (int y = 0; y < height; ++y) {
            blur.CalcRows(0, y, width, 1, row.data());
            float* dst = out->GetImageAdr(0, y, 0, 0, nullptr);
            for (int x = 0; x < width; ++x) {
                dst[x] = static_cast<float>(row[x] + gauss(random));
            }
        }
    }
    SetLevelsToData(*out);
    return out;
}

/// The field as a one-shot-colour camera delivers it: one plane, each pixel
/// the colour of its site of an RGGB filter whose first row is FITS row 1
/// (ROWORDER TOP-DOWN, as capture programs write).
std::unique_ptr<CKelImage> Mosaicked(const CKelImage& field)
{
    const int width = field.GetWidth();
    const int height = field.GetHeight();
    MosaicInfo info;
    info.pattern = CImgDebayer::kRGGB;
    info.rowOrder = "TOP-DOWN";
    const LibraryMosaic m = ToLibrary(info, height, true);
    static const int kPlaneOfLetter[4] = {0, 1, 1, 2};  // R G / G B
    auto mosaic = std::make_unique<CKelImage>(width, height, 1, -32, 1.0, 0.0, 1);
    for (int y = 0; y < height; ++y) {
        float* out = mosaic->GetImageAdr(0, y, 0, 0, nullptr);
        for (int x = 0; x < width; ++x) {
            const int letter = 2 * ((y + m.yOffset) & 1) + ((x + m.xOffset) & 1);
            out[x] = *field.GetImageAdr(x, y, kPlaneOfLetter[letter], 1, nullptr);
        }
    }
    SetLevelsToData(*mosaic);
    return mosaic;
}

/// PSNR of a debayered field against the true one (peak: the saturation
/// level), over the pixels 8 or more from the edges where both are finite.
double Psnr(const CKelImage& truth, const CKelImage& out, double peak)
{
    double sum = 0.0;
    long long n = 0;
    for (int p = 0; p < 3; ++p) {
        for (int y = 8; y < truth.GetHeight() - 8; ++y) {
            const float* a = truth.GetImageAdr(0, y, p, 1, nullptr);
            const float* b = out.GetImageAdr(0, y, p, 1, nullptr);
            for (int x = 8; x < truth.GetWidth() - 8; ++x) {
                const double d = (static_cast<double>(b[x]) - a[x]) / peak;
                if (std::isfinite(d)) {
                    sum += d * d;
                    ++n;
                }
            }
        }
    }
    return n > 0 && sum > 0.0 ? 10.0 * std::log10(n / sum) : std::nan("");
}

/// Median distance from each measured star to the nearest true star.
double MedianOffset(const StarReport& report, const SynthField& field)
{
    std::vector<double> offsets;
    for (const auto& star : report.stars) {
        double best = HUGE_VAL;
        for (const auto& truth : field.stars) {
            best = std::min(best, std::hypot(star.position.x - truth.position.x, star.position.y - truth.position.y));
        }
        offsets.push_back(best);
    }
    if (offsets.empty()) {
        return std::nan("");
    }
    std::nth_element(offsets.begin(), offsets.begin() + static_cast<std::ptrdiff_t>(offsets.size() / 2), offsets.end());
    return offsets[offsets.size() / 2];
}

}  // namespace

CommandSpec DemoCommand()
{
    return CommandSpec{
        "demo",
        "synthesise a colour star field and run every command on it",
        "orbimg demo [DIR] [--size WxH]",
        "Synthesises a colour star field in memory (3000 x 2000 by default: Gaussian\n"
        "stars of FWHM 3 pixels on a sky gradient with noise, a few saturated stars,\n"
        "a few NaN blanks; always the same field) and writes it as DIR/sample.fits,\n"
        "with the true star positions as DIR/sample-stars.csv (FITS coordinates).\n"
        "Then runs each command on it, printing every command line: info, render\n"
        "with the auto MTF stretch and every linear method, histogram plots, stars\n"
        "(the measured FWHM against the true one), a focus sweep over the middle of\n"
        "the field blurred by increasing amounts (the focus figure, then the median\n"
        "HFR against the FOCUSPOS written in each frame, fitted, drawn as\n"
        "DIR/focus-curve.png), binning and resampling, and a one-shot-colour sample:\n"
        "the field mosaicked through an RGGB filter (DIR/sample-osc.fits, BAYERPAT\n"
        "and ROWORDER written), debayered and rendered, with its PSNR against the\n"
        "field. Ends with a short report and the list of files written. DIR is\n"
        "demo-out by default and is created when missing.",
        {
            {"--size", "", OptionValue::Required, "WxH", "size of the field (default 3000x2000, at least 200x200)"},
        },
        RunDemo,
    };
}

int RunDemo(const ParsedArgs& args, Context& ctx)
{
    const auto started = std::chrono::steady_clock::now();
    RequirePositional(args, "demo", 0, 1, "DIR");
    PixelSize size{3000, 2000};
    if (const auto text = args.Value("--size")) {
        size = ParseSize(*text, "--size", 20000);
        if (size.width < 200 || size.height < 200) {
            throw UsageError("demo: --size must be at least 200x200");
        }
    }
    const std::string dir = args.positional.empty() ? std::string("demo-out") : args.positional[0];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        throw ToolError("cannot create directory '" + dir + "': " + error.message());
    }
    Demo demo(ctx, dir);

    // ---- the sample ----
    const FieldParams params = ParamsFor(size);
    ctx.out << "Synthesising a " << params.width << " x " << params.height << " colour star field: " << params.stars
            << " stars of FWHM " << Fixed(params.fwhm, 2) << " px, " << params.saturatedStars << " saturated, "
            << params.blanks << " blank pixels\n";
    const SynthField field = SynthesizeField(params);
    FitsHeader header;
    header.Add(FitsCard("OBJECT", FitsString("orbimg demo field"), "synthetic colour star field"));
    header.Add(FitsCard("BUNIT", FitsString("ADU"), "physical unit of the samples"));
    header.Add(FitsCard("SATURATE", Fixed(params.saturation, 1), "saturation level"));
    header.Add(FitsCard("STARFWHM", Fixed(params.fwhm, 3), "[pixel] FWHM of every star"));
    header.Add(FitsCard("NSTARS", std::to_string(field.stars.size()), "stars drawn"));
    header.Add(FitsCard("SKYNOISE", Fixed(params.skyNoise, 3), "noise sigma of the green plane"));
    header.Add(FitsCard("SEED", std::to_string(params.seed), "seed of the synthesis"));
    const std::string sample = demo.Path("sample.fits");
    WriteFitsFile(sample, *field.image, header);
    demo.Wrote(sample);
    const std::string starList = demo.Path("sample-stars.csv");
    WriteStarList(starList, field, params.fwhm);
    demo.Wrote(starList);
    ctx.out << "wrote " << sample << " and " << starList << " (the true star positions)\n";

    // ---- info, render, histogram ----
    RunInfo(demo.Command({"info", sample}), ctx);
    const std::string stretched = demo.Path("render.png");
    RunRender(ParseRender(demo.Command({"render", sample, "-o", stretched})), ctx);
    demo.Wrote(stretched);
    for (const char* method : {"range", "mean", "median"}) {
        const std::string out = demo.Path(std::string("render-") + method + ".png");
        RunRender(ParseRender(demo.Command({"render", sample, "-o", out, "--method", method})), ctx);
        demo.Wrote(out);
    }
    const std::string palette = demo.Path("render-palette.bmp");
    const Levels levels = RunRender(
        ParseRender(demo.Command({"render", sample, "-o", palette, "--palette", "--stretch", "linear"})), ctx);
    demo.Wrote(palette);
    const std::string histogram = demo.Path("histogram.png");
    RunHistogram(ParseHistogram(demo.Command({"histogram", sample, "-o", histogram, "--log"})), ctx);
    demo.Wrote(histogram);
    // The sky's part of the green plane, around the median method's levels.
    const std::string skyHistogram = demo.Path("histogram-green-sky.png");
    const double margin = 0.05 * (levels.max[1] - levels.min[1]);
    const std::string range =
        Format("%.0f", std::floor(levels.min[1] - margin)) + "," + Format("%.0f", std::ceil(levels.max[1] + margin));
    RunHistogram(ParseHistogram(demo.Command(
                     {"histogram", sample, "-o", skyHistogram, "--plane", "G", "--bins", "128", "--range", range})),
                 ctx);
    demo.Wrote(skyHistogram);

    // ---- stars ----
    const std::string starsCsv = demo.Path("stars.csv");
    const StarReport stars = RunStars(
        ParseStars(demo.Command({"stars", sample, "--auto", std::to_string(kStarsMeasured), "--csv", starsCsv})), ctx);
    demo.Wrote(starsCsv);
    const double offset = MedianOffset(stars, field);
    // The stars are drawn by their value at pixel centres; the detector reports the
    // FWHM of a star before a pixel's 1 x 1 px integration widens it (variance 1/12 px^2).
    const double sigmaToFwhm = 2.0 * std::sqrt(2.0 * std::log(2.0));
    const double trueFwhm = std::sqrt(params.fwhm * params.fwhm - sigmaToFwhm * sigmaToFwhm / 12.0);
    const double fwhmOff = (stars.medianFwhm / trueFwhm - 1.0) * 100.0;
    ctx.out << "true FWHM " << Fixed(params.fwhm, 3) << " px at pixel centres, " << Fixed(trueFwhm, 3)
            << " px without the pixel's width: the median measured is " << Format("%+.1f", fwhmOff)
            << " % off; measured positions lie a median " << Fixed(offset, 3) << " px from the true ones\n";

    // ---- focus sweep ----
    ctx.out << "\nFocus sweep: the middle of the field (green plane), blurred as by a focuser\n"
            << "moving through focus: Gaussian sigma " << Fixed(kBlurPerStep, 2) << " px per step away from frame "
            << kSharpFrame << ", the sky noise kept\n";
    auto window = FocusWindow(*field.image);
    const SkyMesh windowSky = SkyMesh::Measure(*window);
    FillBlanks(*window, 0, static_cast<float>(windowSky.Level(0)));
    std::vector<std::string> focusWords = {"focus"};
    for (int k = 1; k <= kFocusFrames; ++k) {
        const double sigma = kBlurPerStep * std::abs(k - kSharpFrame);
        const auto frame = Defocused(*window, sigma, windowSky.Noise(0), 1000u + k);
        const std::string path = demo.Path("focus-" + std::to_string(k) + ".fits");
        FitsHeader frameHeader;
        frameHeader.Add(FitsCard("OBJECT", FitsString("orbimg demo focus sweep"), "synthetic"));
        frameHeader.Add(FitsCard("BLUR", Fixed(sigma, 3), "[pixel] Gaussian sigma of the defocus"));
        frameHeader.Add(FitsCard("FOCUSPOS", std::to_string(kFocusStep * k), "focuser position (steps)"));
        WriteFitsFile(path, *frame, frameHeader);
        demo.Wrote(path);
        focusWords.push_back(path);
    }
    const FocusResult focus = RunFocus(ParseFocus(demo.Command(focusWords)), ctx);
    const std::string curvePicture = demo.Path("focus-curve.png");
    std::vector<std::string> hfrWords = focusWords;
    hfrWords.insert(hfrWords.end(), {"--hfr", "-o", curvePicture});
    const FocusResult hfrFocus = RunFocus(ParseFocus(demo.Command(hfrWords)), ctx);
    demo.Wrote(curvePicture);
    const double trueBest = kFocusStep * kSharpFrame;
    const bool fitted = hfrFocus.curve && hfrFocus.curve->ok;
    ctx.out << "true best focus " << Format("%.6g", trueBest) << ": fitted "
            << (fitted ? Format("%.6g", hfrFocus.curve->best) + " +- " + Format("%.3g", hfrFocus.curve->bestError) +
                             " (" + Format("%+.3g", (hfrFocus.curve->best - trueBest) / kFocusStep) + " step)"
                       : std::string("none"))
            << '\n';

    // ---- transforms ----
    const std::string binned = demo.Path("binned-2x2.fits");
    RunTransform(ParseTransform(demo.Command({"transform", sample, "-o", binned, "--bin", "2x2"})), ctx);
    demo.Wrote(binned);
    const std::string binnedPicture = demo.Path("binned-2x2.png");
    RunRender(ParseRender(demo.Command({"render", binned, "-o", binnedPicture})), ctx);
    demo.Wrote(binnedPicture);
    const std::string resampled = demo.Path("resampled-half.fits");
    const std::string half = std::to_string(params.width / 2) + "x" + std::to_string(params.height / 2);
    RunTransform(ParseTransform(demo.Command({"transform", sample, "-o", resampled, "--resample", half, "--bicubic"})),
                 ctx);
    demo.Wrote(resampled);

    // ---- one-shot colour ----
    ctx.out << "\nOne-shot colour: the field as an RGGB camera delivers it (one plane, BAYERPAT\n"
            << "'RGGB', ROWORDER 'TOP-DOWN'), found by its keywords, debayered and rendered\n";
    const std::string osc = demo.Path("sample-osc.fits");
    {
        FitsHeader oscHeader;
        oscHeader.Add(FitsCard("OBJECT", FitsString("orbimg demo field, one-shot colour"), "synthetic"));
        oscHeader.Add(FitsCard("BAYERPAT", FitsString("RGGB"), "Bayer colour pattern"));
        oscHeader.Add(FitsCard("XBAYROFF", "0", "X offset of the Bayer pattern"));
        oscHeader.Add(FitsCard("YBAYROFF", "0", "Y offset of the Bayer pattern"));
        oscHeader.Add(FitsCard("ROWORDER", FitsString("TOP-DOWN"), "order of the rows in the image array"));
        WriteFitsFile(osc, *Mosaicked(*field.image), oscHeader);
    }
    demo.Wrote(osc);
    RunInfo(demo.Command({"info", osc}), ctx);
    const std::string oscPicture = demo.Path("render-osc.png");
    RunRender(ParseRender(demo.Command({"render", osc, "-o", oscPicture})), ctx);
    demo.Wrote(oscPicture);
    double oscPsnr[2] = {0.0, 0.0};
    for (const int method : {CImgDebayer::kRCD, CImgDebayer::kBilinear}) {
        ImageFile file = LoadImageFile(osc);
        MosaicOptions options;
        options.method = method;
        DebayerIfMosaic(file, options);
        oscPsnr[method == CImgDebayer::kRCD ? 0 : 1] = Psnr(*field.image, *file.image, params.saturation);
    }
    ctx.out << "debayered by RCD: PSNR " << Fixed(oscPsnr[0], 2) << " dB against the un-mosaicked field (bilinear "
            << Fixed(oscPsnr[1], 2) << " dB)\n";

    // ---- report ----
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ctx.out << "\nReport\n"
            << "  sample       " << params.width << " x " << params.height << " colour, " << field.stars.size()
            << " stars (" << params.saturatedStars << " saturated), " << field.blanks.size() << " blank pixels\n"
            << "  stars        " << stars.measured << " measured: median FWHM " << Fixed(stars.medianFwhm, 3)
            << " px (true " << Fixed(trueFwhm, 3) << " px, " << Format("%+.1f", fwhmOff) << " %), positions within "
            << Fixed(offset, 3) << " px (median)\n"
            << "  focus sweep  best frame " << (focus.best + 1) << " of " << kFocusFrames << " (the sharpest is frame "
            << kSharpFrame << "); HFR curve: best position "
            << (fitted ? Format("%.6g", hfrFocus.curve->best) + " +- " + Format("%.3g", hfrFocus.curve->bestError)
                       : std::string("none"))
            << " (true " << Format("%.6g", trueBest) << ")\n"
            << "  one-shot     RGGB mosaic debayered by RCD, PSNR " << Fixed(oscPsnr[0], 2)
            << " dB against the un-mosaicked field (bilinear " << Fixed(oscPsnr[1], 2) << " dB)\n"
            << "  time         " << Fixed(seconds, 1) << " s\n";
    ctx.out << "\nFiles written:\n";
    for (const auto& path : demo.Written()) {
        ctx.out << "  " << path << '\n';
    }
    return 0;
}

}  // namespace orbimg::tool
