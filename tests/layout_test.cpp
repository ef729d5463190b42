// layout_test.cpp - reads, trimming and splitting of layout lines.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "expect.h"
#include "layout.h"

namespace {

struct strip_case {
    std::string in;
    std::string keep_tab;   // after str_strip_t
    std::string all;        // after str_strip
};

TEST(Strip, TrimsBlankBytesInPlace)
{
    const std::vector<strip_case> cases = {
        {"", "", ""},
        {"abc", "abc", "abc"},
        {"  abc  ", "abc", "abc"},
        {"abc\n", "abc", "abc"},
        {"abc\r\n", "abc", "abc"},
        {"abc \t\t", "abc", "abc"},
        {"\tabc", "\tabc", "abc"},
        {"  \t\tabc", "\t\tabc", "abc"},
        {" \x01\x1f\tx", "\tx", "x"},
        {"a \t b", "a \t b", "a \t b"},
        {" \t \n", "", ""},
        {"\x7f"
         "a\x7f",
         "\x7f"
         "a\x7f",
         "\x7f"
         "a\x7f"},                                                      // DEL is not blank
        {"\xA0\xC3\xA9\xA0", "\xA0\xC3\xA9\xA0", "\xA0\xC3\xA9\xA0"},   // nor are bytes >= 128
        {"  Caf\xC3\xA9 ", "Caf\xC3\xA9", "Caf\xC3\xA9"},
    };
    for (const strip_case &c : cases) {
        SCOPED_TRACE(c.in);
        char a[64];
        char b[64];
        std::snprintf(a, sizeof a, "%s", c.in.c_str());
        std::snprintf(b, sizeof b, "%s", c.in.c_str());
        str_strip_t(a);
        str_strip(b);
        EXPECT_EQ(std::string(a), c.keep_tab);
        EXPECT_EQ(std::string(b), c.all);
    }
}

TEST(Strip, NullIsLeftAlone)
{
    str_strip_t(nullptr);
    str_strip(nullptr);
}

TEST(Strip, WorksInsideItsOwnStorage)
{
    char s[] = "  ab  ";
    str_strip(s);
    EXPECT_STREQ(s, "ab");
    EXPECT_EQ(s[2], '\0');
}

struct split_case {
    std::string line;   // as str_strip_t leaves it
    const char *left;
    const char *centre;   // nullptr: absent
    const char *right;
};

TEST(Split, FieldsArePiecesOfTheLine)
{
    const std::vector<split_case> cases = {
        {"hello", "hello", nullptr, nullptr},
        {"\thello", "", "hello", nullptr},
        {"\t\thello", "", "", "hello"},
        {"a\t\tb", "a", "", "b"},
        {"a\tb", "a", "b", nullptr},
        {"a\tb\tc", "a", "b", "c"},
        {"a\tb\tc\td", "a", "b", "c\td"},
        {" a \t b \t c ", "a", "b", "c"},
        {"a\t \t b", "a", "", "b"},
        {"a\t", "a", "", nullptr},
        // TABs found eight bytes at a time: both in one word, in later
        // words, in the tail, and a backspace (TAB + 1 would look like a
        // TAB to a careless word scan) right after a TAB.
        {"ab\tc\tdefgh", "ab", "c", "defgh"},
        {"0123456789abcdef\tX\tY", "0123456789abcdef", "X", "Y"},
        {"0123456\t89abcde\tg", "0123456", "89abcde", "g"},
        {"012345678901234567\tz", "012345678901234567", "z", nullptr},
        {"a\t\x08z\tb", "a", "z", "b"},
        {"a\t\x08\x08\x08\x08\x08\x08\x08\x08z\tb", "a", "z", "b"},
    };
    for (const split_case &c : cases) {
        SCOPED_TRACE(c.line);
        char line[64];
        std::snprintf(line, sizeof line, "%s", c.line.c_str());
        layout_row row;
        split_fields(line, std::strlen(line), &row);
        char *const *field = row.field;
        for (int c = 0; c < column_count; ++c) {
            EXPECT_EQ(row.len[c], field[c] == nullptr ? 0 : std::strlen(field[c]));
        }
        ASSERT_NE(field[0], nullptr);
        EXPECT_STREQ(field[0], c.left);
        if (c.centre == nullptr) {
            EXPECT_EQ(field[1], nullptr);
        } else {
            EXPECT_STREQ(field[1], c.centre);
        }
        if (c.right == nullptr) {
            EXPECT_EQ(field[2], nullptr);
        } else {
            EXPECT_STREQ(field[2], c.right);
        }
        for (char *f : row.field) {
            if (f != nullptr) {
                EXPECT_TRUE(f >= line && f < line + sizeof line);
            }
        }
    }
}

// A temporary file holding `content`, positioned at its start.
std::FILE *file_holding(const std::string &content)
{
    std::FILE *f = std::tmpfile();
    std::fwrite(content.data(), 1, content.size(), f);
    std::rewind(f);
    return f;
}

// Every read of `content`, in order, and whether each set eof.
std::vector<std::pair<std::string, bool>> all_reads(const std::string &content)
{
    std::FILE *f = file_holding(content);
    static layout_file lf;
    layout_attach(&lf, f);
    std::vector<std::pair<std::string, bool>> reads;
    char line[line_buffer_size];
    do {
        int n = layout_read(&lf, line);
        EXPECT_GE(n, 0);
        reads.emplace_back(std::string(line, static_cast<std::size_t>(n)), lf.eof);
    } while (!lf.eof && reads.size() < 100);
    std::fclose(f);
    return reads;
}

TEST(Read, ReadsStopAtLineFeedsAt999BytesAndAtEndOfFile)
{
    using R = std::vector<std::pair<std::string, bool>>;
    const std::string a999(999, 'a');
    EXPECT_EQ(all_reads(""), (R{{"", true}}));
    EXPECT_EQ(all_reads("x"), (R{{"x", true}}));
    EXPECT_EQ(all_reads("x\n"), (R{{"x\n", false}, {"", true}}));
    EXPECT_EQ(all_reads("x\ny"), (R{{"x\n", false}, {"y", true}}));
    EXPECT_EQ(all_reads("\n\n"), (R{{"\n", false}, {"\n", false}, {"", true}}));
    EXPECT_EQ(all_reads(a999), (R{{a999, false}, {"", true}}));
    EXPECT_EQ(all_reads(std::string(998, 'a') + "\n"),
              (R{{std::string(998, 'a') + "\n", false}, {"", true}}));
    EXPECT_EQ(all_reads(a999 + "\n"), (R{{a999, false}, {"\n", false}, {"", true}}));
    EXPECT_EQ(all_reads(std::string(2000, 'a') + "\n"),
              (R{{a999, false}, {a999, false}, {"aa\n", false}, {"", true}}));
    // NUL bytes are stored like any other; the string ends at the first.
    EXPECT_EQ(all_reads(std::string("a\0b\nc\0", 6)),
              (R{{std::string("a\0b\n", 4), false}, {std::string("c\0", 2), true}}));
}

TEST(Read, LinesAcrossTheReadAheadBoundaryArriveWhole)
{
    // Rows of 7 bytes never line up with the read-ahead; they fill it
    // more than twice.
    constexpr int rows = static_cast<int>(3 * static_cast<std::size_t>(read_ahead_size) / 7);
    std::string content;
    for (int i = 0; i < rows; ++i)
        content += "row" + std::to_string(i % 10) + "ab\n";
    std::FILE *f = file_holding(content);
    static layout_file lf;
    layout_attach(&lf, f);
    char line[line_buffer_size];
    int count = 0;
    std::string joined;
    do {
        ASSERT_GE(layout_read(&lf, line), 0);
        joined += line;
        ++count;
    } while (!lf.eof);
    EXPECT_EQ(count, rows + 1);
    EXPECT_EQ(joined, content);
    ASSERT_EQ(layout_rewind(&lf), 0);
    EXPECT_FALSE(lf.eof);
    ASSERT_GE(layout_read(&lf, line), 0);
    EXPECT_STREQ(line, "row0ab\n");
    std::fclose(f);
}

std::vector<long long> warned;
void note_warning(long long read_number)
{
    warned.push_back(read_number);
}

// Read `c` one read at a time, then count it in one go: the count and the
// reads of 999 bytes that draw the warning must agree. Returns the numbers
// of those long reads.
std::vector<long long> expect_count_matches_reads(const std::string &c)
{
    SCOPED_TRACE("layout of " + std::to_string(c.size()) + " bytes");
    std::FILE *f = file_holding(c);
    static layout_file lf;
    layout_attach(&lf, f);
    char line[line_buffer_size];
    long long reads = 0;
    std::vector<long long> long_reads;
    do {
        int stored = layout_read(&lf, line);
        EXPECT_GE(stored, 0);
        if (stored < 0)
            break;
        ++reads;
        if (stored == line_max)
            long_reads.push_back(reads);
    } while (!lf.eof);
    EXPECT_EQ(layout_rewind(&lf), 0);
    warned.clear();
    EXPECT_EQ(layout_count(&lf, note_warning), reads);
    EXPECT_EQ(warned, long_reads);
    std::fclose(f);
    return long_reads;
}

TEST(Read, CountingMatchesReadingOneByOne)
{
    // The counting pass only looks for line feeds; it must see the same
    // reads, and the same reads of 999 bytes, as the writing pass.
    std::string content;
    unsigned state = 7;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        unsigned r = state >> 16;
        content += r % 7 == 0 ? '\n' : r % 5000 == 1 ? '\0' : static_cast<char>('a' + r % 26);
        if (r % 997 == 0)
            content += std::string(1000 + r % 2000, 'z');
        if (r % 1999 == 0)
            content += std::string(998, 'y') + "\n";
    }
    const std::vector<std::string> contents = {
        "",
        "\n",
        "x",
        content,
        content + "\n",
        std::string(999 * 3, 'q'),
        std::string(999, 'q') + "\n",
        std::string(998, 'q') + "\n" + std::string(998, 'r'),
        std::string(70000, 'w'),
        "\xEF\xBB\xBF" + std::string(998, 'q') + "\n" + std::string(999, 'r'),
    };
    for (const std::string &c : contents)
        expect_count_matches_reads(c);
}

