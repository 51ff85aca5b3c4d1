// The FITS scan: headers, sizes and compressed tiles checked before cfitsio.
//
// The faults these checks keep away, in cfitsio 4.2.0 (Debian 4.2.0-3), for
// an upstream report:
//   - ZTILEn = 0 in a compressed HDU: integer division by zero (SIGFPE)
//     while the header is read, already inside fits_movabs_hdu.
//   - A Rice tile whose stream ends before its pixels do: fits_rdecomp,
//     fits_rdecomp_short and fits_rdecomp_byte check the end of the buffer
//     only after each block of 32 pixels, and skip runs of zero bytes without
//     any check, so they read past the compressed-tile buffer.
//   - An HCOMPRESS tile whose stream names a larger nx x ny than the tile:
//     fits_hdecompress writes nx x ny pixels into a buffer of the tile's size.
//   - A descriptor whose length or heap offset points past the heap, a row
//     width, heap size or tile shape that claims gigabytes: cfitsio allocates
//     what is claimed (3.6 GB seen) before it reads anything.
//   - A GZIP tile that inflates far past its tile: the buffer grows to hold it.
#include "fitsscan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "imagefile.h"
#include "membudget.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

constexpr std::uint64_t kBlock = 2880;
/// The most a gzip-compressed FITS file may inflate, as a multiple of its size.
constexpr std::uint64_t kMostGzipRatio = 256;
constexpr int kMaxAxes = 999;

// ---- checked arithmetic: nothing on overflow ----

std::optional<std::uint64_t> Mul(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r) || r > (std::uint64_t{1} << 62)) {
        return std::nullopt;
    }
    return r;
}

std::optional<std::uint64_t> Add(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t r = 0;
    if (__builtin_add_overflow(a, b, &r) || r > (std::uint64_t{1} << 62)) {
        return std::nullopt;
    }
    return r;
}

std::uint64_t PadToBlock(std::uint64_t n) { return (n + kBlock - 1) / kBlock * kBlock; }

// ---- disk files ----

