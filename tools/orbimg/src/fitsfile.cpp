// FITS files through cfitsio: the first image HDU in, 32-bit float out.
#include <fcntl.h>
#include <fitsio.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <set>

#include "coords.h"
#include "fitsscan.h"
#include "imagefile.h"
#include "membudget.h"
#include "planestats.h"
#include "safeoutput.h"
#include "tool.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORBIMG_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORBIMG_SANITIZED 1
#endif
#endif

#define ORBIMG_STRINGIFY2(x) #x
#define ORBIMG_STRINGIFY(x) ORBIMG_STRINGIFY2(x)
#define CFITSIO_VERSION_TEXT \
    ORBIMG_STRINGIFY(CFITSIO_MAJOR) "." ORBIMG_STRINGIFY(CFITSIO_MINOR) "." ORBIMG_STRINGIFY(CFITSIO_MICRO)

namespace orbimg::tool {
namespace {

struct FitsCloser {
    void operator()(fitsfile* file) const
    {
        int status = 0;
        fits_close_file(file, &status);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FitsCloser>;

/// cfitsio's short text for a status code, with the code.
std::string FitsStatusText(int status)
{
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return std::string(text) + " (cfitsio status " + std::to_string(status) + ")";
}

/// What a failed read of the data means to the user.
std::string DataFailure(int status)
{
    if (status == END_OF_FILE || status == READ_ERROR) {
        return "truncated FITS file: the data ends before the image does";
    }
    return "damaged FITS data: " + FitsStatusText(status);
}

/// Caps the address space of this (child) process at its present size plus
/// `more` bytes. Not under the sanitizers, whose shadow memory takes terabytes.
void LimitAddressSpace(std::uint64_t more)
{
#ifdef ORBIMG_SANITIZED
    (void)more;
#else
    unsigned long long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) {
        return;
    }
    const bool read = std::fscanf(statm, "%llu", &pages) == 1;
    std::fclose(statm);
    if (read) {
        const std::uint64_t now = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        rlimit limit{now + more, now + more};
        setrlimit(RLIMIT_AS, &limit);
    }
#endif
}

/// Planes of an image, or a ToolError for a layout that is not an image.
int PlanesOf(const FitsScan& scan, const std::string& path)
{
    if (scan.naxis == 1) {
        ReadFailure(path, "NAXIS = 1: a one-dimensional array is not an image");
    }
    if (scan.naxis == 2) {
        return 1;
    }
    if (scan.naxis == 3 && (scan.naxes[2] == 1 || scan.naxes[2] == 3)) {
        return static_cast<int>(scan.naxes[2]);
    }
    if (scan.naxis == 3) {
        ReadFailure(path, "a cube of " + std::to_string(scan.naxes[2]) + " planes (NAXIS3 = " +
                              std::to_string(scan.naxes[2]) + "); only 1 (mono) or 3 (colour) planes are images");
    }
    ReadFailure(path, "NAXIS = " + std::to_string(scan.naxis) +
                          "; only 2 axes (mono) or 3 axes with 3 colour planes are images");
}

/// The image's header cards. cfitsio converts a compressed table's header
/// to the image's own; where it cannot (cfitsio 4.2.0 fails when ZTENSION
/// is not the table's first Z keyword, as in astropy's comp.fits), the cards
/// are taken as stored, the table's and the compression's dropped, and
/// `note` says so.
void ReadHeaderCards(fitsfile* file, const FitsScan& scan, FitsHeader& header, std::string& note)
{
    int status = 0;
    char* cards = nullptr;
    int count = 0;
    const int failed = fits_convert_hdr2str(file, 0, nullptr, 0, &cards, &count, &status);
    if (failed == 0) {
        for (int k = 0; k < count; ++k) {
            header.Add(std::string(cards + 80 * k, 80));
        }
    }
    int ignored = 0;
    if (cards) {
        fits_free_memory(cards, &ignored);  // also returned with an error
    }
    if (failed != 0) {
        const std::string reason = FitsStatusText(status);
        std::size_t dropped = 0;
        for (const auto& card : scan.cards) {
            const std::size_t before = header.Cards().size();
            header.Add(card);
            dropped += header.Cards().size() == before ? 1 : 0;
        }
        note = "read as stored in the " + std::string(scan.compressed ? "compressed table" : "HDU") +
               " (cfitsio could not convert it: " + reason + "); " + std::to_string(dropped) +
               " structural, table and compression cards not kept";
    }
    // An EXTNAME that only named the compressed container says nothing about the image.
    if (auto name = header.Value("EXTNAME"); name && *name == "'COMPRESSED_IMAGE'") {
        header.Remove("EXTNAME");
    }
}

double ReadDoubleKey(fitsfile* file, const char* key, double fallback)
{
    int status = 0;
    double value = fallback;
    if (fits_read_key(file, TDOUBLE, key, &value, nullptr, &status) != 0) {
        fits_clear_errmsg();
        return fallback;
    }
    return value;
}

/// Where FITS row k (1-based) of a plane goes: `width` floats.
using RowSink = std::function<float*(int plane, int fitsRow)>;

/// Least and greatest finite sample of each plane, gathered as rows are read.
struct PlaneExtremes {
    std::array<float, 3> lo{HUGE_VALF, HUGE_VALF, HUGE_VALF};
    std::array<float, 3> hi{-HUGE_VALF, -HUGE_VALF, -HUGE_VALF};

