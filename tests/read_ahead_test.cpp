// read_ahead_test.cpp - the built gen_xml on layouts larger than the
// read-ahead through which it reads them, with rows, NUL bytes and reads of
// 999 bytes placed right at the read-ahead's ends, where one fill of it ends
// and the next begins.
//
// Each case builds its layout read by read and writes down beside every
// read what the documented rules make of it: its row's elements (or a blank
// row) and whether it draws "Warn line %d too long!" in the counting pass,
// the writing pass or both. Filler rows of 1 to 32 bytes bring each edge to
// its offset, so that every stretch of the layout, the stale bytes of an
// earlier fill included, is full of line feeds. The whole receipt and the
// whole of standard error are compared byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "compare.h"
#include "expect.h"
#include "read_ahead.h"
#include "run_tool.h"

namespace {

/* ------------------------------------------------------- building a layout */

// One text element of a row: its column ('l', 'c' or 'r'), "text" or "tag",
// and its trimmed text.
struct element {
    char column;
    const char *prefix;
    std::string text;
};

// A layout and, read by read, the receipt rows and warnings it must give.
struct layout_plan {
    std::string layout;
    std::vector<std::size_t> read_sizes;   // as each read was laid down
    std::string rows;                      // the receipt between prologue and footer
    std::string counting_warnings;
    std::string writing_warnings;
    long long next_element = 1;
    long long fillers = 0;
};

std::string warning(long long read_number)
{
    return "Warn line " + std::to_string(read_number) + " too long!\n";
}

// Lay down `bytes` as one read whose row holds `elements` (none: a blank
// row); `warn_counting` and `warn_writing` say whether it is a 999-byte
// read, and whether it still holds 999 bytes after trimming; `not_xml`
// whether the writing pass warns that the read is no XML text (it holds a
// NUL byte), right after its long-line warning.
void add_read(layout_plan &p, const std::string &bytes, const std::vector<element> &elements,
              bool warn_counting = false, bool warn_writing = false, bool not_xml = false)
{
    p.layout += bytes;
    p.read_sizes.push_back(bytes.size());
    const long long number = static_cast<long long>(p.read_sizes.size());
    const long long y = 30 * number;
    if (elements.empty())
        p.rows += "\n";
    for (const element &e : elements)
        p.rows += expect_text(e.column, e.prefix, p.next_element++, y, e.text);
    if (warn_counting)
        p.counting_warnings += warning(number);
    if (warn_writing)
        p.writing_warnings += warning(number);
    if (not_xml)
        p.writing_warnings += "Warn line " + std::to_string(number) + " not valid XML!\n";
}

// A row of plain text (no blanks at its ends, no TAB) and its line feed.
void add_line(layout_plan &p, const std::string &text)
{
    add_read(p, text + "\n", {{'l', "text", text}});
}

// The empty read that runs into the end of a layout ending in a line feed
// (or in a read of exactly 999 bytes): a blank row.
void add_final_empty_read(layout_plan &p)
{
    add_read(p, "", {});
}

// Filler rows up to `offset`, each 1 to 32 bytes long with its line feed (a
// line feed alone is a blank row); their texts are numbered, so that a row
// taken from the wrong place shows.
void pad_to(layout_plan &p, std::size_t offset)
{
    ASSERT_LE(p.layout.size(), offset) << "the edges of a case overlap";
    while (p.layout.size() < offset) {
        const std::size_t left = offset - p.layout.size();
        const std::size_t n = std::min<std::size_t>(left, 1 + p.fillers % 32);
        std::string text = "f";
        text += std::to_string(p.fillers++);
        text.resize(n - 1, '.');
        if (text.empty())
            add_read(p, "\n", {});
        else
            add_line(p, text);
    }
}

// n bytes of letters, none blank, that differ from place to place.
std::string letters(std::size_t n, int seed)
{
    std::string s(n, 'a');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(seed)) % 26);
    return s;
}

// The first multiple of the read-ahead that leaves room for `before` bytes
// ahead of it after what is laid down already.
std::size_t next_end(const layout_plan &p, std::size_t before)
{
    std::size_t end = read_ahead;
    while (end < p.layout.size() + before)
        end += read_ahead;
    return end;
}

// A row of `size` bytes (its line feed included) that starts `before`
// bytes ahead of the next read-ahead end, with a NUL byte `nul` bytes after
// that end (a negative `nul`: ahead of it). The read is taken as a C string,
// so only the letters before the NUL are written, and the TAB after it
// splits nothing.
void add_nul_row(layout_plan &p, std::size_t before, std::ptrdiff_t nul, std::size_t size)
{
    const std::size_t end = next_end(p, before);
    pad_to(p, end - before);
    const auto shown = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(before) + nul);
    std::string row = letters(shown, static_cast<int>(shown));
    row += '\0';
    row += "hidden\tX";
    row.resize(size - 1, 'h');
    row += '\n';
    if (shown == 0)
        add_read(p, row, {}, false, false, true);
    else
        add_read(p, row, {{'l', "text", row.substr(0, shown)}}, false, false, true);
}