class DiskBytes : public FitsBytes {
public:
    DiskBytes(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    ~DiskBytes() override { ::close(m_fd); }
    bool Read(std::uint64_t offset, void* out, std::size_t n) override
    {
        if (offset > m_size || n > m_size - offset) {
            return false;
        }
        auto* to = static_cast<unsigned char*>(out);
        while (n > 0) {
            const ssize_t got = ::pread(m_fd, to, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            to += got;
            offset += static_cast<std::uint64_t>(got);
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    bool Holds(std::uint64_t end) override { return end <= m_size; }
    std::uint64_t MostBytes() const override { return m_size; }

private:
    int m_fd;
    std::uint64_t m_size;
};

// ---- header cards ----

struct Header {
    std::vector<std::string> cards;

    /// The value text of the first card with the keyword: a string without
    /// its quotes (inner quotes undoubled, trailing blanks dropped), or the
    /// text before any comment, trimmed.
    std::optional<std::string> Raw(const std::string& key) const
    {
        for (const auto& card : cards) {
            if (FitsHeader::Keyword(card) != key || card.compare(8, 2, "= ") != 0) {
                continue;
            }
            std::string v = card.substr(10);
            const auto first = v.find_first_not_of(' ');
            if (first == std::string::npos) {
                return std::string();
            }
            if (v[first] == '\'') {
                std::string text;
                for (std::size_t i = first + 1; i < v.size(); ++i) {
                    if (v[i] == '\'') {
                        if (i + 1 < v.size() && v[i + 1] == '\'') {
                            text += '\'';
                            ++i;
                            continue;
                        }
                        break;
                    }
                    text += v[i];
                }
                while (!text.empty() && text.back() == ' ') {
                    text.pop_back();
                }
                return text;
            }
            v = v.substr(first,
                         v.find('/', first) == std::string::npos ? std::string::npos : v.find('/', first) - first);
            while (!v.empty() && v.back() == ' ') {
                v.pop_back();
            }
            return v;
        }
        return std::nullopt;
    }

    /// An integer value (also written as a float with an integral value).
    std::optional<long long> Int(const std::string& key) const
    {
        const auto raw = Raw(key);
        if (!raw || raw->empty()) {
            return std::nullopt;
        }
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(raw->c_str(), &end, 10);
        if (errno == 0 && end == raw->c_str() + raw->size()) {
            return v;
        }
        std::string text = *raw;
        std::replace(text.begin(), text.end(), 'D', 'E');
        errno = 0;
        const double d = std::strtod(text.c_str(), &end);
        if (errno == 0 && end == text.c_str() + text.size() && d == std::floor(d) && std::fabs(d) < 9.0e18) {
            return static_cast<long long>(d);
        }
        return std::nullopt;
    }

    bool True(const std::string& key) const
    {
        const auto raw = Raw(key);
        return raw && *raw == "T";
    }
};

struct Refusal {
    const std::string& path;
    int hdu;
    [[noreturn]] void operator()(const std::string& what) const
    {
        ReadFailure(path, "damaged FITS header: " + what + (hdu > 0 ? " (HDU " + std::to_string(hdu) + ")" : ""));
    }
};

/// Reads the header starting at `offset`: cards up to END. Returns nothing
/// when the file ends exactly there (no further HDU).
std::optional<Header> ReadHeader(FitsBytes& bytes, std::uint64_t offset, int hdu, const std::string& path,
                                 std::uint64_t& dataStart)
{
    Header header;
    const Refusal refuse{path, hdu};
    char block[kBlock];
    for (std::uint64_t at = offset;; at += kBlock) {
        if (!bytes.Read(at, block, kBlock)) {
            if (at == offset && hdu > 1) {
                return std::nullopt;  // the last HDU ended the file
            }
            ReadFailure(path, "truncated FITS header: the file ends before the END card" +
                                  (hdu > 1 ? " (HDU " + std::to_string(hdu) + ")" : std::string()));
        }
        if (at == offset && hdu > 1 &&
            std::string(block, 80).find_first_not_of(std::string(" \0", 2)) == std::string::npos) {
            return std::nullopt;  // blanks or zeros after the last HDU
        }
        for (std::size_t k = 0; k < kBlock; k += 80) {
            std::string card(block + k, 80);
            if (card.compare(0, 8, "END     ") == 0) {
                dataStart = at + kBlock;
                if (header.cards.empty()) {
                    refuse("a header holds no card");
                }
                return header;
            }
            header.cards.push_back(std::move(card));
        }
        if (header.cards.size() > 36 * 100000) {
            refuse("a header of more than 100000 blocks");
        }
    }
}

// ---- binary table columns ----

struct Column {
    std::string name;
    char type = 0;             ///< TFORM letter; 'P' or 'Q' for descriptors
    char element = 0;          ///< element type of a descriptor
    std::uint64_t offset = 0;  ///< byte offset in the row
};

std::uint64_t ElementBytes(char type)
{
    switch (type) {
    case 'L':
    case 'B':
    case 'A':
        return 1;
    case 'I':
        return 2;
    case 'J':
    case 'E':
        return 4;
    case 'K':
    case 'D':
    case 'C':
        return 8;
    case 'M':
        return 16;
    default:
        return 0;
    }
}

/// The columns of a binary table; refuses a TFORM cfitsio would misread or a
/// row width that disagrees with NAXIS1.
std::vector<Column> ReadColumns(const Header& h, std::uint64_t rowBytes, const Refusal& refuse)
{
    const auto fields = h.Int("TFIELDS");
    if (!fields || *fields < 0 || *fields > 999) {
        refuse("TFIELDS missing or outside 0..999");
    }
    std::vector<Column> columns;
    std::uint64_t offset = 0;
    for (long long n = 1; n <= *fields; ++n) {
        const auto form = h.Raw("TFORM" + std::to_string(n));
        if (!form) {
            refuse("TFORM" + std::to_string(n) + " missing");
        }
        std::size_t i = 0;
        std::uint64_t repeat = 0;
        bool digits = false;
        while (i < form->size() && std::isdigit(static_cast<unsigned char>((*form)[i]))) {
            repeat = repeat * 10 + static_cast<std::uint64_t>((*form)[i] - '0');
            digits = true;
            if (repeat > (std::uint64_t{1} << 40)) {
                refuse("TFORM" + std::to_string(n) + " repeat count too large");
            }
            ++i;
        }
        if (!digits) {
            repeat = 1;
        }
        if (i >= form->size()) {
            refuse("TFORM" + std::to_string(n) + " = '" + *form + "' has no type");
        }
        Column column;
        column.type = static_cast<char>(std::toupper(static_cast<unsigned char>((*form)[i])));
        column.offset = offset;
        column.name = h.Raw("TTYPE" + std::to_string(n)).value_or("");
        std::uint64_t width = 0;
        if (column.type == 'P' || column.type == 'Q') {
            if (repeat > 1 || i + 1 >= form->size()) {
                refuse("TFORM" + std::to_string(n) + " = '" + *form + "' is not a descriptor");
            }
            column.element = static_cast<char>(std::toupper(static_cast<unsigned char>((*form)[i + 1])));
            if (ElementBytes(column.element) == 0) {
                refuse("TFORM" + std::to_string(n) + " = '" + *form + "' has an unknown element type");
            }
            width = repeat == 0 ? 0 : (column.type == 'P' ? 8 : 16);
        } else if (column.type == 'X') {
            width = (repeat + 7) / 8;
        } else if (ElementBytes(column.type) != 0) {
            width = repeat * ElementBytes(column.type);
        } else {
            refuse("TFORM" + std::to_string(n) + " = '" + *form + "' has an unknown type");
        }
        offset += width;
        columns.push_back(column);
    }
    if (offset != rowBytes) {
        refuse("NAXIS1 = " + std::to_string(rowBytes) + " is not the sum of the column widths (" +
               std::to_string(offset) + ")");
    }
    return columns;
}

const Column* FindColumn(const std::vector<Column>& columns, const char* name)
{
    for (const auto& c : columns) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

std::uint64_t BigEndian(const unsigned char* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

// ---- compressed streams ----

/// Walks a Rice stream exactly as cfitsio's decoders read it (the first
/// pixel, then per block of `block` pixels the FS code and the coded
/// differences) and tells whether every byte it reads lies inside the
/// stream. Values are not kept.
bool RiceStreamFits(const unsigned char* c, std::uint64_t length, long long pixels, int bytepix, int block)
{
    const int fsbits = bytepix == 1 ? 3 : bytepix == 2 ? 4 : 5;
    const int fsmax = bytepix == 1 ? 6 : bytepix == 2 ? 14 : 25;
    const int bbits = 1 << fsbits;
    const int firstBytes = bytepix == 1 ? 1 : bytepix == 2 ? 2 : 4;
    std::uint64_t pos = static_cast<std::uint64_t>(firstBytes);
    const auto next = [&](std::uint64_t& byte) {
        if (pos >= length) {
            return false;
        }
        byte = c[pos++];
        return true;
    };
    std::uint64_t b = 0;
    if (!next(b)) {
        return false;
    }
    long long nbits = 8;
    for (long long i = 0; i < pixels;) {
        nbits -= fsbits;
        while (nbits < 0) {
            std::uint64_t byte = 0;
            if (!next(byte)) {
                return false;
            }
            b = ((b << 8) | byte) & 0xFFFFFFFFu;
            nbits += 8;
        }
        const long long fs = static_cast<long long>(b >> nbits) - 1;
        b &= (std::uint64_t{1} << nbits) - 1;
        const long long imax = std::min(i + block, pixels);
        if (fs < 0) {
            i = imax;
        } else if (fs == fsmax) {
            for (; i < imax; ++i) {
                long long k = bbits - nbits;
                for (k -= 8; k >= 0; k -= 8) {
                    if (!next(b)) {
                        return false;
                    }
                }
                if (nbits > 0) {
                    if (!next(b)) {
                        return false;
                    }
                    b &= (std::uint64_t{1} << nbits) - 1;
                } else {
                    b = 0;
                }
            }
        } else if (fs > fsmax) {
            return false;  // no such code: the stream is damaged
        } else {
            for (; i < imax; ++i) {
                while (b == 0) {
                    nbits += 8;
                    if (!next(b)) {
                        return false;
                    }
                }
                int top = 0;
                while ((b >> top) > 1) {
                    ++top;
                }
                nbits = top;  // bits below the leading one
                b ^= std::uint64_t{1} << nbits;
                nbits -= fs;
                while (nbits < 0) {
                    std::uint64_t byte = 0;
                    if (!next(byte)) {
                        return false;
                    }
                    b = ((b << 8) | byte) & 0xFFFFFFFFu;
                    nbits += 8;
                }
                b &= (std::uint64_t{1} << nbits) - 1;
            }
        }
    }
    return true;
}

/// Inflated size of a gzip or zlib stream, counted up to `limit` + 1 bytes;
/// nothing when the stream is damaged.
std::optional<std::uint64_t> InflatedSize(const unsigned char* data, std::uint64_t length, std::uint64_t limit)
{
    z_stream z{};
    if (inflateInit2(&z, 15 + 32) != Z_OK) {  // gzip or zlib header
        return std::nullopt;
    }
    unsigned char sink[16384];
    std::uint64_t total = 0;
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(std::min<std::uint64_t>(length, std::numeric_limits<uInt>::max()));
    int ret = Z_OK;
    while (ret == Z_OK && total <= limit) {
        z.next_out = sink;
        z.avail_out = sizeof sink;
        ret = inflate(&z, Z_NO_FLUSH);
        total += sizeof sink - z.avail_out;
        if (ret == Z_BUF_ERROR || (ret == Z_OK && z.avail_in == 0 && z.avail_out != 0)) {
            break;
        }
    }
    inflateEnd(&z);
    if (ret != Z_STREAM_END && total <= limit) {
        return std::nullopt;
    }
    return total;
}

// ---- the compressed table ----

struct Compression {
    std::string type;
    int zbitpix = 0;
    int znaxis = 0;
    std::array<long long, 9> znaxes{};
    std::array<long long, 9> tile{};
    int riceBlock = 32;
    int riceBytes = 4;
};

const char* const kCompressionTypes[] = {"RICE_1",      "RICE_ONE", "GZIP_1",    "GZIP_2",
                                         "HCOMPRESS_1", "PLIO_1",   "NOCOMPRESS"};

/// Checks the Z keywords cfitsio reads when it opens a compressed HDU.
Compression ReadCompression(const Header& h, const Refusal& refuse)
{
    Compression z;
    const auto zbitpix = h.Int("ZBITPIX");
    if (!zbitpix ||
        (*zbitpix != 8 && *zbitpix != 16 && *zbitpix != 32 && *zbitpix != 64 && *zbitpix != -32 && *zbitpix != -64)) {
        refuse("ZBITPIX missing or not 8, 16, 32, 64, -32 or -64");
    }
    z.zbitpix = static_cast<int>(*zbitpix);
    const auto znaxis = h.Int("ZNAXIS");
    if (!znaxis || *znaxis < 0 || *znaxis > 6) {
        refuse("ZNAXIS missing or outside 0..6");
    }
    z.znaxis = static_cast<int>(*znaxis);
    for (int n = 1; n <= z.znaxis; ++n) {
        const auto axis = h.Int("ZNAXIS" + std::to_string(n));
        if (!axis || *axis < 0 || *axis > std::numeric_limits<int>::max()) {
            refuse("ZNAXIS" + std::to_string(n) + " missing or outside 0..2147483647");
        }
        z.znaxes[static_cast<std::size_t>(n - 1)] = *axis;
        const auto tile = h.Int("ZTILE" + std::to_string(n));
        const long long fallback = n == 1 ? *axis : 1;
        if (tile && (*tile < 1 || *tile > std::numeric_limits<int>::max())) {
            refuse("ZTILE" + std::to_string(n) + " = " + std::to_string(*tile) + " (a tile side is at least 1)");
        }
        z.tile[static_cast<std::size_t>(n - 1)] = tile ? *tile : std::max<long long>(fallback, 1);
    }
    const auto type = h.Raw("ZCMPTYPE");
    if (!type) {
        refuse("ZCMPTYPE missing");
    }
    z.type = *type;
    if (std::none_of(std::begin(kCompressionTypes), std::end(kCompressionTypes),
                     [&](const char* known) { return z.type == known; })) {
        refuse("unknown compression ZCMPTYPE = '" + z.type + "'");
    }
    for (int n = 1; n <= 999; ++n) {
        const auto name = h.Raw("ZNAME" + std::to_string(n));
        if (!name) {
            break;
        }
        const auto value = h.Int("ZVAL" + std::to_string(n));
        if (*name == "BLOCKSIZE") {
            if (!value || *value < 1 || *value > 4096) {
                refuse("Rice BLOCKSIZE outside 1..4096");
            }
            z.riceBlock = static_cast<int>(*value);
        } else if (*name == "BYTEPIX") {
            if (!value || (*value != 1 && *value != 2 && *value != 4 && *value != 8)) {
                refuse("Rice BYTEPIX not 1, 2, 4 or 8");
            }
            z.riceBytes = static_cast<int>(*value);
        }
    }
    if (const auto seed = h.Int("ZDITHER0"); h.Raw("ZDITHER0") && (!seed || *seed < 1 || *seed > 10000)) {
        refuse("ZDITHER0 outside 1..10000");
    }
    const bool rice = z.type == "RICE_1" || z.type == "RICE_ONE";
    if (rice && z.zbitpix == 64) {
        refuse("Rice compression of 64-bit integers");
    }
    if (z.type == "HCOMPRESS_1") {
        for (int n = 3; n <= z.znaxis; ++n) {
            if (z.tile[static_cast<std::size_t>(n - 1)] != 1) {
                refuse("HCOMPRESS tiles of more than two dimensions");
            }
        }
    }
    return z;
}

/// Checks every tile of a compressed image: descriptors inside the heap,
/// and the start (or the whole, for Rice and GZIP) of each stream.
void CheckTiles(FitsBytes& bytes, const Header& h, const Compression& z, std::uint64_t dataStart,
                std::uint64_t rowBytes, std::uint64_t rows, std::uint64_t heapSize, FitsTiles& tiles,
                const Refusal& refuse)
{
    const std::vector<Column> columns = ReadColumns(h, rowBytes, refuse);
    const Column* data = FindColumn(columns, "COMPRESSED_DATA");
    if (!data || (data->type != 'P' && data->type != 'Q')) {
        refuse("no COMPRESSED_DATA descriptor column");
    }
    const Column* gzipData = FindColumn(columns, "GZIP_COMPRESSED_DATA");
    const Column* rawData = FindColumn(columns, "UNCOMPRESSED_DATA");
    for (const Column* c : {gzipData, rawData}) {
        if (c && c->type != 'P' && c->type != 'Q') {
            refuse(c->name + " is not a descriptor column");
        }
    }

    // Tiles: one table row each, the first axis running fastest.
    std::array<long long, 9> counts{};
    std::uint64_t tileCount = 1;
    std::uint64_t tileSamples = 1;
    for (int n = 0; n < z.znaxis; ++n) {
        counts[static_cast<std::size_t>(n)] =
            (z.znaxes[static_cast<std::size_t>(n)] + z.tile[static_cast<std::size_t>(n)] - 1) /
            z.tile[static_cast<std::size_t>(n)];
        const auto product = Mul(tileCount, static_cast<std::uint64_t>(counts[static_cast<std::size_t>(n)]));
        const auto samples = Mul(tileSamples, static_cast<std::uint64_t>(z.tile[static_cast<std::size_t>(n)]));
        if (!product || !samples) {
            refuse("tiles too large");
        }
        tileCount = *product;
        tileSamples = *samples;
    }
    if (tileCount != rows) {
        refuse("the table has " + std::to_string(rows) + " rows for " + std::to_string(tileCount) + " tiles");
    }
    // cfitsio holds a tile as doubles or 64-bit integers, and one more copy
    // while it converts.
    CheckMemory(refuse.path, Mul(tileSamples, 16).value_or(~std::uint64_t{0}),
                "a tile of " + std::to_string(tileSamples) + " samples");
    tiles.type = z.type;
    tiles.tile = z.tile;
    tiles.count = static_cast<long long>(tileCount);
    tiles.largestTile = static_cast<long long>(tileSamples);

    const std::uint64_t table = rowBytes * rows;
    const auto theap = h.Int("THEAP");
    if (theap && (*theap < 0 || static_cast<std::uint64_t>(*theap) < table ||
                  static_cast<std::uint64_t>(*theap) > table + heapSize)) {
        refuse("THEAP outside the data");
    }
    const std::uint64_t heapStart = theap ? static_cast<std::uint64_t>(*theap) : table;
    const std::uint64_t heapEnd = table + heapSize;  // relative to dataStart

    std::vector<unsigned char> row(rowBytes);
    std::vector<unsigned char> stream;
    std::array<long long, 9> index{};
    for (std::uint64_t r = 0; r < rows; ++r) {
        // This tile's shape: full tiles, and a part tile at each far edge.
        long long pixels = 1;
        long long tileDim[2] = {1, 1};
        for (int n = 0; n < z.znaxis; ++n) {
            const auto k = static_cast<std::size_t>(n);
            const long long side = std::min(z.tile[k], z.znaxes[k] - index[k] * z.tile[k]);
            pixels *= side;
            if (n < 2) {
                tileDim[n] = side;
            }
        }
        for (int n = 0; n < z.znaxis; ++n) {
            const auto k = static_cast<std::size_t>(n);
            if (++index[k] < counts[k]) {
                break;
            }
            index[k] = 0;
        }

        if (!bytes.Read(dataStart + r * rowBytes, row.data(), rowBytes)) {
            ReadFailure(refuse.path, "truncated FITS file: the data ends before the image does");
        }
        struct Span {
            std::uint64_t count = 0;
            std::uint64_t offset = 0;
        };
        const auto descriptor = [&](const Column& c) {
            const unsigned char* p = row.data() + c.offset;
            const int width = c.type == 'P' ? 4 : 8;
            Span s{BigEndian(p, width), BigEndian(p + width, width)};
            const std::uint64_t limit = c.type == 'P' ? 0x7FFFFFFFu : (std::uint64_t{1} << 62);
            const auto length = Mul(s.count, ElementBytes(c.element));
            const auto end = length ? Add(heapStart, s.offset) : std::nullopt;
            const auto last = end ? Add(*end, *length) : std::nullopt;
            if (s.count > limit || s.offset > limit || !last || *last > heapEnd) {
                refuse("tile " + std::to_string(r + 1) + " of " + std::to_string(rows) + ": " + c.name +
                       " points past the heap");
            }
            s.count = *length;  // in bytes from here on
            return s;
        };
        const Span main = descriptor(*data);
        const Span gz = gzipData ? descriptor(*gzipData) : Span{};
        const Span raw = rawData ? descriptor(*rawData) : Span{};
        const std::string tileName = "tile " + std::to_string(r + 1) + " of " + std::to_string(rows);
        if (main.count == 0) {
            if (raw.count == 0 && gz.count == 0) {
                refuse(tileName + " holds no data");
            }
            if (raw.count > static_cast<std::uint64_t>(pixels) * 8) {
                refuse(tileName + ": more uncompressed data than the tile holds");
            }
            if (gz.count > 0) {
                stream.resize(gz.count);
                if (!bytes.Read(dataStart + heapStart + gz.offset, stream.data(), gz.count)) {
                    ReadFailure(refuse.path, "truncated FITS file: the data ends before the image does");
                }
                const auto size = InflatedSize(stream.data(), gz.count, static_cast<std::uint64_t>(pixels) * 8);
                if (!size || *size > static_cast<std::uint64_t>(pixels) * 8) {
                    refuse(tileName + ": its GZIP stream is damaged or larger than the tile");
                }
            }
            continue;
        }
        stream.resize(main.count);
        if (!bytes.Read(dataStart + heapStart + main.offset, stream.data(), main.count)) {
            ReadFailure(refuse.path, "truncated FITS file: the data ends before the image does");
        }
        const unsigned char* s = stream.data();
        const std::uint64_t n = main.count;
        if (z.type == "RICE_1" || z.type == "RICE_ONE") {
            const int bytepix = z.riceBytes == 1 ? 1 : z.riceBytes == 2 ? 2 : 4;
            if (!RiceStreamFits(s, n, pixels, bytepix, z.riceBlock)) {
                refuse(tileName + ": its Rice stream is damaged or ends before its " + std::to_string(pixels) +
                       " pixels do");
            }
        } else if (z.type == "GZIP_1" || z.type == "GZIP_2") {
            const auto size = InflatedSize(s, n, static_cast<std::uint64_t>(pixels) * 8);
            if (!size || *size > static_cast<std::uint64_t>(pixels) * 8) {
                refuse(tileName + ": its GZIP stream is damaged or larger than the tile");
            }
        } else if (z.type == "HCOMPRESS_1") {
            // Magic DD 99, nx (rows), ny (columns), scale; the sum of all
            // pixels (8 bytes) and the bit planes of the three quadrants.
            if (n < 25 || s[0] != 0xDD || s[1] != 0x99) {
                refuse(tileName + ": not an HCOMPRESS stream");
            }
            const auto nx = static_cast<std::int32_t>(BigEndian(s + 2, 4));
            const auto ny = static_cast<std::int32_t>(BigEndian(s + 6, 4));
            if (nx != tileDim[1] || ny != tileDim[0]) {
                refuse(tileName + ": its HCOMPRESS stream is " + std::to_string(ny) + " x " + std::to_string(nx) +
                       " for a tile of " + std::to_string(tileDim[0]) + " x " + std::to_string(tileDim[1]));
            }
            const int maxPlanes = (z.zbitpix == 8 || z.zbitpix == 16) ? 32 : 64;
            for (int q = 0; q < 3; ++q) {
                if (s[22 + q] > maxPlanes) {
                    refuse(tileName + ": HCOMPRESS bit planes past " + std::to_string(maxPlanes));
                }
            }
        } else if (z.type == "PLIO_1") {
            // A line list of 16-bit words: its length in words 2 (or 3 and 4).
            if (data->element != 'I' || n < 10) {
                refuse(tileName + ": not a PLIO line list");
            }
            const auto word = [&](int k) { return static_cast<std::int16_t>(BigEndian(s + 2 * k, 2)); };
            const long long length = word(2) > 0 ? word(2) : (static_cast<long long>(word(4)) << 15) + word(3);
            if (length < 0 || static_cast<std::uint64_t>(length) > n / 2 || word(1) < 4 || word(1) > length) {
                refuse(tileName + ": its PLIO line list is longer than its data");
            }
        }
    }
}

}  // namespace

std::unique_ptr<FitsBytes> OpenFitsBytes(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ReadFailure(path, std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        ReadFailure(path, std::strerror(error));
    }
    return std::make_unique<DiskBytes>(fd, static_cast<std::uint64_t>(st.st_size));
}

// ---- gzip ----

struct GzipFitsBytes::Stream {
    std::FILE* file = nullptr;
    z_stream z{};
    bool started = false;
    unsigned char in[65536];
    ~Stream()
    {
        if (started) {
            inflateEnd(&z);
        }
        if (file) {
            std::fclose(file);
        }
    }
};

GzipFitsBytes::GzipFitsBytes(const std::string& path, std::uint64_t limit)
    : m_stream(std::make_unique<Stream>()), m_path(path), m_limit(limit)
{
    m_stream->file = std::fopen(path.c_str(), "rb");
    if (!m_stream->file) {
        ReadFailure(path, std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fileno(m_stream->file), &st) == 0) {
        m_compressedSize = static_cast<std::uint64_t>(st.st_size);
    }
    if (inflateInit2(&m_stream->z, 15 + 16) != Z_OK) {
        throw std::bad_alloc();
    }
    m_stream->started = true;
}

GzipFitsBytes::~GzipFitsBytes() = default;

std::uint64_t GzipFitsBytes::MostBytes() const
{
    // Deflate writes at least 2 bits per 258 bytes: 1032 to 1 at most.
    return m_compressedSize * 1032;
}

bool GzipFitsBytes::Holds(std::uint64_t end)
{
    if (end <= m_data.size()) {
        return true;
    }
    if (m_ended || end > MostBytes()) {
        return false;
    }
    // Real frames shrink a few times under gzip; a file that must inflate
    // far more holds next to nothing and would only cost memory and time.
    if (end > m_compressedSize * kMostGzipRatio) {
        ReadFailure(m_path, "the gzip file would inflate more than " + std::to_string(kMostGzipRatio) + "-fold (" +
                                DescribeBytes(end) + " from " + DescribeBytes(m_compressedSize) +
                                "), as a decompression bomb does; gunzip it to read it");
    }
    if (end > m_limit) {
        CheckMemory(m_path, end, "inflating the gzip file");
    }
    if (end > m_data.capacity() && end - m_data.size() > (std::uint64_t{1} << 20)) {
        m_data.reserve(static_cast<std::size_t>(end));  // an HDU's data: one allocation, no copies
    }
    z_stream& z = m_stream->z;
    while (m_data.size() < end && !m_ended) {
        if (z.avail_in == 0) {
            z.next_in = m_stream->in;
            z.avail_in = static_cast<uInt>(std::fread(m_stream->in, 1, sizeof m_stream->in, m_stream->file));
            if (z.avail_in == 0) {
                m_ended = true;
                break;
            }
        }
        const std::size_t before = m_data.size();
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(
            std::max<std::uint64_t>(end - before, std::uint64_t{1} << 20), m_limit - std::min(m_limit, before)));
        if (want == 0) {
            CheckMemory(m_path, end, "inflating the gzip file");
        }
        m_data.resize(before + want);
        z.next_out = m_data.data() + before;
        z.avail_out = static_cast<uInt>(std::min<std::size_t>(want, std::numeric_limits<uInt>::max()));
        const int ret = inflate(&z, Z_NO_FLUSH);
        m_data.resize(before + (want - z.avail_out));
        if (ret == Z_STREAM_END) {
            m_ended = true;
        } else if (ret != Z_OK && ret != Z_BUF_ERROR) {
            ReadFailure(m_path, "damaged gzip stream (" + std::string(z.msg ? z.msg : "zlib error") + ")");
        }
    }
    return end <= m_data.size();
}

bool GzipFitsBytes::Read(std::uint64_t offset, void* out, std::size_t n)
{
    const auto end = Add(offset, n);
    if (!end || !Holds(*end)) {
        return false;
    }
    std::memcpy(out, m_data.data() + offset, n);
    return true;
}

FitsScan ScanFits(FitsBytes& bytes, const std::string& path)
{
    FitsScan scan;
    std::uint64_t offset = 0;
    for (int hdu = 1;; ++hdu) {
        const Refusal refuse{path, hdu};
        std::uint64_t dataStart = 0;
        std::optional<Header> header = ReadHeader(bytes, offset, hdu, path, dataStart);
        if (!header) {
            return scan;
        }
        const Header& h = *header;
        const std::string first = FitsHeader::Keyword(h.cards.front());
        if (hdu == 1 ? first != "SIMPLE" : first != "XTENSION") {
            refuse(hdu == 1 ? "1st key not SIMPLE" : "HDU does not start with XTENSION");
        }
        const std::string xtension = hdu == 1 ? "" : h.Raw("XTENSION").value_or("");
        const auto bitpix = h.Int("BITPIX");
        if (!bitpix ||
            (*bitpix != 8 && *bitpix != 16 && *bitpix != 32 && *bitpix != 64 && *bitpix != -32 && *bitpix != -64)) {
            refuse("BITPIX missing or not 8, 16, 32, 64, -32 or -64");
        }
        const auto naxis = h.Int("NAXIS");
        if (!naxis || *naxis < 0 || *naxis > kMaxAxes) {
            refuse("NAXIS missing or outside 0..999");
        }
        std::vector<long long> axes;
        for (long long n = 1; n <= *naxis; ++n) {
            const auto axis = h.Int("NAXIS" + std::to_string(n));
            if (!axis || *axis < 0) {
                refuse("NAXIS" + std::to_string(n) + " missing or negative");
            }
            axes.push_back(*axis);
        }
        const long long pcount = hdu == 1 ? 0 : h.Int("PCOUNT").value_or(0);
        const long long gcount = hdu == 1 ? 1 : h.Int("GCOUNT").value_or(1);
        if (pcount < 0 || gcount < 0) {
            refuse("negative PCOUNT or GCOUNT");
        }
        // Data bytes: |BITPIX| / 8 x GCOUNT x (PCOUNT + NAXIS1 x ... x NAXISn);
        // random groups leave out NAXIS1 = 0.
        const bool groups = hdu == 1 && h.True("GROUPS") && !axes.empty() && axes[0] == 0;
        std::optional<std::uint64_t> elements = axes.empty() ? 0 : 1;
        for (std::size_t n = groups ? 1 : 0; n < axes.size() && elements; ++n) {
            elements = Mul(*elements, static_cast<std::uint64_t>(axes[n]));
        }
        if (groups) {
            elements = Add(elements.value_or(0), static_cast<std::uint64_t>(h.Int("PCOUNT").value_or(0)));
            if (const auto g = h.Int("GCOUNT"); elements && g && *g >= 0) {
                elements = Mul(*elements, static_cast<std::uint64_t>(*g));
            }
        } else if (elements) {
            elements = Add(*elements, static_cast<std::uint64_t>(pcount));
            elements = elements ? Mul(*elements, static_cast<std::uint64_t>(gcount)) : std::nullopt;
        }
        const auto dataBytes =
            elements ? Mul(*elements, static_cast<std::uint64_t>(std::abs(*bitpix) / 8)) : std::nullopt;
        const auto dataEnd = dataBytes ? Add(dataStart, *dataBytes) : std::nullopt;
        if (!dataEnd) {
            refuse("the data claimed is larger than any file");
        }

        const bool isImage = hdu == 1 || xtension == "IMAGE" || xtension == "IUEIMAGE";
        const bool isCompressed = xtension == "BINTABLE" && h.True("ZIMAGE");
        std::optional<Compression> z;
        if (isCompressed) {
            if (*bitpix != 8 || axes.size() != 2 || gcount != 1) {
                refuse("a compressed image's table is not BITPIX 8, NAXIS 2, GCOUNT 1");
            }
            z = ReadCompression(h, refuse);
        }
        if (isImage || isCompressed) {
            const int n = isCompressed ? z->znaxis : static_cast<int>(axes.size());
            bool empty = false;
            for (int k = 0; k < n; ++k) {
                empty = empty || (isCompressed ? z->znaxes[static_cast<std::size_t>(k)]
                                               : axes[static_cast<std::size_t>(k)]) == 0;
            }
            if (n > 0 && empty) {
                scan.emptySeen = true;
            } else if (n > 0) {
                scan.hdu = hdu;
                scan.compressed = isCompressed;
                scan.bitpix = isCompressed ? z->zbitpix : static_cast<int>(*bitpix);
                scan.naxis = n;
                for (int k = 0; k < std::min(n, 9); ++k) {
                    scan.naxes[static_cast<std::size_t>(k)] =
                        isCompressed ? z->znaxes[static_cast<std::size_t>(k)] : axes[static_cast<std::size_t>(k)];
                }
                scan.dataStart = dataStart;
                scan.dataEnd = *dataEnd;
                scan.cards = h.cards;
                // An image needs its bytes in the file; nothing is read yet.
                if (*dataEnd > bytes.MostBytes()) {
                    ReadFailure(path, "truncated FITS file: the data ends before the image does");
                }
                if (n >= 2 && n <= 3) {
                    // The float image, a second copy while a compressed one
                    // is decoded, and the inflated file kept in memory.
                    std::uint64_t samples = 1;
                    for (int k = 0; k < n; ++k) {
                        samples = Mul(samples, static_cast<std::uint64_t>(scan.naxes[static_cast<std::size_t>(k)]))
                                      .value_or(std::uint64_t{1} << 62);
                    }
                    const std::uint64_t image = Mul(samples, isCompressed ? 8 : 4).value_or(std::uint64_t{1} << 62);
                    CheckMemory(
                        path, Add(image, bytes.InMemory() ? PadToBlock(*dataEnd) : 0).value_or(std::uint64_t{1} << 62),
                        "the image");
                }
                if (!bytes.Holds(*dataEnd)) {
                    ReadFailure(path, "truncated FITS file: the data ends before the image does");
                }
                if (isCompressed) {
                    CheckTiles(bytes, h, *z, dataStart, static_cast<std::uint64_t>(axes[0]),
                               static_cast<std::uint64_t>(axes[1]), static_cast<std::uint64_t>(pcount), scan.tiles,
                               refuse);
                }
                return scan;
            }
        }
        offset = PadToBlock(*dataEnd);
    }
}

}  // namespace orbimg::tool