    void Add(int plane, const float* row, int width)
    {
        ExtendFiniteExtremes(row, width, lo[static_cast<std::size_t>(plane)], hi[static_cast<std::size_t>(plane)]);
    }
    std::optional<std::pair<float, float>> Of(int plane) const
    {
        const auto p = static_cast<std::size_t>(plane);
        return lo[p] <= hi[p] ? std::optional<std::pair<float, float>>({lo[p], hi[p]}) : std::nullopt;
    }
};

/// Reads every sample with cfitsio, scaled by BSCALE and BZERO, blanks as
/// NaN; returns "" or what went wrong. The samples are read with a null
/// value rather than null flags: in cfitsio 4.2.0, fits_read_pixnullll on a
/// tile-compressed image whose tiles span several rows and hold no blank
/// copies null flags from a NULL pointer out of the tile cache
/// (imcomp_decompress_tile) when the second row of a tile is read.
/// 8- and 16-bit samples whose scaled values cannot pass the float range are
/// converted by cfitsio straight to float (the same value: the sample times
/// BSCALE plus BZERO in double, rounded to float); others go through double
/// so that values beyond the float range become infinities.
std::string ReadSamples(fitsfile* file, int bitpix, double bscale, double bzero, int width, int height, int planes,
                        const RowSink& sink, PlaneExtremes* extremes)
{
    const bool direct = (bitpix == 8 || bitpix == 16) && std::fabs(bscale) <= 1e30 && std::fabs(bzero) <= 1e30;
    std::vector<double> row(direct ? 0 : static_cast<std::size_t>(width));
    double nan = std::numeric_limits<double>::quiet_NaN();
    float nanf = std::numeric_limits<float>::quiet_NaN();
    int status = 0;
    for (int p = 0; p < planes; ++p) {
        for (int k = 1; k <= height; ++k) {
            LONGLONG first[3] = {1, k, p + 1};
            int anyBlank = 0;
            float* out = sink(p, k);
            if (direct) {
                if (fits_read_pixll(file, TFLOAT, first, width, &nanf, out, &anyBlank, &status) != 0) {
                    return DataFailure(status);
                }
            } else {
                if (fits_read_pixll(file, TDOUBLE, first, width, &nan, row.data(), &anyBlank, &status) != 0) {
                    return DataFailure(status);
                }
                for (int x = 0; x < width; ++x) {
                    out[x] = ToFloat(row[static_cast<std::size_t>(x)]);
                }
            }
            if (extremes) {
                extremes->Add(p, out, width);
            }
        }
    }
    return "";
}

/// Reads the 8- or 16-bit samples of an uncompressed image on a disk file
/// with BSCALE 1 (and BZERO within +-1e30) and no BLANK straight from the file, bands of rows on every
/// core: each sample plus BZERO (in double, as cfitsio adds it), rounded to
/// float, the extremes gathered per band. False (nothing read) for any other
/// image, or when the file does not hold all of the data; cfitsio reads it
/// then.
bool ReadPlainSamples(fitsfile* file, FitsBytes& bytes, const FitsScan& scan, double bscale, double bzero, int width,
                      int height, int planes, const RowSink& sink, PlaneExtremes& extremes)
{
    int status = 0;
    char blank[FLEN_VALUE];
    const bool hasBlank = fits_read_keyword(file, "BLANK", blank, nullptr, &status) == 0;
    fits_clear_errmsg();
    const std::size_t sampleBytes = scan.bitpix == 8 ? 1 : 2;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * sampleBytes;
    const std::uint64_t end =
        scan.dataStart + static_cast<std::uint64_t>(rowBytes) * static_cast<std::uint64_t>(height) * planes;
    if (scan.compressed || (scan.bitpix != 8 && scan.bitpix != 16) || bscale != 1.0 || !(std::fabs(bzero) <= 1e30) ||
        hasBlank || bytes.InMemory() || !bytes.Holds(end)) {
        return false;
    }
    constexpr int kBandRows = 64;
    const int bandsPerPlane = (height + kBandRows - 1) / kBandRows;
    std::vector<PlaneExtremes> found(static_cast<std::size_t>(bandsPerPlane) * static_cast<std::size_t>(planes));
    std::vector<char> failed(found.size(), 0);
    Concurrency::parallel_for(0, static_cast<int>(found.size()), [&](int band) {
        const int p = band / bandsPerPlane;
        const int k0 = 1 + (band % bandsPerPlane) * kBandRows;
        const int k1 = std::min(height + 1, k0 + kBandRows);
        std::vector<unsigned char> raw(rowBytes);
        for (int k = k0; k < k1; ++k) {
            const std::uint64_t at =
                scan.dataStart + (static_cast<std::uint64_t>(p) * static_cast<std::uint64_t>(height) +
                                  static_cast<std::uint64_t>(k - 1)) *
                                     rowBytes;
            if (!bytes.Read(at, raw.data(), rowBytes)) {
                failed[static_cast<std::size_t>(band)] = 1;
                return;
            }
            float* out = sink(p, k);
            const unsigned char* in = raw.data();
            if (sampleBytes == 1) {
                for (int x = 0; x < width; ++x) {
                    out[x] = static_cast<float>(static_cast<double>(in[x]) + bzero);
                }
            } else {
                for (int x = 0; x < width; ++x) {
                    const auto v = static_cast<std::int16_t>((in[2 * x] << 8) | in[2 * x + 1]);
                    out[x] = static_cast<float>(static_cast<double>(v) + bzero);
                }
            }
            found[static_cast<std::size_t>(band)].Add(p, out, width);
        }
    });
    if (std::find(failed.begin(), failed.end(), 1) != failed.end()) {
        return false;
    }
    for (std::size_t band = 0; band < found.size(); ++band) {
        const auto p = band / static_cast<std::size_t>(bandsPerPlane);
        extremes.lo[p] = std::min(extremes.lo[p], found[band].lo[p]);
        extremes.hi[p] = std::max(extremes.hi[p], found[band].hi[p]);
    }
    return true;
}

/// Reads a tile-compressed image in a child process. cfitsio's tile
/// decoders trust the streams they are given; the scan checks what can be
/// checked (fitsscan.cpp), and what remains (a damaged HCOMPRESS or PLIO
/// stream read past its end, an allocation cfitsio makes from a damaged
/// stream, a loop that does not end) is contained here: the child decodes
/// into shared memory under an address-space limit, with its error output
/// closed and no core dump; a crash, a hang past the time limit or a
/// failed allocation becomes one "damaged FITS data" error, and whatever
/// cfitsio leaked goes with the child.
std::string ReadContained(fitsfile* file, const FitsScan& scan, int width, int height, int planes, CKelImage& image)
{
    const std::size_t plane = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const std::size_t bytes = plane * static_cast<std::size_t>(planes) * sizeof(float);
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    float* shared = static_cast<float*>(mapped);
    struct Unmap {
        void* p;
        std::size_t n;
        ~Unmap() { munmap(p, n); }
    } unmap{mapped, bytes};

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return "cannot start the decoder: " + std::string(std::strerror(errno));
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return "cannot start the decoder: " + std::string(std::strerror(errno));
    }
    if (child == 0) {
        close(pipeEnds[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, STDERR_FILENO);
        }
        rlimit none{0, 0};
        setrlimit(RLIMIT_CORE, &none);
        LimitAddressSpace(static_cast<std::uint64_t>(scan.tiles.largestTile) * 32 + (std::uint64_t{256} << 20));
        std::string error;
        try {
            // Through double always: the tiles' own scaling is cfitsio's.
            error = ReadSamples(
                file, 0, 1.0, 0.0, width, height, planes,
                [&](int p, int k) {
                    return shared + static_cast<std::size_t>(p) * plane + static_cast<std::size_t>(k - 1) * width;
                },
                nullptr);
        } catch (...) {
            error = "out of memory while decoding";
        }
        if (!error.empty()) {
            [[maybe_unused]] const ssize_t ignored = write(pipeEnds[1], error.data(), error.size());
        }
        _exit(error.empty() ? 0 : 1);
    }
    close(pipeEnds[1]);

