// warn_test.cpp - the built gen_xml, end to end: the warnings for receipts
// that will not work (text that is not XML, a logo that is not a BMP file,
// too many arguments), the layout's byte order mark, and the file-size
// limit with SIGXFSZ at its default action. The receipt's bytes stay as
// documented in every case.

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "expect.h"
#include "run_tool.h"

namespace {

// Text elements by column, numbered n, on baseline y.
std::string L(long long n, long long y, const std::string &t, const char *p = "text")
{
    return expect_text('l', p, n, y, t);
}
std::string C(long long n, long long y, const std::string &t, const char *p = "text")
{
    return expect_text('c', p, n, y, t);
}
std::string R(long long n, long long y, const std::string &t, const char *p = "text")
{
    return expect_text('r', p, n, y, t);
}

// A layout, the number of reads it gives, the receipt's rows (between the
// prologue and the footer) and everything on standard error.
struct layout_case {
    const char *name;
    std::string layout;
    long long reads;
    std::string rows;
    std::string err;
};

// Run each case without a logo: status 0, nothing on standard output, the
// receipt exactly as documented and the warnings exactly as given.
void run_layout_cases(const std::vector<layout_case> &cases)
{
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir d;
        write_file(d / "l.txt", c.layout);
        const tool_result r = run_tool({"r.svg", "l.txt"}, d.path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        const long long height = 30 * (c.reads + 2);
        ASSERT_TRUE(file_exists(d / "r.svg"));
        EXPECT_EQ(read_file(d / "r.svg"), expect_prologue(height) + c.rows + expect_footer(height));
    }
}

const std::string a998(998, 'a');

/* ------------------------------------------------------------- XML text */

TEST(WarnXml, ValidTextDrawsNoWarning)
{
    run_layout_cases({
        {"the five predefined entities", "Fish &amp; Chips\t&lt;1&gt;\t&quot;a&apos;\n", 2,
         L(1, 30, "Fish &amp; Chips") + C(2, 30, "&lt;1&gt;") + R(3, 30, "&quot;a&apos;") + "\n",
         ""},
        {"decimal and hexadecimal references", "&#169; 2026\t&#x1F600;&#xa9;", 1,
         L(1, 30, "&#169; 2026") + C(2, 30, "&#x1F600;&#xa9;"), ""},
        {"UTF-8 of 2, 3 and 4 bytes", "Caf\xC3\xA9\t\xE2\x82\xAC 5\t\xF0\x9F\x98\x80\n", 2,
         L(1, 30, "Caf\xC3\xA9") + C(2, 30, "\xE2\x82\xAC 5") + R(3, 30, "\xF0\x9F\x98\x80") + "\n",
         ""},
        {"U+FEFF in the middle of a row", "Total\xEF\xBB\xBFsum\n", 2,
         L(1, 30, "Total\xEF\xBB\xBFsum") + "\n", ""},
        {"DEL, the C1 range, a CR and TABs inside the right column", "x\x7Fy\t\xC2\x85\ta\tb\rc\n",
         2, L(1, 30, "x\x7Fy") + C(2, 30, "\xC2\x85") + R(3, 30, "a\tb\rc") + "\n", ""},
        {"']]' and '>' without the whole ']]>'", "a]] >\tb]]\t>", 1,
         L(1, 30, "a]] >") + C(2, 30, "b]]") + R(3, 30, ">"), ""},
        {"controls at the ends of a row are blanks, trimmed away", "\x01\x1B ok \x02\n", 2,
         L(1, 30, "ok") + "\n", ""},
    });
}

TEST(WarnXml, EachKindOfBadTextIsWarnedWithItsReadNumber)
{
    run_layout_cases({
        {"a bare &", "Fish & Chips\n", 2, L(1, 30, "Fish & Chips") + "\n",
         "Warn line 1 not valid XML!\n"},
        {"&amp without ;", "ok\nFish &amp Chips", 2, L(1, 30, "ok") + L(2, 60, "Fish &amp Chips"),
         "Warn line 2 not valid XML!\n"},
        {"a name the receipt does not declare", "\t\t4&nbsp;EUR", 1, R(1, 30, "4&nbsp;EUR"),
         "Warn line 1 not valid XML!\n"},
        {"a reference to a character XML does not allow", "&#0;\n&#xD800;\n&#x110000;\n&#x;\n", 5,
         L(1, 30, "&#0;") + L(2, 60, "&#xD800;") + L(3, 90, "&#x110000;") + L(4, 120, "&#x;") +
             "\n",
         "Warn line 1 not valid XML!\nWarn line 2 not valid XML!\n"
         "Warn line 3 not valid XML!\nWarn line 4 not valid XML!\n"},
        {"a <", "Tax <incl.>\n", 2, L(1, 30, "Tax <incl.>") + "\n", "Warn line 1 not valid XML!\n"},
        {"]]>", "\ta]]>b", 1, C(1, 30, "a]]>b"), "Warn line 1 not valid XML!\n"},
        {"Latin-1", "Caf\xE9\n", 2, L(1, 30, "Caf\xE9") + "\n", "Warn line 1 not valid XML!\n"},
        {"an overlong form, a surrogate, U+FFFE, above U+10FFFF",
         "\xC0\xAF\n\xED\xA0\x80\n\xEF\xBF\xBE\n\xF4\x90\x80\x80", 4,
         L(1, 30, "\xC0\xAF") + L(2, 60, "\xED\xA0\x80") + L(3, 90, "\xEF\xBF\xBE") +
             L(4, 120, "\xF4\x90\x80\x80"),
         "Warn line 1 not valid XML!\nWarn line 2 not valid XML!\n"
         "Warn line 3 not valid XML!\nWarn line 4 not valid XML!\n"},
        {"a control character inside a field",
         "a\x01"
         "b\n",
         2,
         L(1, 30,
           "a\x01"
           "b") +
             "\n",
         "Warn line 1 not valid XML!\n"},
        {"only the reads that hold bad text, blank rows between", "a&b\n\nok\nc<d\n", 5,
         L(1, 30, "a&b") + "\n" + L(2, 90, "ok") + L(3, 120, "c<d") + "\n",
         "Warn line 1 not valid XML!\nWarn line 4 not valid XML!\n"},
    });
}

TEST(WarnXml, OnceForAReadWithSeveralBadFields)
{
    run_layout_cases({
        {"all three columns bad", "a & b\tc < d\t\xE9\n", 2,
         L(1, 30, "a & b") + C(2, 30, "c < d") + R(3, 30, "\xE9") + "\n",
         "Warn line 1 not valid XML!\n"},
        {"one field with several faults", "& < ]]> \x01 \xFF", 1, L(1, 30, "& < ]]> \x01 \xFF"),
         "Warn line 1 not valid XML!\n"},
    });
}

// In the writing pass a read's long-line warning comes first, then its XML
// warning; the counting pass gives only long-line warnings.
TEST(WarnXml, ComesRightAfterTheSameReadsLongLineWarning)
{
    run_layout_cases({
        {"a line cut into reads of 999 and 4 bytes, both bad", "&" + a998 + "b<c\n", 3,
         L(1, 30, "&" + a998) + L(2, 60, "b<c") + "\n",
         "Warn line 1 too long!\n"
         "Warn line 1 too long!\nWarn line 1 not valid XML!\nWarn line 2 not valid XML!\n"},
        {"a UTF-8 character cut by the read's end", a998 + "\xC3\xA9\n", 3,
         L(1, 30, a998 + "\xC3") + L(2, 60, "\xA9") + "\n",
         "Warn line 1 too long!\n"
         "Warn line 1 too long!\nWarn line 1 not valid XML!\nWarn line 2 not valid XML!\n"},
        {"a long line that is valid, then a bad one", "x\n" + a998 + "a\nFish & Chips\n", 5,
         L(1, 30, "x") + L(2, 60, a998 + "a") + "\n" + L(3, 120, "Fish & Chips") + "\n",
         "Warn line 2 too long!\nWarn line 2 too long!\nWarn line 4 not valid XML!\n"},
    });
}

// A NUL byte in a read is a sign of UTF-16 or binary data; the rest of the
// row after it is lost, so the read draws the warning even when the text
// before the NUL is fine.
TEST(WarnXml, AReadHoldingANulByte)
{
    run_layout_cases({
        {"a NUL in the middle of a row", std::string("ab\0cd\nok\n", 9), 3,
         L(1, 30, "ab") + L(2, 60, "ok") + "\n", "Warn line 1 not valid XML!\n"},
        {"a layout saved as UTF-16",
         std::string("\xFF\xFE"
                     "a\0\n\0",
                     6),
         2,
         L(1, 30,
           "\xFF\xFE"
           "a") +
             "\n",
         "Warn line 1 not valid XML!\nWarn line 2 not valid XML!\n"},
    });
}

/* ------------------------------------------------------- byte order mark */

const std::string bom = "\xEF\xBB\xBF";

// A layout saved with a UTF-8 byte order mark is read from the byte after
// it, in both passes; a mark anywhere else is text.
TEST(LayoutByteOrderMark, IsSkippedAtTheStartOfTheFileOnly)
{
    run_layout_cases({
        {"a field name right after the mark stays a field", bom + "receipt_id\tTotal\n", 2,
         L(1, 30, "receipt_id", "tag") + C(2, 30, "Total") + "\n", ""},
        {"a leading TAB right after the mark still centres", bom + "\tcharge_value\n", 2,
         C(1, 30, "charge_value", "tag") + "\n", ""},
        {"a mark alone: one blank row", bom, 1, "\n", ""},
        {"a mark and a line feed: two blank rows", bom + "\n", 2, "\n\n", ""},
        {"997 bytes and a line feed after the mark: no warning", bom + a998.substr(1) + "\n", 2,
         L(1, 30, a998.substr(1)) + "\n", ""},
        {"998 bytes and a line feed after the mark: warned when counting", bom + a998 + "\n", 2,
         L(1, 30, a998) + "\n", "Warn line 1 too long!\n"},
        {"a mark on the second line is text", "a\n" + bom + "receipt_id\n", 3,
         L(1, 30, "a") + L(2, 60, bom + "receipt_id") + "\n", ""},
        {"a second mark after the first is text", bom + bom + "x", 1, L(1, 30, bom + "x"), ""},
    });
}

/* ------------------------------------------------------------------- logo */

struct logo_case {
    const char *name;
    std::string logo;
    std::string data;   // the data lines, Base64
    std::string err;
};

const std::string not_bmp = "Warn logo is not a BMP file!\n";

TEST(WarnLogo, ALogoThatDoesNotStartWithBMIsWarnedAndEmbeddedAllTheSame)
{
    const std::vector<logo_case> cases = {
        {"BMP", "BM\x01\x02", "Qk0BAg==", ""},
        {"just the two bytes BM", "BM", "Qk0=", ""},
        {"PNG", "\x89PNG\r\n\x1a\n", "iVBORw0KGgo=", not_bmp},
        {"empty", "", "", not_bmp},
        {"one byte B", "B", "Qg==", not_bmp},
        {"MB", "MB", "TUI=", not_bmp},
        {"bm in small letters", "bm", "Ym0=", not_bmp},
    };
    for (const logo_case &c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir d;
        write_file(d / "l.txt", "hello\n");
        write_file(d / "logo.bmp", c.logo);
        const tool_result r = run_tool({"r.svg", "l.txt", "logo.bmp"}, d.path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(read_file(d / "r.svg"), expect_prologue(370) + expect_logo(c.data) +
                                              L(1, 250, "hello") + "\n" + expect_footer(340));
    }
}

// Read from a pipe, a logo arrives in pieces; its first two bytes decide.
TEST(WarnLogo, ALogoFromAPipe)
{
    for (const logo_case &c : std::vector<logo_case>{
             {"BMP", "BM\x01\x02", "Qk0BAg==", ""},
             {"PNG", "\x89PNG\r\n\x1a\n", "iVBORw0KGgo=", not_bmp},
         }) {
        SCOPED_TRACE(c.name);
        scratch_dir d;
        write_file(d / "l.txt", "hello\n");
        tool_options opt;
        opt.stdin_pipe = true;
        opt.stdin_data = c.logo;
        const tool_result r = run_tool({"r.svg", "l.txt", "/dev/stdin"}, d.path, opt);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(read_file(d / "r.svg"), expect_prologue(370) + expect_logo(c.data) +
                                              L(1, 250, "hello") + "\n" + expect_footer(340));
    }
}

// The warning is given as the logo block is written: after the counting
// pass's warnings, before the writing pass's.
TEST(WarnLogo, ComesBetweenTheCountingAndTheWritingPasses)
{
    scratch_dir d;
    write_file(d / "l.txt", "&" + a998 + "\n");
    write_file(d / "logo.png", "\x89PNG\r\n\x1a\n");
    const tool_result r = run_tool({"r.svg", "l.txt", "logo.png"}, d.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warn line 1 too long!\n"
                     "Warn logo is not a BMP file!\n"
                     "Warn line 1 too long!\nWarn line 1 not valid XML!\n");
    // Reads: 999 bytes, the line feed, the empty read at the end.
    EXPECT_EQ(read_file(d / "r.svg"), expect_prologue(30 * (3 + 2) + 250) +
                                          expect_logo("iVBORw0KGgo=") + L(1, 250, "&" + a998) +
                                          "\n\n" + expect_footer(370));
}

/* ------------------------------------------------------------- arguments */

const std::string too_many = "Warn too many arguments, no logo!\n";

struct args_case {
    const char *name;
    std::vector<std::string> args;
    std::string layout;   // written to l.txt
    int status;
    std::string err;
    std::string receipt;   // "" when none may exist
};

// Four or more paths: the warning first, before anything is opened; then
// the run as it always went: a receipt without logo, the extra paths never
// opened, and any failure message after the warning.
TEST(WarnArguments, FourOrMorePathsAreWarnedFirst)
{
    const std::string text_receipt =
        expect_prologue(120) + L(1, 30, "hello") + "\n" + expect_footer(120);
    const std::vector<args_case> cases = {
        {"four paths, the extra ones missing",
         {"r.svg", "l.txt", "my", "logo.bmp"},
         "hello\n",
         0,
         too_many,
         text_receipt},
        {"five paths",
         {"r.svg", "l.txt", "logo.bmp", "a", "b"},
         "hello\n",
         0,
         too_many,
         text_receipt},
        {"a logo that is no BMP among them is not opened",
         {"r.svg", "l.txt", "logo.png", "x"},
         "hello\n",
         0,
         too_many,
         text_receipt},
        {"and the layout's warnings follow",
         {"r.svg", "l.txt", "my", "logo.bmp"},
         "Fish & Chips",
         0,
         too_many + "Warn line 1 not valid XML!\n",
         expect_prologue(90) + L(1, 30, "Fish & Chips") + expect_footer(90)},
        {"a missing layout",
         {"r.svg", "missing.txt", "my", "logo.bmp"},
         "hello\n",
         3,
         too_many + "Could not open file: missing.txt\n",
         ""},
        {"a receipt that exists",
         {"old.svg", "l.txt", "my", "logo.bmp"},
         "hello\n",
         3,
         too_many + "File already exist: old.svg\n",
         ""},
        {"a receipt that cannot be created",
         {"no/r.svg", "l.txt", "my", "logo.bmp"},
         "hello\n",
         3,
         too_many + "Could not create file: no/r.svg\n",
         ""},
    };
    for (const args_case &c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir d;
        write_file(d / "l.txt", c.layout);
        write_file(d / "logo.png", "\x89PNG\r\n\x1a\n");
        write_file(d / "old.svg", "old");
        const tool_result r = run_tool(c.args, d.path);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(read_file(d / "old.svg"), "old");
        if (c.receipt.empty())
            EXPECT_FALSE(file_exists(d / "r.svg"));
        else
            EXPECT_EQ(read_file(d / "r.svg"), c.receipt);
    }
}

TEST(WarnArguments, TwoOrThreePathsDrawNoWarning)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"r.svg", "l.txt"}, {"r.svg", "l.txt", "logo.bmp"}}) {
        SCOPED_TRACE(args.size());
        scratch_dir d;
        write_file(d / "l.txt", "hello\n");
        write_file(d / "logo.bmp", "BM");
        const tool_result r = run_tool(args, d.path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }
}

/* ----------------------------------------------------- file-size limit */

}   // namespace
