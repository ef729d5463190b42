// expect.h - the receipt's pieces as the tool's documentation lays them
// out, written independently of the tool's templates so that tests compare
// against the documented bytes, not against the tool's own code.

#ifndef GEN_XML_TESTS_EXPECT_H
#define GEN_XML_TESTS_EXPECT_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Everything from the XML declaration to the empty line after the svg
// start tag.
inline std::string expect_prologue(long long height)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "\n"
           "<svg\n"
           "   xmlns:svg=\"http://www.w3.org/2000/svg\"\n"
           "   xmlns=\"http://www.w3.org/2000/svg\"\n"
           "   xmlns:xlink=\"http://www.w3.org/1999/xlink\"\n"
           "   version=\"1.1\"\n"
           "   width=\"576\"\n"
           "   height=\"" +
           std::to_string(height) +
           "\"\n"
           "   id=\"svg1\"\n"
           "   font-family=\"Arial Unicode\">\n"
           "\n";
}

// One text element line: column 'l', 'c' or 'r'; "tag" or "text" ids.
inline std::string expect_text(char col, const char *prefix, long long number, long long y,
                               const std::string &text)
{
    const char *x = col == 'l' ? "0" : col == 'c' ? "288" : "575";
    const char *anchor = col == 'l' ? "start" : col == 'c' ? "middle" : "end";
    char head[200];
    std::snprintf(
        head, sizeof head,
        "\t<text id=\"%s%04lld\" x=\"%s\" y=\"%lld\" text-anchor=\"%s\" font-size=\"30px\">",
        prefix, number, x, y, anchor);
    return head + text + "</text>\n";
}

// The footer: an empty line, the signature on baseline y, the end tag.
inline std::string expect_footer(long long y)
{
    return "\n<text id=\"text9999\" x=\"288\" y=\"" + std::to_string(y) +
           "\" text-anchor=\"middle\" font-size=\"22px\">Printed by Morvath Pallex"
           "&#60;sup&#62;\xC2\xAE&#60;/sup&#62;</text>\n"
           "</svg>\n";
}

// The logo block around already-joined data lines.
inline std::string expect_logo(const std::string &data_lines)
{
    return "\t<image\n\t\txlink:href=\"data:image/bmp;base64," + data_lines +
           "\"\n\t\tx=\"6\" y=\"0\" width=\"560\" height=\"220\" />\n\n";
}

// The logo's data lines as documented, from an encoder written here,
// independent of the tool's codec: every 54-byte chunk, and then the
// remaining S mod 54 bytes (possibly none), each as standard padded Base64,
// joined by single line feeds.
inline std::string logo_data_lines(const std::string &logo)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto encode = [](const unsigned char *p, std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; i += 3) {
            const std::size_t k = std::min<std::size_t>(3, n - i);
            std::uint32_t v = static_cast<std::uint32_t>(p[i]) << 16;
            if (k > 1)
                v |= static_cast<std::uint32_t>(p[i + 1]) << 8;
            if (k > 2)
                v |= p[i + 2];
            s += alphabet[(v >> 18) & 63];
            s += alphabet[(v >> 12) & 63];
            s += k > 1 ? alphabet[(v >> 6) & 63] : '=';
            s += k > 2 ? alphabet[v & 63] : '=';
        }
        return s;
    };
    const auto *bytes = reinterpret_cast<const unsigned char *>(logo.data());
    std::string lines;
    std::size_t at = 0;
    for (; at + 54 <= logo.size(); at += 54)
        lines += encode(bytes + at, 54) + "\n";
    return lines + encode(bytes + at, logo.size() - at);
}

// The sizes of the reads a layout gives, by the documented rule: a read
// ends after a line feed, at 999 bytes, or at the end of the file, and
// reading stops after the read that ran into the end.
inline std::vector<std::size_t> read_sizes(const std::string &layout)
{
    std::vector<std::size_t> sizes;
    std::size_t at = 0;
    for (;;) {
        std::size_t stored = 0;
        bool hit_end = false;
        for (;;) {
            if (at == layout.size()) {
                hit_end = true;
                break;
            }
            const char c = layout[at++];
            ++stored;
            if (c == '\n' || stored == 999)
                break;
        }
        sizes.push_back(stored);
        if (hit_end)
            return sizes;
    }
}

#endif