    // A few seconds, and more for a large image: a second per 2 million samples.
    const double limit = 5.0 + static_cast<double>(plane * static_cast<std::size_t>(planes)) / 2.0e6;
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    bool timedOut = false;
    for (;;) {
        const double left = limit - std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd wait{pipeEnds[0], POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(std::min(left * 1000.0 + 1.0, 60000.0)));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        char text[512];
        const ssize_t got = read(pipeEnds[0], text, sizeof text);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // the child has closed its end: it has ended
        }
        message.append(text, static_cast<std::size_t>(got));
    }
    close(pipeEnds[0]);
    if (timedOut) {
        kill(child, SIGKILL);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        return "damaged FITS data: decoding the " + scan.tiles.type + " tiles took longer than " +
               std::to_string(static_cast<int>(limit)) + " s";
    }
    if (WIFSIGNALED(status)) {
        return "damaged FITS data: cfitsio " + std::string(CFITSIO_VERSION_TEXT) + " failed on a " + scan.tiles.type +
               " tile (" + strsignal(WTERMSIG(status)) + ")";
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return message.empty() ? "damaged FITS data: the " + scan.tiles.type + " tiles cannot be decoded" : message;
    }
    for (int p = 0; p < planes; ++p) {
        for (int k = 1; k <= height; ++k) {
            const float* in = shared + static_cast<std::size_t>(p) * plane + static_cast<std::size_t>(k - 1) * width;
            std::memcpy(image.GetImageAdr(0, FitsRowToLibrary(k, height), p, 0, nullptr), in,
                        static_cast<std::size_t>(width) * sizeof(float));
        }
    }
    return "";
}

bool IsGzip(const std::string& path)
{
    unsigned char magic[2] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    const bool gzip = std::fread(magic, 1, 2, f) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
    std::fclose(f);
    return gzip;
}

}  // namespace

