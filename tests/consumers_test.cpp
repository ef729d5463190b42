// consumers_test.cpp - the receipts gen_xml writes, as real software reads
// them: xmllint parses every shipped example, and rsvg-convert draws them.
// A test is skipped only when the program it needs is not installed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#if GEN_XML_HAVE_ZLIB
#include <zlib.h>
#endif

#include "run_tool.h"

namespace {

const std::string examples_dir = EXAMPLES_DIR;
const std::string example_logo = examples_dir + "/logo.bmp";

/* ------------------------------------------------------------- processes */

// A word for the shell, in single quotes.
std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool have_program(const char *name)
{
    const std::string cmd = "command -v " + quote(name) + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

struct command_result {
    int status;           // exit status, -1 when it did not exit normally
    std::string output;   // standard output and standard error together
};

command_result run_command(const std::string &cmd)
{
    command_result r{-1, ""};
    std::FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.output.append(buf, got);
    const int w = pclose(p);
    if (w != -1 && WIFEXITED(w))
        r.status = WEXITSTATUS(w);
    return r;
}

/* -------------------------------------------------------------- examples */

std::vector<std::string> example_layouts()
{
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::directory_iterator(examples_dir))
        if (entry.is_regular_file() && entry.path().extension() == ".txt")
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

// The number of reads in a layout none of whose lines reaches 999 bytes:
// one per line feed, and one more for what follows the last line feed (the
// empty read at the end, or a last line without one).
long long read_count(const std::string &layout)
{
    long long line_feeds = 0;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        if (layout[i] == '\n') {
            ++line_feeds;
            EXPECT_LT(i + 1 - line_start, 999u) << "an example line is too long";
            line_start = i + 1;
        }
    }
    EXPECT_LT(layout.size() - line_start, 999u) << "an example line is too long";
    return line_feeds + 1;
}

long long document_height(long long reads, bool with_logo)
{
    return 30 * (reads + 2) + (with_logo ? 250 : 0);
}

struct example_case {
    std::string layout;
    bool with_logo;
    std::string name() const
    {
        return std::filesystem::path(layout).filename().string() +
               (with_logo ? " with logo" : " without logo");
    }
};

std::vector<example_case> example_cases()
{
    std::vector<example_case> cases;
    for (const std::string &layout : example_layouts())
        for (bool with_logo : {false, true})
            cases.push_back({layout, with_logo});
    return cases;
}

// Write the example's receipt into `d` as "r.svg" and return its path.
std::string write_receipt(const scratch_dir &d, const example_case &c)
{
    std::vector<std::string> args = {"r.svg", c.layout};
    if (c.with_logo)
        args.push_back(example_logo);
    tool_result r = run_tool(args, d.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    return d / "r.svg";
}

/* ------------------------------------------------------------------- PNG */

std::uint32_t big_endian_32(const std::string &s, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(s.at(at + i));
    return v;
}

struct png_image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bit_depth = 0;
    int colour_type = 0;
    int interlace = 0;
    std::string idat;   // the IDAT chunks' data, joined
};

// Split a PNG file into its header fields and compressed image data.
// Returns an empty string, or what is wrong with the file.
std::string parse_png(const std::string &file, png_image &png)
{
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (file.compare(0, 8, signature, 8) != 0)
        return "no PNG signature";
    std::size_t at = 8;
    bool first = true;
    while (at + 12 <= file.size()) {
        const std::uint32_t length = big_endian_32(file, at);
        const std::string type = file.substr(at + 4, 4);
        if (at + 12 + length > file.size())
            return "chunk " + type + " runs past the end";
        const std::size_t data = at + 8;
        if (first && type != "IHDR")
            return "the first chunk is " + type + ", not IHDR";
        if (type == "IHDR") {
            if (length != 13)
                return "IHDR of " + std::to_string(length) + " bytes";
            png.width = big_endian_32(file, data);
            png.height = big_endian_32(file, data + 4);
            png.bit_depth = static_cast<unsigned char>(file[data + 8]);
            png.colour_type = static_cast<unsigned char>(file[data + 9]);
            png.interlace = static_cast<unsigned char>(file[data + 12]);
        } else if (type == "IDAT") {
            png.idat.append(file, data, length);
        } else if (type == "IEND") {
            return "";
        }
        first = false;
        at += 12 + length;
    }
    return "no IEND chunk";
}

#if GEN_XML_HAVE_ZLIB

struct rgb {
    int r, g, b;
};

// The pixels of an 8-bit RGB or RGBA image, not interlaced, composited on
// white. Returns an empty string, or what could not be decoded.
std::string decode_png(const png_image &png, std::vector<rgb> &pixels)
{
    if (png.bit_depth != 8 || (png.colour_type != 2 && png.colour_type != 6) || png.interlace != 0)
        return "unexpected format: depth " + std::to_string(png.bit_depth) + ", colour type " +
               std::to_string(png.colour_type) + ", interlace " + std::to_string(png.interlace);
    const std::size_t bpp = png.colour_type == 6 ? 4 : 3;
    const std::size_t stride = png.width * bpp;
    std::vector<unsigned char> raw(png.height * (stride + 1));
    uLongf raw_size = raw.size();
    if (uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef *>(png.idat.data()),
                   png.idat.size()) != Z_OK ||
        raw_size != raw.size())
        return "the image data does not inflate to " + std::to_string(raw.size()) + " bytes";