/* ------------------------------------------------------------------- cases */

struct edge_case {
    std::string name;
    std::function<void(layout_plan &)> build;
};

// What a failing case prints as its parameter.
void PrintTo(const edge_case &c, std::ostream *os)
{
    *os << c.name;
}

std::vector<edge_case> edge_cases()
{
    std::vector<edge_case> cases;

    cases.push_back(
        {"rows end exactly at three read-ahead ends; a final line feed", [](layout_plan &p) {
             for (std::size_t k = 1; k <= 3; ++k) {
                 const std::string text = "end" + std::to_string(k);
                 pad_to(p, k * read_ahead - text.size() - 1);
                 add_line(p, text);   // its line feed is the fill's last byte
             }
             add_final_empty_read(p);
         }});

    cases.push_back({"rows end exactly at read-ahead ends; the last one without a line feed",
                     [](layout_plan &p) {
                         for (std::size_t k = 1; k <= 2; ++k) {
                             const std::string text = "end" + std::to_string(k);
                             pad_to(p, k * read_ahead - text.size() - 1);
                             add_line(p, text);
                         }
                         pad_to(p, 3 * read_ahead - 4);
                         add_read(p, "last", {{'l', "text", "last"}});   // no further read
                     }});

    cases.push_back({"a row's line feed is the first byte of the next fill", [](layout_plan &p) {
                         for (std::size_t k = 1; k <= 2; ++k) {
                             const std::string text = "cut" + std::to_string(k);
                             pad_to(p, k * read_ahead - text.size());
                             add_line(p, text);
                         }
                         add_line(p, "after");
                         add_final_empty_read(p);
                     }});

    // A short last fill: past its end the read-ahead still holds bytes of
    // the fill before it, line feeds among them, which must not be taken
    // into the last row. The last row is alone in its fill (read as the fill
    // comes in), or follows rows of the same fill.
    for (const std::size_t n : {1, 16, 20, 31, 32}) {
        for (const bool feed : {false, true}) {
            for (const std::size_t rows_before : {0, 40}) {
                std::string text = letters(n, static_cast<int>(n));
                text[0] = 'T';
                cases.push_back(
                    {"a last row of " + std::to_string(n) + (n == 1 ? " byte" : " bytes") +
                         (feed ? " and its line feed" : "") + " after two whole fills" +
                         (rows_before > 0 ? " and " + std::to_string(rows_before) + " bytes of rows"
                                          : ""),
                     [text, feed, rows_before](layout_plan &p) {
                         pad_to(p, 2 * read_ahead + rows_before);
                         if (feed) {
                             add_line(p, text);
                             add_final_empty_read(p);
                         } else {
                             add_read(p, text, {{'l', "text", text}});
                         }
                     }});
            }
        }
    }

    // A read that crosses from one fill into the next, with a NUL byte on
    // either side of the end (the text before it counts the bytes of both
    // fills), or right at it.
    cases.push_back({"a NUL byte before, at and after four read-ahead ends", [](layout_plan &p) {
                         add_nul_row(p, 6, -3, 12);
                         add_nul_row(p, 6, 2, 12);
                         add_nul_row(p, 6, -1, 12);
                         add_nul_row(p, 6, 0, 12);
                         add_nul_row(p, 0, 0, 10);   // the NUL is the read's first byte
                         add_line(p, "end");
                         add_final_empty_read(p);
                     }});

    // Reads of 999 bytes: warned in the counting pass, and in the writing
    // pass too unless trimming shortened them. Each is placed at two
    // read-ahead ends, the rest of its line in the next read.
    struct long_read {
        const char *what;
        std::string bytes;   // the read
        std::string text;    // its element
        bool warn_writing;
    };
    const std::string x999 = letters(999, 1);
    const std::string x998 = letters(998, 2);
    const std::string x997 = letters(997, 3);
    const long_read long_reads[] = {
        {"999 letters", x999, x999, true},
        {"998 letters and the line feed", x998 + "\n", x998, false},
        {"999 bytes that trimming shortens", " " + x997 + " ", x997, false},
    };
    for (const long_read &lr : long_reads) {
        for (const bool at_start : {false, true}) {
            cases.push_back(
                {std::string("a read of ") + lr.what +
                     (at_start ? " starting right after" : " ending exactly at") +
                     " each of two read-ahead ends",
                 [lr, at_start](layout_plan &p) {
                     for (int k = 0; k < 2; ++k) {
                         const std::size_t size = lr.bytes.size();
                         const std::size_t end = next_end(p, at_start ? 0 : size);
                         pad_to(p, at_start ? end : end - size);
                         add_read(p, lr.bytes, {{'l', "text", lr.text}}, true, lr.warn_writing);
                         if (lr.bytes.back() != '\n')
                             add_line(p, "rest" + std::to_string(k));   // the rest of the line
                     }
                     add_final_empty_read(p);
                 }});
        }
    }

    cases.push_back(
        {"999 letters and no line feed end the layout at a read-ahead end", [x999](layout_plan &p) {
             pad_to(p, next_end(p, 0));
             pad_to(p, next_end(p, 999) - 999);
             add_read(p, x999, {{'l', "text", x999}}, true, true);
             add_final_empty_read(p);   // the 999-byte read did not meet the end
         }});

    // 999-byte reads ending at every offset of any block of up to 300 bytes
    // that the tool may scan the read-ahead by: each line is 1001 bytes, a
    // number prime to 2, 3 and 5, and starts with a 999-byte read, 999
    // letters and 998 letters with the line feed in turn.
    cases.push_back({"999-byte reads ending at every offset of a block", [](layout_plan &p) {
                         for (int i = 0; i < 300; ++i) {
                             if (i % 2 == 0) {
                                 const std::string x = letters(999, i);
                                 add_read(p, x, {{'l', "text", x}}, true, true);
                                 add_read(p, "y\n", {{'l', "text", "y"}});
                             } else {
                                 const std::string x = letters(998, i);
                                 add_read(p, x + "\n", {{'l', "text", x}}, true, false);
                                 add_read(p, "y\n", {{'l', "text", "y"}});
                             }
                         }
                         pad_to(p, next_end(p, 0));   // on past a read-ahead end
                         add_line(p, "end");
                         add_final_empty_read(p);
                     }});

    // A row of three columns, trimmed and split, that a read-ahead end cuts
    // inside its left field, right after its first TAB, right before its
    // second TAB, and inside the blanks that end it.
    cases.push_back(
        {"rows of three columns cut at four places by read-ahead ends", [](layout_plan &p) {
             const std::string row = "  left one \t receipt_id \tright\ttail  \r\n";
             const std::vector<element> elements = {{'l', "text", "left one"},
                                                    {'c', "tag", "receipt_id"},
                                                    {'r', "text", "right\ttail"}};
             const std::size_t first_tab = row.find('\t');
             const std::size_t second_tab = row.find('\t', first_tab + 1);
             const std::size_t cuts[] = {4, first_tab + 1, second_tab, row.size() - 3};
             for (const std::size_t cut : cuts) {
                 pad_to(p, next_end(p, cut) - cut);
                 add_read(p, row, elements);
             }
             add_final_empty_read(p);
         }});

    return cases;
}

