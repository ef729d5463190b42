// platform_test.cpp - the built gen_xml end to end, on Linux and on Windows
// (there under Wine in CI): the golden receipts, every message and status
// that needs no POSIX tricks, text-mode line ends, and file names in UTF-8.
// On Windows every line feed the tool writes (receipt, usage, messages) is
// expected as CR LF, and nothing else may differ from Linux.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "expect.h"
#include "spawn_tool.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr bool windows = true;
#else
constexpr bool windows = false;
#endif

// The bytes the tool writes through a text stream: on Windows each line
// feed lands as CR LF.
std::string text_mode(const std::string &lf)
{
    if (!windows)
        return lf;
    std::string out;
    for (char c : lf) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string data_file(const std::string &name)
{
    return read_bytes(fs::path(TEST_DATA_DIR) / name);
}

// Run gen_xml, named "gen_xml" in its own argument vector, in `dir`.
spawn_result gen_xml(const std::vector<std::string> &args, const scratch &dir)
{
    std::vector<std::string> argv{"gen_xml"};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn_tool(GEN_XML_BIN, argv, dir.path);
}

// The names in a directory, as UTF-8: a file created under a name mangled
// by a code page shows up here as a stranger.
std::set<std::string> listing(const fs::path &dir)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) {
        const std::u8string n = entry.path().filename().u8string();
        names.insert(std::string(n.begin(), n.end()));
    }
    return names;
}

/* -------------------------------------------------------- golden receipts */

// The hand-written receipts in tests/data, from their layouts and logo,
// with every line end as the platform writes text; a layout saved with CR LF
// line ends gives the same receipt (the C runtime turns CR LF into a line
// feed on Windows, and trimming drops the CR elsewhere).
TEST(Golden, ReceiptsMatchTheHandWrittenFilesWithLfOrCrLfLayouts)
{
    struct golden_case {
        const char *layout;
        const char *logo;   // null: no logo
        const char *receipt;
    };
    const golden_case cases[] = {
        {"charge.txt", nullptr, "charge.svg"},
        {"charge.txt", "logo57.bin", "charge-logo.svg"},
        {"shop.txt", nullptr, "shop.svg"},
    };
    for (const golden_case &c : cases) {
        for (bool crlf : {false, true}) {
            SCOPED_TRACE(std::string(c.layout) + (crlf ? " with CR LF" : " with LF"));
            scratch d;
            std::string layout = data_file(c.layout);
            if (crlf) {
                std::string converted;
                for (char ch : layout)
                    converted += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
                layout = converted;
            }
            write_bytes(d / "l.txt", layout);
            std::vector<std::string> args{"r.svg", "l.txt"};
            if (c.logo != nullptr) {
                write_bytes(d / "logo.bin", data_file(c.logo));
                args.push_back("logo.bin");
            }
            const spawn_result r = gen_xml(args, d);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, "");
            // The test logo is no bitmap: embedded all the same, with a warning.
            EXPECT_EQ(r.err, c.logo != nullptr ? text_mode("Warn logo is not a BMP file!\n") : "");
            EXPECT_EQ(read_bytes(d / "r.svg"), text_mode(data_file(c.receipt)));
        }
    }
}

// The logo is read as binary: CR LF, a lone line feed, Ctrl-Z and NUL reach
// the Base64 data unchanged (0D 0A 1A 00 FF 0A is "DQoaAP8K").
TEST(Golden, LogoBytesAreReadAsBinary)
{
    scratch d;
    write_bytes(d / "l.txt", "hello\n");
    write_bytes(d / "logo.bmp", std::string("\r\n\x1a\0\xff\n", 6));
    const spawn_result r = gen_xml({"r.svg", "l.txt", "logo.bmp"}, d);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, text_mode("Warn logo is not a BMP file!\n"));
    EXPECT_EQ(read_bytes(d / "r.svg"),
              text_mode(expect_prologue(370) + expect_logo("DQoaAP8K") +
                        expect_text('l', "text", 1, 250, "hello") + "\n" + expect_footer(340)));
}

/* --------------------------------------------------- messages and statuses */