    std::vector<unsigned char> image(png.height * stride);
    for (std::size_t y = 0; y < png.height; ++y) {
        const int filter = raw[y * (stride + 1)];
        const unsigned char *in = &raw[y * (stride + 1) + 1];
        unsigned char *out = &image[y * stride];
        const unsigned char *up = y > 0 ? &image[(y - 1) * stride] : nullptr;
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= bpp ? out[i - bpp] : 0;
            const int b = up != nullptr ? up[i] : 0;
            const int c = i >= bpp && up != nullptr ? up[i - bpp] : 0;
            int predicted;
            switch (filter) {
            case 0:
                predicted = 0;
                break;
            case 1:
                predicted = a;
                break;
            case 2:
                predicted = b;
                break;
            case 3:
                predicted = (a + b) / 2;
                break;
            case 4: {
                const int p = a + b - c;
                const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                break;
            }
            default:
                return "row " + std::to_string(y) + " has filter type " + std::to_string(filter);
            }
            out[i] = static_cast<unsigned char>(in[i] + predicted);
        }
    }

    pixels.clear();
    for (std::size_t i = 0; i < image.size(); i += bpp) {
        const int alpha = bpp == 4 ? image[i + 3] : 255;
        auto on_white = [alpha](int v) { return (v * alpha + 255 * (255 - alpha) + 127) / 255; };
        pixels.push_back({on_white(image[i]), on_white(image[i + 1]), on_white(image[i + 2])});
    }
    return "";
}

/* ------------------------------------------------------------------- BMP */

// The pixels of an uncompressed 24-bit BMP, top row first.
struct bmp_image {
    int width = 0;
    int height = 0;
    std::vector<int> rgb;   // three values a pixel
    int at(int x, int y, int channel) const
    {
        return rgb[(static_cast<std::size_t>(y) * width + x) * 3 + channel];
    }
};

std::uint32_t little_endian_32(const std::string &s, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;)
        v = v << 8 | static_cast<unsigned char>(s.at(at + i));
    return v;
}

