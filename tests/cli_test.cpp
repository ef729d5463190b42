// cli_test.cpp - the built gen_xml, end to end: arguments, layout rows and
// their messages, golden receipts and the logo's data lines. The refusals
// and write failures are fault_test's; the read-ahead edges are
// read_ahead_test's; read errors and a failing close are io_error_test's.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "base64.h"
#include "expect.h"
#include "run_tool.h"

namespace {

const std::string usage_tail = " output_receipt text_source [path_to_image]\n";

// Run on a layout in a fresh directory and return the result and receipt.
struct layout_run {
    tool_result r;
    std::string receipt;
};

layout_run run_layout(const std::string &layout)
{
    scratch_dir d;
    write_file(d / "l.txt", layout);
    layout_run lr{run_tool({"r.svg", "l.txt"}, d.path), ""};
    if (file_exists(d / "r.svg"))
        lr.receipt = read_file(d / "r.svg");
    return lr;
}

/* -------------------------------------------------------------- arguments */

TEST(Arguments, FewerThanTwoPrintUsageOnStandardOutput)
{
    const std::vector<std::vector<std::string>> cases = {{}, {"r.svg"}};
    for (const auto &args : cases) {
        for (const std::string argv0 : {"gen_xml", "./bin/my-gen"}) {
            scratch_dir d;
            tool_options opt;
            opt.argv0 = argv0;
            tool_result r = run_tool(args, d.path, opt);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "usage: " + argv0 + usage_tail);
            EXPECT_EQ(r.err, "");
            EXPECT_FALSE(file_exists(d / "r.svg"));
        }
    }
}