// Every outcome that can be set up with plain files and directories: the
// status, both streams, and whether a receipt was left behind.
TEST(Messages, EveryMessageAndStatus)
{
    const std::string usage = "usage: gen_xml output_receipt text_source [path_to_image]\n";
    const std::string hello_receipt =
        expect_prologue(120) + expect_text('l', "text", 1, 30, "hello") + "\n" + expect_footer(120);
    struct message_case {
        const char *what;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
        bool receipt_written;
    };
    const message_case cases[] = {
        {"no arguments", {}, 1, usage, "", false},
        {"one argument", {"r.svg"}, 1, usage, "", false},
        {"missing layout",
         {"r.svg", "missing.txt"},
         3,
         "",
         "Could not open file: missing.txt\n",
         false},
        {"layout is a directory", {"r.svg", "dir"}, 3, "", "Could not open file: dir\n", false},
        {"missing logo",
         {"r.svg", "l.txt", "missing.bmp"},
         3,
         "",
         "Could not open file: missing.bmp\n",
         false},
        {"logo is a directory",
         {"r.svg", "l.txt", "dir"},
         3,
         "",
         "Could not open file: dir\n",
         false},
        {"receipt exists", {"old.svg", "l.txt"}, 3, "", "File already exist: old.svg\n", false},
        {"missing layout, receipt exists",
         {"old.svg", "missing.txt"},
         3,
         "",
         "Could not open file: missing.txt\n",
         false},
        {"receipt directory missing",
         {"nodir/r.svg", "l.txt"},
         3,
         "",
         "Could not create file: nodir/r.svg\n",
         false},
        {"four paths: no logo, extras never opened",
         {"r.svg", "l.txt", "missing.bmp", "dir"},
         0,
         "",
         "Warn too many arguments, no logo!\n",
         true},
        {"four paths and a missing layout: the warning comes first",
         {"r.svg", "missing.txt", "missing.bmp", "dir"},
         3,
         "",
         "Warn too many arguments, no logo!\nCould not open file: missing.txt\n",
         false},
    };
    for (const message_case &c : cases) {
        SCOPED_TRACE(c.what);
        scratch d;
        write_bytes(d / "l.txt", "hello\n");
        write_bytes(d / "old.svg", "keep me\n");
        fs::create_directory(d / "dir");
        const spawn_result r = gen_xml(c.args, d);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, text_mode(c.out));
        EXPECT_EQ(r.err, text_mode(c.err));
        EXPECT_EQ(read_bytes(d / "old.svg"), "keep me\n");
        if (c.receipt_written) {
            EXPECT_EQ(read_bytes(d / "r.svg"), text_mode(hello_receipt));
        } else {
            EXPECT_FALSE(fs::exists(d / "r.svg"));
        }
    }
}

// A physical line of 2,000 characters and its line feed are three reads
// (999, 999 and 3 bytes), each a row, then the empty read at the end of the
// file; the first two are warned about in the counting pass and again in the
// writing pass.
TEST(Messages, LongLineWarningsInBothPasses)
{
    scratch d;
    write_bytes(d / "l.txt", std::string(2000, 'x') + "\n");
    const spawn_result r = gen_xml({"r.svg", "l.txt"}, d);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, text_mode("Warn line 1 too long!\nWarn line 2 too long!\n"
                               "Warn line 1 too long!\nWarn line 2 too long!\n"));
    EXPECT_EQ(read_bytes(d / "r.svg"),
              text_mode(expect_prologue(180) +
                        expect_text('l', "text", 1, 30, std::string(999, 'x')) +
                        expect_text('l', "text", 2, 60, std::string(999, 'x')) +
                        expect_text('l', "text", 3, 90, "xx") + "\n" + expect_footer(180)));
}

/* ------------------------------------------------------ text-mode reading */

// The 999-byte reads count the bytes as the C runtime hands them over: 997
// characters and CR LF are 999 bytes on Linux (warned about in the counting
// pass; trimming then drops the CR) but 998 on Windows, where CR LF arrives
// as one line feed, so there is no warning.
TEST(TextMode, ReadsCountBytesAfterLineEndTranslation)
{
    scratch d;
    write_bytes(d / "l.txt", std::string(997, 'y') + "\r\n");
    const spawn_result r = gen_xml({"r.svg", "l.txt"}, d);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, windows ? "" : "Warn line 1 too long!\n");
    EXPECT_EQ(read_bytes(d / "r.svg"),
              text_mode(expect_prologue(120) +
                        expect_text('l', "text", 1, 30, std::string(997, 'y')) + "\n" +
                        expect_footer(120)));
}