TEST(Read, CountingMatchesReadingAroundLongReads)
{
    // Rows from 700 to 1100 bytes, each one longer than the last, then
    // the same after short rows that shift them by every few bytes: the
    // line feeds and the 999-byte reads fall at every place a block of the
    // read-ahead can put them.
    std::string content;
    for (int len = 700; len <= 1100; ++len)
        content += std::string(static_cast<std::size_t>(len - 1), 'a') + "\n";
    for (int shift = 0; shift < 300; shift += 7) {
        content += std::string(static_cast<std::size_t>(shift), 'b') + "\n";
        content += std::string(998, 'c') + "\n" + std::string(997, 'd') + "\n";
        content += std::string(999 + static_cast<std::size_t>(shift), 'e') + "\n";
    }
    for (const std::string &c : {content, content.substr(1), content.substr(5) + "x"})
        EXPECT_FALSE(expect_count_matches_reads(c).empty());
}

// The rows of a layout as the documented rules give them, worked out here
// with std::string: reads end after a line feed, at 999 bytes or at the end
// of the file (a last, empty read after a final line feed); a read's text
// ends at its first NUL byte; the line loses its trailing blanks and its
// leading blanks before the first TAB; the first TAB and the first TAB after
// it divide the fields, and each field loses all its outer blanks. A UTF-8
// byte order mark that starts the file is not part of the first read. Each row
// is its trimmed length, a NUL flag, then its fields ("(none)" if absent).
std::vector<std::vector<std::string>> documented_rows(const std::string &c)
{
    auto blank = [](char ch) { return ch >= 1 && ch <= 32; };
    auto trim = [&](std::string s, bool keep_tab) {
        while (!s.empty() && blank(s.back()))
            s.pop_back();
        std::size_t lead = 0;
        while (lead < s.size() && blank(s[lead]) && !(keep_tab && s[lead] == '\t'))
            ++lead;
        return s.substr(lead);
    };
    std::vector<std::vector<std::string>> rows;
    // A byte order mark at the start of the file is not read.
    std::size_t at = c.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (const std::size_t size : read_sizes(c.substr(at))) {
        const std::string read = c.substr(at, size);
        at += size;
        const bool nul = read.find('\0') != std::string::npos;
        const std::string line = trim(read.substr(0, read.find('\0')), true);
        std::vector<std::string> row{std::to_string(line.size()), nul ? "NUL" : "-"};
        if (!line.empty()) {
            const std::size_t t1 = line.find('\t');
            const std::size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
            row.push_back(trim(line.substr(0, t1), false));
            row.push_back(t1 == std::string::npos ? "(none)"
                                                  : trim(line.substr(t1 + 1, t2 - t1 - 1), false));
            row.push_back(t2 == std::string::npos ? "(none)" : trim(line.substr(t2 + 1), false));
        }
        rows.push_back(row);
    }
    return rows;
}