/* ------------------------------------------------------------------ driver */

// One driver for the table: the case's layout, run through the tool, must
// give exactly the receipt and the warnings laid down beside its reads.
class ReadAhead : public ::testing::TestWithParam<edge_case> {};

TEST_P(ReadAhead, ReceiptAndWarningsAsLaidDown)
{
    const edge_case &c = GetParam();
    SCOPED_TRACE(c.name + " (read-ahead of " + std::to_string(read_ahead) + " bytes)");
    layout_plan p;
    c.build(p);
    if (HasFatalFailure())
        return;
    // The case is laid down as the documented reads it means to make.
    ASSERT_EQ(read_sizes(p.layout), p.read_sizes) << "the case is built wrong";
    ASSERT_GT(p.layout.size(), read_ahead) << "the case does not cross a read-ahead end";

    const long long reads = static_cast<long long>(p.read_sizes.size());
    const long long height = 30 * (reads + 2);
    const std::string expected = expect_prologue(height) + p.rows + expect_footer(height);

    scratch_dir d;
    write_file(d / "l.txt", p.layout);
    const tool_result r = run_tool({"r.svg", "l.txt"}, d.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, p.counting_warnings + p.writing_warnings);
    EXPECT_TRUE(same_bytes(read_file(d / "r.svg"), expected));
}

// The case's name as a test name: its words run together, capitalised.
std::string test_name(const ::testing::TestParamInfo<edge_case> &info)
{
    std::string name;
    bool word_start = true;
    for (const char ch : info.param.name) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) == 0) {
            word_start = true;
            continue;
        }
        name += static_cast<char>(word_start ? std::toupper(c) : c);
        word_start = false;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Edges, ReadAhead, ::testing::ValuesIn(edge_cases()), test_name);

}   // namespace