ImageFile ReadFitsFile(const std::string& path, ImageMaker make)
{
    // The scan first: nothing reaches cfitsio that it would misread.
    std::unique_ptr<FitsBytes> bytes;
    GzipFitsBytes* gzip = nullptr;
    if (IsGzip(path)) {
        auto inflating = std::make_unique<GzipFitsBytes>(path, MemoryBudget());
        gzip = inflating.get();
        bytes = std::move(inflating);
    } else {
        bytes = OpenFitsBytes(path);
    }
    const FitsScan scan = ScanFits(*bytes, path);
    if (scan.hdu == 0) {
        ReadFailure(path, scan.emptySeen ? "zero-size image (an axis of length 0)" : "no image in the file");
    }
    const int planes = PlanesOf(scan, path);
    CheckImageSize(path, scan.naxes[0], scan.naxes[1], planes);
    const int width = static_cast<int>(scan.naxes[0]);
    const int height = static_cast<int>(scan.naxes[1]);

    int status = 0;
    fitsfile* raw = nullptr;
    void* memory = nullptr;
    std::size_t memorySize = 0;
    if (gzip) {
        // cfitsio reads the inflated bytes, padded to whole blocks.
        const std::uint64_t padded = (scan.dataEnd + 2879) / 2880 * 2880;
        bytes->Holds(padded);
        auto& data = gzip->Data();
        data.resize(std::max<std::size_t>(data.size(), padded), 0);
        memory = data.data();
        memorySize = data.size();
        fits_open_memfile(&raw, "inflated.fits", READONLY, &memory, &memorySize, 0, nullptr, &status);
    } else {
        // The disk-file entry takes the name literally: no cfitsio filename syntax.
        fits_open_diskfile(&raw, path.c_str(), READONLY, &status);
    }
    if (status != 0) {
        if (raw) {
            int ignored = 0;
            fits_close_file(raw, &ignored);
        }
        ReadFailure(path, "truncated or damaged FITS header: " + FitsStatusText(status));
    }
    FitsHandle file(raw);
    int type = 0;
    int bitpix = 0;
    int naxis = 0;
    LONGLONG naxes[3] = {};
    if (fits_movabs_hdu(file.get(), scan.hdu, &type, &status) != 0 ||
        fits_get_img_paramll(file.get(), 3, &bitpix, &naxis, naxes, &status) != 0) {
        ReadFailure(path, "damaged FITS header: " + FitsStatusText(status));
    }
    if (type != IMAGE_HDU || bitpix != scan.bitpix || naxis != scan.naxis || naxes[0] != scan.naxes[0] ||
        naxes[1] != scan.naxes[1]) {
        ReadFailure(path, "damaged FITS header: cfitsio reads another image shape than the header gives");
    }

    ImageFile result;
    result.path = path;
    result.format = "FITS";
    result.hdu = scan.hdu;
    result.bitDepth = scan.bitpix;
    result.compressed = scan.compressed;
    result.bscale = ReadDoubleKey(file.get(), "BSCALE", 1.0);
    result.bzero = ReadDoubleKey(file.get(), "BZERO", 0.0);
    ReadHeaderCards(file.get(), scan, result.header, result.headerNote);

    result.image = make(width, height, planes);
    CKelImage& image = *result.image;
    if (image.GetWidth() != width || image.GetHeight() != height || image.GetPlanes() != planes) {
        throw std::bad_alloc();
    }
    PlaneExtremes extremes;
    const RowSink sink = [&](int p, int k) { return image.GetImageAdr(0, FitsRowToLibrary(k, height), p, 0, nullptr); };
    const std::string error =
        scan.compressed ? ReadContained(file.get(), scan, width, height, planes, image)
        : ReadPlainSamples(file.get(), *bytes, scan, result.bscale, result.bzero, width, height, planes, sink, extremes)
            ? std::string()
            : ReadSamples(file.get(), scan.bitpix, result.bscale, result.bzero, width, height, planes, sink, &extremes);
    if (!error.empty()) {
        ReadFailure(path, error);
    }
    SetOrigin(image, path, "FITS", scan.bitpix);
    if (scan.compressed) {
        SetLevelsToData(image);
    } else {
        for (int p = 0; p < planes; ++p) {
            SetLevelsToExtremes(image, p, extremes.Of(p));
        }
    }
    return result;
}