// The same rows as layout_next_row() gives them.
std::vector<std::vector<std::string>> next_rows(const std::string &c)
{
    std::FILE *f = file_holding(c);
    static layout_file lf;
    layout_attach(&lf, f);
    static char line[line_buffer_size];
    std::vector<std::vector<std::string>> rows;
    do {
        layout_row row;
        const int len = layout_next_row(&lf, line, &row);
        EXPECT_GE(len, 0);
        if (len < 0)
            break;
        std::vector<std::string> seen{std::to_string(len), row.has_nul ? "NUL" : "-"};
        if (len > 0)
            for (int col = 0; col < column_count; ++col)
                seen.push_back(row.field[col] == nullptr
                                   ? "(none)"
                                   : std::string(row.field[col], row.len[col]));
        rows.push_back(seen);
    } while (!lf.eof);
    std::fclose(f);
    return rows;
}

TEST(Rows, NextRowGivesTheDocumentedRowsAcrossEveryReadAheadEnd)
{
    // Rows of blanks, TABs, control and NUL bytes, bytes from 128 up and
    // letters, now and then one of 997 to 1001 bytes or longer, running
    // across several read-aheads: rows are used where they lie and copied
    // where they cross an end, and both must give the documented rows.
    const char alphabet[] = " \t\t\t\r\x01\x08\x0b\x1f\x7f\xa0\xc3\xa9"
                            "abcxyz019._&;<";
    std::string content;
    unsigned state = 11;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 16;
    };
    const std::size_t size = 3 * static_cast<std::size_t>(read_ahead_size) + 5000;
    while (content.size() < size) {
        const unsigned kind = next() % 200;
        const std::size_t len = kind == 0   ? 997 + next() % 5
                                : kind == 1 ? 1500 + next() % 600
                                            : next() % 40;
        for (std::size_t i = 0; i < len; ++i)
            content += alphabet[next() % (sizeof alphabet - 1)];
        if (next() % 50 == 0)
            content.insert(content.size() - len / 2, 1, '\0');
        content += '\n';
    }
    // And rows that end exactly at a read-ahead's end, or one byte either
    // side of it, with a 999-byte read among them.
    std::string aligned;
    const std::size_t ra = static_cast<std::size_t>(read_ahead_size);
    for (std::size_t shift : {ra - 1, ra, ra + 1, ra + 999, std::size_t{998}, std::size_t{999}})
        aligned += std::string(shift % 1200, 'q') + "\t r \n" + std::string(ra - 5, 'x') + "\n";
    for (const std::string &c : {content, content + "tail \t x", std::string("\n\t\n \t \n"),
                                 std::string(""), aligned, aligned + std::string(999, 'z')}) {
        SCOPED_TRACE("layout of " + std::to_string(c.size()) + " bytes");
        const auto want = documented_rows(c);
        const auto got = next_rows(c);
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i)
            ASSERT_EQ(got[i], want[i]) << "row " << i + 1;
    }
}

}   // namespace
