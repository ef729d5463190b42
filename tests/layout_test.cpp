// layout_test.cpp - reads, trimming and splitting of layout lines.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
        char *field[column_count];
        std::size_t field_len[column_count];
        split_fields(line, std::strlen(line), field, field_len);
        for (int c = 0; c < column_count; ++c) {
            EXPECT_EQ(field_len[c], field[c] == nullptr ? 0 : std::strlen(field[c]));
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
        for (char *f : field) {
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
        std::size_t text_len = 12345;
        int n = layout_read(&lf, line, &text_len);
        EXPECT_GE(n, 0);
        EXPECT_EQ(text_len, std::strlen(line));
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
    constexpr int rows = static_cast<int>(3 * sizeof(layout_file{}.chunk) / 7);
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

TEST(Read, NulBytesAreFoundInEveryReadAhead)
{
    // The first read-ahead holds no NUL byte; a later row does.
    std::string content(sizeof(layout_file{}.chunk) * 3 / 2, 'a');
    for (std::size_t i = 50; i < content.size(); i += 50)
        content[i] = '\n';
    content += std::string("\nx\0y\n", 5);
    std::FILE *f = file_holding(content);
    static layout_file lf;
    layout_attach(&lf, f);
    char line[line_buffer_size];
    std::size_t text_len = 0;
    int n = 0;
    do {
        n = layout_read(&lf, line, &text_len);
        ASSERT_GE(n, 0);
        ASSERT_EQ(text_len, std::strlen(line));
    } while (!(n == 4 && line[0] == 'x') && !lf.eof);
    EXPECT_EQ(text_len, 1u);
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

// One row as the writing pass sees it: the trimmed length, then each
// field's text, or "(none)" for an absent one.
std::vector<std::string> row_seen(int len, const char *const field[column_count],
                                  const std::size_t field_len[column_count])
{
    std::vector<std::string> row{std::to_string(len)};
    if (len > 0)
        for (int c = 0; c < column_count; ++c)
            row.push_back(field[c] == nullptr ? "(none)" : std::string(field[c], field_len[c]));
    return row;
}

TEST(Rows, NextRowAgreesWithReadingTrimmingAndSplitting)
{
    // Rows of blanks, TABs, control bytes, bytes from 128 up and letters,
    // with now and then a row of 998, 999 or more bytes; the rows run
    // across several read-aheads, and the last stretch holds NUL bytes.
    const char alphabet[] = " \t\t\t\r\x01\x08\x0b\x1f\x7f\xa0\xc3\xa9"
                            "abcxyz019._&;<";
    std::string content;
    unsigned state = 11;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 16;
    };
    while (content.size() < 700000) {
        const unsigned kind = next() % 400;
        std::size_t len = kind == 0   ? 997 + next() % 4
                          : kind == 1 ? 1500 + next() % 600
                                      : next() % 40;
        for (std::size_t i = 0; i < len; ++i)
            content += alphabet[next() % (sizeof alphabet - 1)];
        if (content.size() > 650000 && next() % 5 == 0)
            content += '\0';
        content += '\n';
    }
    for (const std::string &c : {content, content + "tail \t x", std::string("\n\t\n \t \n")}) {
        std::FILE *ours = file_holding(c);
        std::FILE *theirs = file_holding(c);
        static layout_file lf;
        static layout_file reference;
        layout_attach(&lf, ours);
        layout_attach(&reference, theirs);
        char line[line_buffer_size];
        char ref_line[line_buffer_size];
        long long row = 0;
        do {
            ++row;
            const char *field[column_count];
            std::size_t field_len[column_count];
            const int len = layout_next_row(&lf, line, field, field_len);
            ASSERT_GE(len, 0);

            std::size_t ref_len;
            ASSERT_GE(layout_read(&reference, ref_line, &ref_len), 0);
            ref_len = strip_line(ref_line, ref_len);
            char *ref_field[column_count] = {};
            std::size_t ref_field_len[column_count] = {};
            if (ref_len > 0)
                split_fields(ref_line, ref_len, ref_field, ref_field_len);

            ASSERT_EQ(row_seen(len, field, field_len),
                      row_seen(static_cast<int>(ref_len), ref_field, ref_field_len))
                << "row " << row;
            ASSERT_EQ(lf.eof, reference.eof) << "row " << row;
        } while (!reference.eof);
        std::fclose(ours);
        std::fclose(theirs);
    }
}

}   // namespace