void WriteFitsFile(const std::string& path, const CKelImage& image, const FitsHeader& header)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int planes = image.GetPlanes();
    if (width < 1 || height < 1 || planes < 1) {
        throw ToolError("cannot write '" + path + "': the image is empty");
    }
    SafeOutput output(path);
    output.HandOver();
    int status = 0;
    fitsfile* raw = nullptr;
    if (fits_create_diskfile(&raw, output.TempPath().c_str(), &status) != 0) {
        output.Fail(FitsStatusText(status));
    }
    FitsHandle file(raw);
    long naxes[3] = {width, height, planes};
    fits_create_img(file.get(), FLOAT_IMG, planes > 1 ? 3 : 2, naxes, &status);

    // Cards cfitsio wrote itself (the standard's COMMENT lines among them)
    // are not repeated from the input.
    std::set<std::string> present;
    int existing = 0;
    fits_get_hdrspace(file.get(), &existing, nullptr, &status);
    for (int k = 1; k <= existing && status == 0; ++k) {
        char card[FLEN_CARD] = {};
        fits_read_record(file.get(), k, card, &status);
        std::string text(card);
        text.resize(80, ' ');
        present.insert(text);
    }
    for (const auto& card : header.Cards()) {
        if (status == 0 && !FitsHeader::IsStructural(FitsHeader::Keyword(card)) && !present.count(card)) {
            fits_write_record(file.get(), card.c_str(), &status);
        }
    }
    if (status != 0) {
        output.Fail("cannot write the header: " + FitsStatusText(status));
    }

    // Library row height - k is FITS row k. cfitsio may byte-swap what it is
    // given in place, so each row goes through a buffer of our own.
    std::vector<float> row(static_cast<std::size_t>(width));
    for (int p = 0; p < planes && status == 0; ++p) {
        for (int k = 1; k <= height && status == 0; ++k) {
            const float* in = image.GetImageAdr(0, FitsRowToLibrary(k, height), p, 1, nullptr);
            std::copy(in, in + width, row.begin());
            long first[3] = {1, k, p + 1};
            fits_write_pix(file.get(), TFLOAT, first, width, row.data(), &status);
        }
    }
    fits_close_file(file.release(), &status);
    if (status != 0) {
        output.Fail(FitsStatusText(status));
    }
    output.Commit();
}

}  // namespace orbimg::tool