TEST(Arguments, FourOrMoreGiveATextReceiptAndNeverOpenTheExtraPaths)
{
    const std::string expected =
        expect_prologue(120) + expect_text('l', "text", 1, 30, "hello") + "\n" + expect_footer(120);
    const std::vector<std::vector<std::string>> cases = {
        {"r.svg", "l.txt", "missing.bmp", "missing2"},
        {"r.svg", "l.txt", "dir", "missing2", "missing3"},
    };
    for (const auto &args : cases) {
        scratch_dir d;
        write_file(d / "l.txt", "hello\n");
        mkdir((d / "dir").c_str(), 0755);
        tool_result r = run_tool(args, d.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Warn too many arguments, no logo!\n");
        EXPECT_EQ(read_file(d / "r.svg"), expected);
    }
}

/* ------------------------------------------------------------ layout rows */

struct row_case {
    const char *name;
    std::string layout;
    long long line_count;
    std::string rows;       // everything between the prologue and the footer
    std::string err = "";   // the warnings
};

TEST(Layout, RowsColumnsAndIds)
{
    auto L = [](long long n, long long y, const std::string &t, const char *p = "text") {
        return expect_text('l', p, n, y, t);
    };
    auto C = [](long long n, long long y, const std::string &t, const char *p = "text") {
        return expect_text('c', p, n, y, t);
    };
    auto R = [](long long n, long long y, const std::string &t, const char *p = "text") {
        return expect_text('r', p, n, y, t);
    };
    const std::vector<row_case> cases = {
        {"empty file: one blank row", "", 1, "\n"},
        {"line with line feed: a second, blank row", "hello\n", 2, L(1, 30, "hello") + "\n"},
        {"line without line feed: one row", "hello", 1, L(1, 30, "hello")},
        {"leading TAB: centre", "\thello\n", 2, C(1, 30, "hello") + "\n"},
        {"two leading TABs: right", "\t\thello\n", 2, R(1, 30, "hello") + "\n"},
        {"text, two TABs, text: no centre element", "a\t\tb", 1, L(1, 30, "a") + R(2, 30, "b")},
        {"further TABs stay in the right field", "a\tb\tc\td", 1,
         L(1, 30, "a") + C(2, 30, "b") + R(3, 30, "c\td")},
        {"spaces before a leading TAB go", "   \tx", 1, C(1, 30, "x")},
        {"spaces around fields go", "  a  \t  b  \t  c  ", 1,
         L(1, 30, "a") + C(2, 30, "b") + R(3, 30, "c")},
        {"blank bytes only: a blank row", " \t \t \x01\n", 2, "\n\n"},
        {"CR LF alone: a blank row", "\r\n", 2, "\n\n"},
        {"CR LF after text", "hello\r\nworld\r\n", 3, L(1, 30, "hello") + L(2, 60, "world") + "\n"},
        {"UTF-8 passes through whole", "Caf\xC3\xA9\t\xE2\x82\xAC 5\t\xC3\x9C", 1,
         L(1, 30, "Caf\xC3\xA9") + C(2, 30, "\xE2\x82\xAC 5") + R(3, 30, "\xC3\x9C")},
        {"bytes from 128 up are not blank (nor UTF-8: a warning)", "\xA0x\xA0", 1,
         L(1, 30, "\xA0x\xA0"), "Warn line 1 not valid XML!\n"},
        {"markup and references are copied unchanged (markup warned)", "&amp; <b>\t&#169;", 1,
         L(1, 30, "&amp; <b>") + C(2, 30, "&#169;"), "Warn line 1 not valid XML!\n"},
        {"field names get tag ids, near misses do not",
         "logged_user_name\tCharge_value\treceipt_id \nTotal charge_value\t\tcharge_value", 2,
         L(1, 30, "logged_user_name", "tag") + C(2, 30, "Charge_value") +
             R(3, 30, "receipt_id", "tag") + L(4, 60, "Total charge_value") +
             R(5, 60, "charge_value", "tag")},
        {"ids run on across rows and blank rows", "a\tb\tc\n\nd\n", 4,
         L(1, 30, "a") + C(2, 30, "b") + R(3, 30, "c") + "\n" + L(4, 90, "d") + "\n"},
    };
    for (const row_case &c : cases) {
        SCOPED_TRACE(c.name);
        layout_run lr = run_layout(c.layout);
        EXPECT_EQ(lr.r.status, 0);
        EXPECT_EQ(lr.r.out, "");
        EXPECT_EQ(lr.r.err, c.err);
        const long long height = 30 * (c.line_count + 2);
        EXPECT_EQ(lr.receipt, expect_prologue(height) + c.rows + expect_footer(height));
    }
}

TEST(Layout, LongLinesBecomeSeveralRowsWithNumberedWarnings)
{
    const std::string x999(999, 'x');
    {
        SCOPED_TRACE("2000 characters and a line feed: reads of 999, 999 and 3 bytes");
        layout_run lr = run_layout(std::string(2000, 'x') + "\n");
        EXPECT_EQ(lr.r.status, 0);
        EXPECT_EQ(lr.r.err, "Warn line 1 too long!\nWarn line 2 too long!\n"
                            "Warn line 1 too long!\nWarn line 2 too long!\n");
        EXPECT_EQ(lr.receipt, expect_prologue(180) + expect_text('l', "text", 1, 30, x999) +
                                  expect_text('l', "text", 2, 60, x999) +
                                  expect_text('l', "text", 3, 90, "xx") + "\n" +
                                  expect_footer(180));
    }
    {
        SCOPED_TRACE("998 characters and a line feed: warned when counting only");
        const std::string x998(998, 'x');
        layout_run lr = run_layout("a\n" + x998 + "\n");
        EXPECT_EQ(lr.r.status, 0);
        EXPECT_EQ(lr.r.err, "Warn line 2 too long!\n");
        EXPECT_EQ(lr.receipt, expect_prologue(150) + expect_text('l', "text", 1, 30, "a") +
                                  expect_text('l', "text", 2, 60, x998) + "\n" +
                                  expect_footer(150));
    }
    {
        SCOPED_TRACE("999 bytes that trimming shortens: warned when counting only");
        const std::string padded = "  " + std::string(996, 'y') + " ";
        layout_run lr = run_layout(padded + "z");
        EXPECT_EQ(lr.r.status, 0);
        EXPECT_EQ(lr.r.err, "Warn line 1 too long!\n");
        EXPECT_EQ(lr.receipt, expect_prologue(120) +
                                  expect_text('l', "text", 1, 30, std::string(996, 'y')) +
                                  expect_text('l', "text", 2, 60, "z") + expect_footer(120));
    }
    {
        SCOPED_TRACE("exactly 999 bytes and no line feed: one more, empty read");
        layout_run lr = run_layout(x999);
        EXPECT_EQ(lr.r.status, 0);
        EXPECT_EQ(lr.r.err, "Warn line 1 too long!\nWarn line 1 too long!\n");
        EXPECT_EQ(lr.receipt, expect_prologue(120) + expect_text('l', "text", 1, 30, x999) + "\n" +
                                  expect_footer(120));
    }
}

/* ----------------------------------------------------------- golden files */

// Receipts written out by hand from the documented templates: a layout
// with fields in every column, the example shop layout, and the first one
// again under a logo of 57 bytes (a full data line and a short one).
TEST(Receipt, MatchesHandWrittenGoldenFiles)
{
    struct golden_case {
        const char *layout;
        const char *logo;   // nullptr: none
        const char *receipt;
    };
    const golden_case cases[] = {
        {"charge.txt", nullptr, "charge.svg"},
        {"shop.txt", nullptr, "shop.svg"},
        {"charge.txt", "logo57.bin", "charge-logo.svg"},
    };
    const std::string data = TEST_DATA_DIR;
    for (const golden_case &c : cases) {
        SCOPED_TRACE(c.receipt);
        scratch_dir d;
        std::vector<std::string> args = {"r.svg", data + "/" + c.layout};
        if (c.logo != nullptr)
            args.push_back(data + "/" + c.logo);
        tool_result r = run_tool(args, d.path);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        // The test logo is no bitmap: embedded all the same, with a warning.
        EXPECT_EQ(r.err, c.logo != nullptr ? "Warn logo is not a BMP file!\n" : "");
        EXPECT_EQ(read_file(d / "r.svg"), read_file(data + "/" + c.receipt));
    }
}

/* ------------------------------------------------------------------- logo */

// Run on `layout` with a logo of `logo` bytes.
layout_run run_with_logo(const std::string &layout, const std::string &logo)
{
    scratch_dir d;
    write_file(d / "l.txt", layout);
    write_file(d / "logo.bmp", logo);
    layout_run lr{run_tool({"r.svg", "l.txt", "logo.bmp"}, d.path), ""};
    if (file_exists(d / "r.svg"))
        lr.receipt = read_file(d / "r.svg");
    EXPECT_EQ(read_file(d / "logo.bmp"), logo);
    return lr;
}

struct logo_case {
    std::size_t size;
    std::string logo;
    std::string data;   // the data lines, joined by line feeds
};

TEST(Logo, DataLinesForTheTellingSizes)
{
    const std::string z54(54, '\0');
    const std::string a72(72, 'A');
    const std::vector<logo_case> cases = {
        {0, "", ""},
        {1, "M", "TQ=="},
        {54, z54, a72 + "\n"},
        {55, z54 + "M", a72 + "\nTQ=="},
        {56, z54 + "Ma", a72 + "\nTWE="},
        {57, z54 + "Man", a72 + "\nTWFu"},
        {108, z54 + z54, a72 + "\n" + a72 + "\n"},
    };
    for (const logo_case &c : cases) {
        SCOPED_TRACE("logo of " + std::to_string(c.size) + " bytes");
        ASSERT_EQ(c.logo.size(), c.size);
        layout_run lr = run_with_logo("hello\n", c.logo);
        EXPECT_EQ(lr.r.status, 0);
        EXPECT_EQ(lr.r.out, "");
        EXPECT_EQ(lr.r.err, "Warn logo is not a BMP file!\n");   // none starts with "BM"

        EXPECT_EQ(lr.receipt, expect_prologue(370) + expect_logo(c.data) +
                                  expect_text('l', "text", 1, 250, "hello") + "\n" +
                                  expect_footer(340));
    }
}

// The data lines between the data URI's start and the closing quote.
std::string data_lines(const std::string &receipt)
{
    const std::string start = "base64,";
    std::size_t a = receipt.find(start);
    std::size_t b = receipt.find('"', a);
    if (a == std::string::npos || b == std::string::npos)
        return "<no data>";
    return receipt.substr(a + start.size(), b - a - start.size());
}

TEST(Logo, LargeLogoDecodesToItsBytesAndMatchesBase64Wrapped)
{
    // 300024 = 5556 * 54; the logo is read 32778 bytes (607 chunks) at a
    // time, so 131112 ends exactly on the fourth read and 131111 just before.
    for (std::size_t size : {300000u, 300024u, 131111u, 131112u, 131113u}) {
        SCOPED_TRACE("logo of " + std::to_string(size) + " bytes");
        std::string logo(size, '\0');
        unsigned state = 12345;
        for (char &c : logo) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 23);
        }
        layout_run lr = run_with_logo("", logo);
        ASSERT_EQ(lr.r.status, 0) << lr.r.err;
        EXPECT_EQ(lr.receipt.substr(0, expect_prologue(340).size()), expect_prologue(340));
        EXPECT_NE(lr.receipt.find("\t<image\n"), std::string::npos);
        const std::string data = data_lines(lr.receipt);

        // Every line but the last holds 72 characters.
        std::size_t pos = 0;
        std::size_t lines = 0;
        for (;;) {
            std::size_t nl = data.find('\n', pos);
            if (nl == std::string::npos)
                break;
            EXPECT_EQ(nl - pos, 72u);
            ++lines;
            pos = nl + 1;
        }
        EXPECT_EQ(lines, size / 54);

        // The project's decoder gives the logo back.
        std::string back(size + 3, '\0');
        int n = base64_decode(data.data(), static_cast<int>(data.size()),
                              reinterpret_cast<unsigned char *>(back.data()),
                              static_cast<int>(back.size()));
        ASSERT_EQ(n, static_cast<int>(size));
        back.resize(size);
        EXPECT_TRUE(back == logo);

        // So does an independent encoder, wrapping at 72: its output ends in
        // a line feed, which the receipt has only for a multiple of 54 bytes.
        scratch_dir d;
        write_file(d / "logo.bin", logo);
        const std::string cmd =
            "base64 -w 72 '" + (d / "logo.bin") + "' > '" + (d / "logo.b64") + "'";
        if (std::system(cmd.c_str()) != 0)
            GTEST_SKIP() << "coreutils base64 is not available";
        std::string wrapped = read_file(d / "logo.b64");
        if (size % 54 != 0)
            wrapped.pop_back();
        EXPECT_TRUE(data == wrapped);
    }
}

}   // namespace