// Ctrl-Z (byte 1A) in a layout: on Windows the C runtime's text mode takes
// it as the end of the file, so nothing after it is read, in either pass (as
// seen under Wine); elsewhere it is a control character like any other, a
// blank byte that trimming removes.
TEST(TextMode, CtrlZInTheLayout)
{
    scratch d;
    write_bytes(d / "l.txt", "A\x1a"
                             "B\nC\n");
    const spawn_result r = gen_xml({"r.svg", "l.txt"}, d);
    EXPECT_EQ(r.status, 0);
    // Where it is read, the control character makes the row no XML text.
    EXPECT_EQ(r.err, windows ? "" : "Warn line 1 not valid XML!\n");
    const std::string expected =
        windows ? expect_prologue(90) + expect_text('l', "text", 1, 30, "A") + expect_footer(90)
                : expect_prologue(150) +
                      expect_text('l', "text", 1, 30,
                                  "A\x1a"
                                  "B") +
                      expect_text('l', "text", 2, 60, "C") + "\n" + expect_footer(150);
    EXPECT_EQ(read_bytes(d / "r.svg"), text_mode(expected));
}

/* ---------------------------------------------------------- UTF-8 names */

// Latin and CJK names for the layout, the logo and the receipt: the files
// are found and created under exactly these names (nothing else appears in
// the directory), whatever the ANSI code page on Windows.
TEST(UnicodePaths, LayoutLogoAndReceiptNames)
{
    struct name_case {
        const char *receipt;
        const char *layout;
        const char *logo;
    };
    const name_case cases[] = {
        {"Quittung für Käse.svg", "Käse ß.txt", "Logo ß.bmp"},
        {"收据.svg", "收据.txt", "标志.bmp"},
        {"Ωμέγα 收据 é.svg", "layout é 收.txt", "logo Ø 标.bmp"},
    };
    for (const name_case &c : cases) {
        SCOPED_TRACE(c.layout);
        scratch d;
        write_bytes(d / c.layout, data_file("charge.txt"));
        write_bytes(d / c.logo, data_file("logo57.bin"));
        const spawn_result r = gen_xml({c.receipt, c.layout, c.logo}, d);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, text_mode("Warn logo is not a BMP file!\n"));
        EXPECT_EQ(listing(d.path), (std::set<std::string>{c.receipt, c.layout, c.logo}));
        if (fs::exists(d / c.receipt)) {
            EXPECT_EQ(read_bytes(d / c.receipt), text_mode(data_file("charge-logo.svg")));
        }
    }
}

// Messages print a path in the same UTF-8 bytes as it was given.
TEST(UnicodePaths, MessagesPrintThePathInUtf8)
{
    struct message_case {
        std::vector<std::string> args;
        std::string err;
    };
    const message_case cases[] = {
        {{"r.svg", "收据.txt"}, "Could not open file: 收据.txt\n"},
        {{"r.svg", "Käse ß.txt"}, "Could not open file: Käse ß.txt\n"},
        {{"r.svg", "l.txt", "标志 ß.bmp"}, "Could not open file: 标志 ß.bmp\n"},
        {{"旧 ü.svg", "l.txt"}, "File already exist: 旧 ü.svg\n"},
        {{"没有/r ß.svg", "l.txt"}, "Could not create file: 没有/r ß.svg\n"},
    };
    for (const message_case &c : cases) {
        SCOPED_TRACE(c.err);
        scratch d;
        write_bytes(d / "l.txt", "hello\n");
        write_bytes(d / "旧 ü.svg", "keep me\n");
        const spawn_result r = gen_xml(c.args, d);
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, text_mode(c.err));
        EXPECT_EQ(listing(d.path), (std::set<std::string>{"l.txt", "旧 ü.svg"}));
        EXPECT_EQ(read_bytes(d / "旧 ü.svg"), "keep me\n");
    }
}

}   // namespace