std::string parse_bmp(const std::string &file, bmp_image &bmp)
{
    if (file.size() < 54 || file.compare(0, 2, "BM") != 0)
        return "not a BMP file";
    const std::uint32_t offset = little_endian_32(file, 10);
    const auto width = static_cast<std::int32_t>(little_endian_32(file, 18));
    const auto height = static_cast<std::int32_t>(little_endian_32(file, 22));
    const int bits = static_cast<unsigned char>(file[28]) | static_cast<unsigned char>(file[29])
                                                                << 8;
    if (bits != 24 || little_endian_32(file, 30) != 0 || width <= 0 || height <= 0)
        return "not a bottom-up, uncompressed 24-bit BMP";
    const std::size_t row_size = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
    if (offset + row_size * static_cast<std::size_t>(height) > file.size())
        return "the pixel rows run past the end";
    bmp.width = width;
    bmp.height = height;
    bmp.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
    for (int y = 0; y < height; ++y) {
        const std::size_t row = offset + row_size * static_cast<std::size_t>(height - 1 - y);
        for (int x = 0; x < width; ++x)
            for (int ch = 0; ch < 3; ++ch)   // stored as blue, green, red
                bmp.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + ch] =
                    static_cast<unsigned char>(
                        file[row + 3 * static_cast<std::size_t>(x) + 2 - ch]);
    }
    return "";
}

#endif

/* --------------------------------------------------------------- xmllint */

TEST(ConsumerXmllint, ParsesEveryExampleReceiptAsAnSvgDocument)
{
    if (!have_program("xmllint"))
        GTEST_SKIP() << "xmllint is not installed (Debian package libxml2-utils)";
    const std::vector<example_case> cases = example_cases();
    ASSERT_FALSE(cases.empty()) << "no *.txt layout in " << examples_dir;

    // What a parser sees: the root element, its size, whether an image is
    // there with its link in the XLink namespace, and the footer's text
    // with its character references resolved.
    const std::string query =
        "concat(namespace-uri(/*), '|', local-name(/*), '|', /*/@width, '|', /*/@height, '|', "
        "count(//*[local-name()='image']), '|', "
        "namespace-uri(//*[local-name()='image']/@*[local-name()='href']), '|', "
        "//*[@id='text9999'])";
    for (const example_case &c : cases) {
        SCOPED_TRACE(c.name());
        scratch_dir d;
        const std::string receipt = write_receipt(d, c);

        command_result lint = run_command("xmllint --noout " + quote(receipt));
        EXPECT_EQ(lint.status, 0);
        EXPECT_EQ(lint.output, "");

        command_result q = run_command("xmllint --xpath " + quote(query) + " " + quote(receipt));
        EXPECT_EQ(q.status, 0) << q.output;
        if (!q.output.empty() && q.output.back() == '\n')
            q.output.pop_back();
        const long long height = document_height(read_count(read_file(c.layout)), c.with_logo);
        EXPECT_EQ(q.output, "http://www.w3.org/2000/svg|svg|576|" + std::to_string(height) + "|" +
                                (c.with_logo ? "1|http://www.w3.org/1999/xlink" : "0|") +
                                "|Printed by Morvath Pallex<sup>\xC2\xAE</sup>");
    }
}

/* ---------------------------------------------------------- rsvg-convert */

// Render `receipt` on a white background into `png_path`.
void render(const std::string &receipt, const std::string &png_path)
{
    command_result r =
        run_command("rsvg-convert -b white -o " + quote(png_path) + " " + quote(receipt));
    ASSERT_EQ(r.status, 0) << r.output;
}

TEST(ConsumerRsvgConvert, DrawsEveryExample576PixelsWideAndAsTallAsTheReceipt)
{
    if (!have_program("rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert is not installed (Debian package librsvg2-bin)";
    const std::vector<example_case> cases = example_cases();
    ASSERT_FALSE(cases.empty()) << "no *.txt layout in " << examples_dir;
    for (const example_case &c : cases) {
        SCOPED_TRACE(c.name());
        scratch_dir d;
        const std::string receipt = write_receipt(d, c);
        const long long height = document_height(read_count(read_file(c.layout)), c.with_logo);
        const std::string attribute = "\n   height=\"" + std::to_string(height) + "\"\n";
        EXPECT_TRUE(read_file(receipt).find(attribute) != std::string::npos)
            << "the receipt's height attribute is not " << height;

        render(receipt, d / "r.png");
        png_image png;
        ASSERT_EQ(parse_png(read_file(d / "r.png"), png), "");
        EXPECT_EQ(png.width, 576u);
        EXPECT_EQ(png.height, static_cast<std::uint32_t>(height));
    }
}

TEST(ConsumerRsvgConvert, DrawsTheExampleLogoInItsBoxAsTheBitmapShowsIt)
{
    if (!have_program("rsvg-convert"))
        GTEST_SKIP() << "rsvg-convert is not installed (Debian package librsvg2-bin)";
#if !GEN_XML_HAVE_ZLIB
    GTEST_SKIP() << "built without zlib (Debian package zlib1g-dev): the drawing cannot be decoded";
#else
    bmp_image logo;
    ASSERT_EQ(parse_bmp(read_file(example_logo), logo), "");

    scratch_dir d;
    const std::string receipt = write_receipt(d, {examples_dir + "/shop.txt", true});
    render(receipt, d / "r.png");
    png_image png;
    ASSERT_EQ(parse_png(read_file(d / "r.png"), png), "");
    std::vector<rgb> pixels;
    ASSERT_EQ(decode_png(png, pixels), "");
    ASSERT_EQ(png.width, 576u);
    ASSERT_GE(png.height, 220u);
    auto pixel = [&](int x, int y) { return pixels[static_cast<std::size_t>(y) * png.width + x]; };

    // The logo box is x 6 to 566, y 0 to 220; the rows start below it, so
    // anything drawn there that is not white comes from the logo.
    bool drawn = false;
    for (int y = 0; y < 220 && !drawn; ++y)
        for (int x = 6; x < 566 && !drawn; ++x) {
            const rgb p = pixel(x, y);
            drawn = p.r != 255 || p.g != 255 || p.b != 255;
        }
    EXPECT_TRUE(drawn) << "nothing is drawn in the logo box";

    // The bitmap is scaled to fit the box, keeping its proportions, and
    // centred in it. Where a bitmap pixel and its eight neighbours share one
    // colour, the drawing has that colour at the pixel's centre, whatever
    // the smoothing.
    const double scale = std::min(560.0 / logo.width, 220.0 / logo.height);
    const double left = 6 + (560 - logo.width * scale) / 2;
    const double top = (220 - logo.height * scale) / 2;
    int compared = 0;
    int wrong = 0;
    std::string first_wrong;
    for (int y = 1; y + 1 < logo.height; ++y) {
        for (int x = 1; x + 1 < logo.width; ++x) {
            bool uniform = true;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    for (int ch = 0; ch < 3; ++ch)
                        uniform = uniform && logo.at(x + dx, y + dy, ch) == logo.at(x, y, ch);
            if (!uniform)
                continue;
            const rgb p = pixel(static_cast<int>(left + (x + 0.5) * scale),
                                static_cast<int>(top + (y + 0.5) * scale));
            const int got[3] = {p.r, p.g, p.b};
            ++compared;
            for (int ch = 0; ch < 3; ++ch) {
                if (std::abs(got[ch] - logo.at(x, y, ch)) > 4) {
                    if (wrong++ == 0)
                        first_wrong =
                            "bitmap pixel " + std::to_string(x) + "," + std::to_string(y) + " is " +
                            std::to_string(logo.at(x, y, 0)) + "/" +
                            std::to_string(logo.at(x, y, 1)) + "/" +
                            std::to_string(logo.at(x, y, 2)) + ", drawn " + std::to_string(p.r) +
                            "/" + std::to_string(p.g) + "/" + std::to_string(p.b);
                    break;
                }
            }
        }
    }
    EXPECT_GT(compared, logo.width * logo.height / 2);
    EXPECT_EQ(wrong, 0) << first_wrong;
#endif
}

}   // namespace
