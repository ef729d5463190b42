// fault_test.cpp - the built gen_xml against everything that can go wrong
// around it: inputs that are not files, receipt paths that must not be
// written through, a receipt that cannot grow (file size limit) at every
// stage of the document, a layout too long for 32-bit geometry, and layout
// and logo bytes of every value.
//
// Every run checks the exit status, the exact text on standard error, what
// is on disk afterwards (entry by entry), and that the inputs were left as
// they were. Expected receipts are assembled from the documented pieces in
// expect.h, the logo's data lines included (from a Base64 encoder of its
// own, independent of the tool's codec).

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "compare.h"
#include "expect.h"
#include "run_tool.h"

namespace {

namespace fs = std::filesystem;

/* ------------------------------------------------------ the disk, entries */

// One entry of a scratch directory: its kind, permission bits, and its
// bytes (regular file) or target (symbolic link).
struct entry {
    char kind;   // 'f' file, 'd' directory, 'l' symbolic link, 'o' other
    unsigned mode;
    std::string content;
    bool operator==(const entry &) const = default;
};
using tree = std::map<std::string, entry>;

tree snapshot(const std::string &root)
{
    tree t;
    for (const fs::directory_entry &de : fs::recursive_directory_iterator(root)) {
        const fs::file_status st = de.symlink_status();
        entry e{'o', static_cast<unsigned>(st.permissions()), ""};
        if (fs::is_symlink(st)) {
            e.kind = 'l';
            e.content = fs::read_symlink(de.path()).string();
        } else if (fs::is_directory(st)) {
            e.kind = 'd';
        } else if (fs::is_regular_file(st)) {
            e.kind = 'f';
            std::ifstream in(de.path(), std::ios::binary);
            if (in) {
                e.content.assign(std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>());
            } else {
                e.content = "<unreadable, " + std::to_string(fs::file_size(de.path())) + " bytes>";
            }
        }
        t[fs::relative(de.path(), root).string()] = std::move(e);
    }
    return t;
}

::testing::AssertionResult same_tree(const tree &after, const tree &before)
{
    for (const auto &[name, e] : before) {
        auto it = after.find(name);
        if (it == after.end())
            return ::testing::AssertionFailure() << name << " is gone";
        if (it->second.kind != e.kind || it->second.mode != e.mode)
            return ::testing::AssertionFailure() << name << " changed its kind or permissions";
        if (!(it->second == e))
            return ::testing::AssertionFailure()
                   << name << " changed: " << same_bytes(it->second.content, e.content).message();
    }
    for (const auto &[name, e] : after)
        if (before.find(name) == before.end())
            return ::testing::AssertionFailure() << name << " was created";
    return ::testing::AssertionSuccess();
}

// Give everything under `root` back its write permission so that the scratch
// directory can be removed.
void unlock(const std::string &root)
{
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const fs::directory_entry &de : fs::recursive_directory_iterator(root, ec))
        if (!de.is_symlink(ec))
            fs::permissions(de.path(), fs::perms::owner_all, fs::perm_options::add, ec);
}

/* --------------------------------------------------------------- fixtures */

// Input files for a run, and the complete receipt they give when the run
// names them all (the layout always as l.txt, a logo as logo.bmp).
struct fixture {
    std::vector<std::pair<std::string, std::string>> files;
    std::string receipt;
};

const fixture &small_inputs()
{
    static const fixture f{{{"l.txt", "hello\n"}, {"logo.bmp", "BM\x01\x02"}}, ""};
    return f;
}

// 12,000 rows of three columns, the centre one a field: about 3 MB of
// receipt, so it goes out in many blocks.
const fixture &large_layout()
{
    static const fixture f = [] {
        const long long rows = 12000;
        const long long height = 30 * (rows + 1 + 2);   // the last, empty read is a row too
        std::string layout;
        std::string receipt = expect_prologue(height);
        for (long long i = 0; i < rows; ++i) {
            const std::string item = "Item " + std::to_string(i);
            const std::string price = std::to_string(i % 97) + ".50";
            layout += item + "\tcharge_value\t" + price + "\n";
            const long long y = 30 + 30 * i;
            receipt += expect_text('l', "text", 3 * i + 1, y, item);
            receipt += expect_text('c', "tag", 3 * i + 2, y, "charge_value");
            receipt += expect_text('r', "text", 3 * i + 3, y, price);
        }
        receipt += "\n" + expect_footer(height);
        return fixture{{{"l.txt", layout}}, receipt};
    }();
    return f;
}

// A logo of 3,000,017 bytes (55,555 full chunks and a last one of 47
// bytes), a bitmap's "BM" and then random bytes, under a one-line layout.
const fixture &large_logo()
{
    static const fixture f = [] {
        const std::string logo = "BM" + random_bytes(3000015, 7);
        std::string receipt = expect_prologue(30 * (2 + 2) + 250) +
                              expect_logo(logo_data_lines(logo)) +
                              expect_text('l', "text", 1, 250, "hello") + "\n" + expect_footer(340);
        return fixture{{{"l.txt", "hello\n"}, {"logo.bmp", logo}}, receipt};
    }();
    return f;
}

/* ----------------------------------------------------------- fault matrix */

// What the run leaves at the receipt path r.svg: nothing written (what was
// there before, if anything, stays as it was), a start of the complete
// receipt, or all of it.
enum class receipt_is { not_written, cut, complete };

struct fault_case {
    std::string name;
    const fixture *inputs;
    void (*setup)(const scratch_dir &d);   // further entries, or nullptr
    std::vector<std::string> args;
    long long fsize_limit;   // -1: none
    int status;
    std::string err;
    receipt_is receipt;               // the receipt is always r.svg
    bool needs_permissions = false;   // meaningless for root, who may read anything
    bool stdin_pipe = false;          // standard input is a pipe carrying "hello\n"
};

void make_dir(const scratch_dir &d)
{
    ASSERT_EQ(mkdir((d / "sub").c_str(), 0755), 0);
}

void keep_me(const scratch_dir &d)
{
    write_file(d / "r.svg", "keep me\n");
}

// Every way the run refuses before writing anything: the inputs are opened
// first (layout, then logo), then the receipt path is probed, then the
// receipt is created. Each refusal says one line, ends with status 3, creates
// nothing and leaves every entry as it was.
std::vector<fault_case> refusal_cases()
{
    const fixture *small = &small_inputs();
    return {
        {"missing layout",
         small,
         nullptr,
         {"r.svg", "missing.txt"},
         -1,
         3,
         "Could not open file: missing.txt\n",
         receipt_is::not_written},
        {"missing layout, existing receipt: the layout is opened first",
         small,
         keep_me,
         {"r.svg", "missing.txt"},
         -1,
         3,
         "Could not open file: missing.txt\n",
         receipt_is::not_written},
        {"missing layout and logo: the layout is opened first",
         small,
         nullptr,
         {"r.svg", "missing.txt", "missing.bmp"},
         -1,
         3,
         "Could not open file: missing.txt\n",
         receipt_is::not_written},
        {"missing logo",
         small,
         nullptr,
         {"r.svg", "l.txt", "missing.bmp"},
         -1,
         3,
         "Could not open file: missing.bmp\n",
         receipt_is::not_written},
        {"missing logo, existing receipt: the logo is opened before the probe",
         small,
         keep_me,
         {"r.svg", "l.txt", "missing.bmp"},
         -1,
         3,
         "Could not open file: missing.bmp\n",
         receipt_is::not_written},
        {"layout is a pipe: it could not be read twice",
         small,
         nullptr,
         {"r.svg", "/dev/stdin"},
         -1,
         3,
         "Could not open file: /dev/stdin\n",
         receipt_is::not_written,
         false,
         true},
        {"existing receipt",
         small,
         keep_me,
         {"r.svg", "l.txt"},
         -1,
         3,
         "File already exist: r.svg\n",
         receipt_is::not_written},
        {"existing receipt, good logo",
         small,
         keep_me,
         {"r.svg", "l.txt", "logo.bmp"},
         -1,
         3,
         "File already exist: r.svg\n",
         receipt_is::not_written},
        {"layout is a directory",
         small,
         make_dir,
         {"r.svg", "sub"},
         -1,
         3,
         "Could not open file: sub\n",
         receipt_is::not_written},
        {"logo is a directory",
         small,
         make_dir,
         {"r.svg", "l.txt", "sub"},
         -1,
         3,
         "Could not open file: sub\n",
         receipt_is::not_written},
        {"receipt path is a dangling symbolic link",
         small,
         [](const scratch_dir &d) { ASSERT_EQ(symlink("target.svg", (d / "r.svg").c_str()), 0); },
         {"r.svg", "l.txt"},
         -1,
         3,
         "File already exist: r.svg\n",
         receipt_is::not_written},
        {"receipt path is a dangling symbolic link, with a logo",
         small,
         [](const scratch_dir &d) {
             make_dir(d);
             ASSERT_EQ(symlink("sub/target.svg", (d / "r.svg").c_str()), 0);
         },
         {"r.svg", "l.txt", "logo.bmp"},
         -1,
         3,
         "File already exist: r.svg\n",
         receipt_is::not_written},
        {"receipt path is a symbolic link to the layout",
         small,
         [](const scratch_dir &d) { ASSERT_EQ(symlink("l.txt", (d / "r.svg").c_str()), 0); },
         {"r.svg", "l.txt"},
         -1,
         3,
         "File already exist: r.svg\n",
         receipt_is::not_written},
        {"receipt path is a directory",
         small,
         make_dir,
         {"sub", "l.txt"},
         -1,
         3,
         "File already exist: sub\n",
         receipt_is::not_written},
        {"receipt path in a directory that does not exist",
         small,
         nullptr,
         {"no/such/r.svg", "l.txt"},
         -1,
         3,
         "Could not create file: no/such/r.svg\n",
         receipt_is::not_written},
        {"receipt path under a file",
         small,
         nullptr,
         {"l.txt/r.svg", "l.txt"},
         -1,
         3,
         "Could not create file: l.txt/r.svg\n",
         receipt_is::not_written},
        {"layout without read permission",
         small,
         [](const scratch_dir &d) { ASSERT_EQ(chmod((d / "l.txt").c_str(), 0), 0); },
         {"r.svg", "l.txt", "logo.bmp"},
         -1,
         3,
         "Could not open file: l.txt\n",
         receipt_is::not_written,
         true},
        {"logo without read permission",
         small,
         [](const scratch_dir &d) { ASSERT_EQ(chmod((d / "logo.bmp").c_str(), 0), 0); },
         {"r.svg", "l.txt", "logo.bmp"},
         -1,
         3,
         "Could not open file: logo.bmp\n",
         receipt_is::not_written,
         true},
        {"receipt exists without read permission",
         small,
         [](const scratch_dir &d) {
             write_file(d / "r.svg", "keep me\n");
             ASSERT_EQ(chmod((d / "r.svg").c_str(), 0), 0);
         },
         {"r.svg", "l.txt"},
         -1,
         3,
         "File already exist: r.svg\n",
         receipt_is::not_written,
         true},
        {"receipt path in a read-only directory",
         small,
         [](const scratch_dir &d) { ASSERT_EQ(mkdir((d / "sub").c_str(), 0555), 0); },
         {"sub/r.svg", "l.txt"},
         -1,
         3,
         "Could not create file: sub/r.svg\n",
         receipt_is::not_written,
         true},
    };
}

// A file size limit at each stage of the document, with SIGXFSZ at its
// default action as a shell leaves it: the tool must turn the limit into
// "Could not write file" and status 4, not be killed. Offsets follow the
// documented structure: the prologue (203 bytes, the height line, 46
// bytes), the logo block (44 bytes, the data lines, 45 bytes), the rows,
// and the footer.
std::vector<fault_case> write_cases()
{
    std::vector<fault_case> cases;
    const std::string no_write = "Could not write file: r.svg\n";
    auto add = [&](const fixture &f, const std::vector<std::string> &args, const std::string &where,
                   long long limit) {
        const long long full = static_cast<long long>(f.receipt.size());
        if (limit >= full)
            cases.push_back({where + " (limit " + std::to_string(limit) + ", the whole receipt)",
                             &f, nullptr, args, limit, 0, "", receipt_is::complete});
        else
            cases.push_back(
                {where + " (limit " + std::to_string(limit) + " of " + std::to_string(full) + ")",
                 &f, nullptr, args, limit, 4, no_write, receipt_is::cut});
    };

    {
        const fixture &f = large_layout();
        const long long height = 30 * (12001 + 2);
        const std::string height_line = "   height=\"" + std::to_string(height) + "\"\n";
        const long long prologue = 203 + static_cast<long long>(height_line.size()) + 46;
        const long long footer = static_cast<long long>(expect_footer(height).size());
        const long long full = static_cast<long long>(f.receipt.size());
        const std::vector<std::string> args = {"r.svg", "l.txt"};
        add(f, args, "layout: nothing fits", 0);
        add(f, args, "layout: in the XML declaration", 20);
        add(f, args, "layout: in the namespace lines", 100);
        add(f, args, "layout: in the height line", 203 + 8);
        add(f, args, "layout: the prologue's last byte", prologue - 1);
        add(f, args, "layout: exactly the prologue", prologue);
        add(f, args, "layout: in the first row", prologue + 30);
        add(f, args, "layout: 64 KiB", 65536);
        add(f, args, "layout: in the middle of the rows", full / 2);
        add(f, args, "layout: every row, no footer", full - footer);
        add(f, args, "layout: in the footer's text", full - footer + 40);
        add(f, args, "layout: all but the last line feed", full - 1);
        add(f, args, "layout: exactly enough", full);
    }
    {
        const fixture &f = large_logo();
        const long long prologue = static_cast<long long>(expect_prologue(370).size());
        const long long data =
            static_cast<long long>(f.receipt.find("\"\n\t\tx=\"6\"")) - prologue - 44;
        const long long block = 44 + data + 45;
        const long long full = static_cast<long long>(f.receipt.size());
        const std::vector<std::string> args = {"r.svg", "l.txt", "logo.bmp"};
        add(f, args, "logo: in the prologue", prologue - 10);
        add(f, args, "logo: in the image element's start", prologue + 20);
        add(f, args, "logo: in the first data line", prologue + 44 + 30);
        add(f, args, "logo: in the middle of the data", prologue + 44 + data / 2);
        add(f, args, "logo: in the image element's end", prologue + block - 10);
        add(f, args, "logo: in the row after the logo", prologue + block + 5);
        add(f, args, "logo: in the footer", full - 20);
        add(f, args, "logo: exactly enough", full);
    }
    return cases;
}

void run_fault_case(const fault_case &c)
{
    SCOPED_TRACE(c.name);
    scratch_dir d;
    for (const auto &[name, bytes] : c.inputs->files)
        write_file(d / name, bytes);
    if (c.setup != nullptr)
        c.setup(d);
    const tree before = snapshot(d.path);

    tool_options opt;
    opt.fsize_limit = c.fsize_limit;
    opt.stdin_pipe = c.stdin_pipe;
    opt.stdin_data = "hello\n";
    const tool_result r = run_tool(c.args, d.path, opt);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);   // whole: nothing may follow the message

    tree after = snapshot(d.path);
    if (c.receipt != receipt_is::not_written) {
        auto it = after.find("r.svg");
        ASSERT_NE(it, after.end()) << "no receipt";
        EXPECT_EQ(it->second.kind, 'f');
        const std::string &seen = it->second.content;
        const std::string &full = c.inputs->receipt;
        if (c.receipt == receipt_is::cut) {
            EXPECT_LE(static_cast<long long>(seen.size()), c.fsize_limit);
            EXPECT_TRUE(is_start_of(seen, full));
        } else {
            EXPECT_TRUE(same_bytes(seen, full));
        }
        after.erase(it);
    }
    // Inputs byte for byte as before, nothing else created or removed.
    EXPECT_TRUE(same_tree(after, before));
    unlock(d.path);
}

TEST(Fault, RefusalsCreateNothingAndTouchNothing)
{
    const bool root = geteuid() == 0;
    for (const fault_case &c : refusal_cases()) {
        if (c.needs_permissions && root) {
            std::printf("[   NOTE   ] skipped as root: %s\n", c.name.c_str());
            continue;
        }
        run_fault_case(c);
    }
}

TEST(Fault, WriteFailureAtEveryStageEndsWithStatusFour)
{
    for (const fault_case &c : write_cases())
        run_fault_case(c);
}

// Rows of 999 bytes warn in both passes. A write failure in the middle of
// the rows must end the run at once: the writing pass warns only for rows
// it reached, and the failure is the last thing said.
TEST(Fault, WriteFailureEndsTheWritingPassAtOnce)
{
    // Each physical line of 1998 characters and its line feed gives three
    // reads: 999, 999 and the line feed alone (a blank row).
    const int lines = 300;
    const long long reads = 3LL * lines + 1;
    const long long height = 30 * (reads + 2);
    const std::string x999(999, 'x');
    std::string layout;
    std::string warnings;
    std::vector<std::string> warning_lines;
    std::string receipt = expect_prologue(height);
    for (int j = 0; j < lines; ++j) {
        layout += x999 + x999 + "\n";
        for (int k = 1; k <= 2; ++k) {
            const std::string w = "Warn line " + std::to_string(3 * j + k) + " too long!\n";
            warnings += w;
            warning_lines.push_back(w);
            receipt += expect_text('l', "text", 2 * j + k, 30 + 30 * (3 * j + k - 1), x999);
        }
        receipt += "\n";
    }
    receipt += "\n" + expect_footer(height);

    scratch_dir d;
    write_file(d / "l.txt", layout);
    tool_options opt;
    opt.fsize_limit = static_cast<long long>(receipt.size() / 2);
    const tool_result r = run_tool({"r.svg", "l.txt"}, d.path, opt);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "");

    // The counting pass warns for every long read, then the writing pass for
    // a first part of them, then the failure.
    const std::string failure = "Could not write file: r.svg\n";
    ASSERT_GE(r.err.size(), warnings.size() + failure.size()) << r.err.substr(0, 200);
    EXPECT_EQ(r.err.substr(0, warnings.size()), warnings);
    EXPECT_EQ(r.err.substr(r.err.size() - failure.size()), failure);
    const std::string second =
        r.err.substr(warnings.size(), r.err.size() - warnings.size() - failure.size());
    const std::size_t warned =
        static_cast<std::size_t>(std::count(second.begin(), second.end(), '\n'));
    std::string expected_second;
    for (std::size_t i = 0; i < warned && i < warning_lines.size(); ++i)
        expected_second += warning_lines[i];
    EXPECT_EQ(second, expected_second);
    EXPECT_LT(warned, warning_lines.size()) << "the writing pass went on to the end";

    const std::string seen = read_file(d / "r.svg");
    EXPECT_LE(seen.size(), receipt.size() / 2);
    EXPECT_TRUE(is_start_of(seen, receipt));
    const std::size_t written = [&] {
        std::size_t n = 0;
        for (std::size_t at = seen.find("</text>\n"); at != std::string::npos;
             at = seen.find("</text>\n", at + 1))
            ++n;
        return n;
    }();
    EXPECT_GE(warned, written) << "rows on disk that the writing pass did not warn for";
    EXPECT_TRUE(same_bytes(read_file(d / "l.txt"), layout));
}

/* ------------------------------------------------- bytes of every value */

// Layout lines with NUL bytes, lone CRs, control characters and bytes from
// 128 up, each with its rows worked out by hand from the layout rules:
// a read is taken as a C string (text after a NUL is not written), bytes
// 1 to 32 are blank, bytes from 128 up and DEL are not. A read that holds a
// NUL byte, or writes text that is not UTF-8, draws the XML warning. The
// logo is random, so no bitmap: it draws its warning too.
TEST(Fault, ControlAndHighBytesInTheLayoutAndRandomLogo)
{
    using namespace std::string_literals;
    const std::string layout = "ab\0cd\n"s             // 1: "ab"
                               "\0visible?\n"s         // 2: blank
                               "a\rb\n"                // 3: a lone CR stays inside the text
                               "\r\r\n"                // 4: blank
                               "\x01\x02x\x7f\n"       // 5: leading controls go, DEL stays
                               "\x1b[1m\tB\n"          // 6: ESC goes; "[1m", centre "B"
                               "\xff\xfe\t\x80\n"      // 7: high bytes in two columns
                               "\t\0\tX\n"s            // 8: "\t" only: blank
                               "A\t\x01\x02\tB\n"      // 9: centre of controls only: left and right
                               "\x0c\x0b \x1f\n"       // 10: blank
                               " \x85x\xa0 \n"         // 11: "\x85x\xa0"
                               "receipt_id\0junk\n"s   // 12: the field name alone: a tag
                               "\t\tcharge_value\r\n"   // 13: right, a tag
                               "\xc3\xa9\t\0\tZ\n"s     // 14: "\xc3\xa9\t": the TAB is trailing
                               "Q\0"s +
                               std::string(997, 'y') +   // 15: 999 bytes, warned when counting only
                               "\n"                      // 16: blank
                               "end\0"s;                 // 17: "end", no line feed: no further read
    const long long reads = 17;
    const std::string logo = random_bytes(54 * 40 + 17, 11);

    auto L = [](long long n, long long row, const std::string &t, const char *p = "text") {
        return expect_text('l', p, n, 250 + 30 * (row - 1), t);
    };
    auto C = [](long long n, long long row, const std::string &t) {
        return expect_text('c', "text", n, 250 + 30 * (row - 1), t);
    };
    auto R = [](long long n, long long row, const std::string &t, const char *p = "text") {
        return expect_text('r', p, n, 250 + 30 * (row - 1), t);
    };
    const std::string rows = L(1, 1, "ab") + "\n" + L(2, 3, "a\rb") + "\n" + L(3, 5, "x\x7f") +
                             L(4, 6, "[1m") + C(5, 6, "B") + L(6, 7, "\xff\xfe") + C(7, 7, "\x80") +
                             "\n" + L(8, 9, "A") + R(9, 9, "B") + "\n" + L(10, 11, "\x85x\xa0") +
                             L(11, 12, "receipt_id", "tag") + R(12, 13, "charge_value", "tag") +
                             L(13, 14, "\xc3\xa9") + L(14, 15, "Q") + "\n" + L(15, 17, "end");
    const long long height = 30 * (reads + 2) + 250;
    const std::string expected = expect_prologue(height) + expect_logo(logo_data_lines(logo)) +
                                 rows + expect_footer(250 + 30 * reads + 30);

    scratch_dir d;
    write_file(d / "l.txt", layout);
    write_file(d / "logo.bmp", logo);
    const tool_result r = run_tool({"r.svg", "l.txt", "logo.bmp"}, d.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    std::string warnings = "Warn line 15 too long!\nWarn logo is not a BMP file!\n";
    for (int read : {1, 2, 7, 8, 11, 12, 14, 15, 17})
        warnings += "Warn line " + std::to_string(read) + " not valid XML!\n";
    EXPECT_EQ(r.err, warnings);
    EXPECT_TRUE(same_bytes(read_file(d / "r.svg"), expected));
    EXPECT_TRUE(same_bytes(read_file(d / "l.txt"), layout));
    EXPECT_TRUE(same_bytes(read_file(d / "logo.bmp"), logo));
}

bool is_blank_byte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

// A long random layout, mostly control bytes, NULs, TABs, CRs and bytes
// from 128 up, cannot be worked out by hand; its receipt must still have
// the documented structure: the prologue sized by the reads, the logo
// block, then per read either an empty line or one to three text elements
// (left, centre, right) on that row's baseline, numbered on from 0001, each
// text trimmed and non-empty, then the footer on the right baseline.
TEST(Fault, RandomLayoutBytesKeepTheReceiptsStructure)
{
    std::mt19937 gen(2024);
    const char pool[] = {'\0',   '\0',   '\n', '\n',   '\t',   '\t',   '\t',   '\r',
                         '\r',   ' ',    ' ',  '\x01', '\x1b', '\x7f', '\x80', '\xa0',
                         '\xc3', '\xff', 'a',  'Z',    '&',    '<',    '"'};
    std::string layout(300000, '\0');
    for (char &c : layout)
        c = pool[gen() % sizeof pool];
    layout.replace(100000, 5000, std::string(5000, '\x85'));   // some reads of 999 bytes
    const std::string logo = random_bytes(20000, 5);
    const std::vector<std::size_t> sizes = read_sizes(layout);
    const long long reads = static_cast<long long>(sizes.size());

    scratch_dir d;
    write_file(d / "l.txt", layout);
    write_file(d / "logo.bmp", logo);
    const tool_result r = run_tool({"r.svg", "l.txt", "logo.bmp"}, d.path);
    ASSERT_EQ(r.status, 0) << r.err.substr(0, 200);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(same_bytes(read_file(d / "l.txt"), layout));
    EXPECT_TRUE(same_bytes(read_file(d / "logo.bmp"), logo));
    // The counting pass warns for exactly the reads of 999 bytes. The writing
    // pass warns for those of them that trimming leaves at 999 bytes, in
    // order: at least the four that lie wholly inside the run of 0x85.
    std::string counting;
    std::vector<std::string> long_reads;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        if (sizes[i] == 999)
            long_reads.push_back("Warn line " + std::to_string(i + 1) + " too long!\n");
    for (const std::string &w : long_reads)
        counting += w;
    counting += "Warn logo is not a BMP file!\n";   // the logo is random bytes
    ASSERT_EQ(r.err.substr(0, counting.size()), counting);
    std::size_t next = 0;
    std::size_t writing = 0;
    for (std::size_t at = counting.size(); at < r.err.size();) {
        const std::size_t nl = r.err.find('\n', at);
        ASSERT_NE(nl, std::string::npos);
        const std::string w = r.err.substr(at, nl + 1 - at);
        at = nl + 1;
        // Such bytes are seldom XML text; those warnings are not counted here.
        if (w.find(" not valid XML!\n") != std::string::npos)
            continue;
        while (next < long_reads.size() && long_reads[next] != w)
            ++next;
        ASSERT_LT(next, long_reads.size())
            << "writing pass: " << w << "is not one of the long reads, in order";
        ++next;
        ++writing;
    }
    EXPECT_GE(writing, 4u);

    const std::string receipt = read_file(d / "r.svg");
    const std::string head =
        expect_prologue(30 * (reads + 2) + 250) + expect_logo(logo_data_lines(logo));
    const std::string tail = expect_footer(250 + 30 * reads + 30);
    ASSERT_GE(receipt.size(), head.size() + tail.size());
    ASSERT_TRUE(same_bytes(receipt.substr(0, head.size()), head));
    ASSERT_TRUE(same_bytes(receipt.substr(receipt.size() - tail.size()), tail));
    const std::string rows =
        receipt.substr(head.size(), receipt.size() - head.size() - tail.size());
    ASSERT_TRUE(!rows.empty() && rows.back() == '\n');

    long long row = 0;     // rows finished
    bool in_row = false;   // a row with text is open
    int last_column = -1;
    long long next_number = 1;
    const char *const columns[] = {"0", "288", "575"};
    for (std::size_t at = 0; at < rows.size();) {
        const std::size_t nl = rows.find('\n', at);
        const std::string line = rows.substr(at, nl - at + 1);
        at = nl + 1;
        if (line == "\n") {
            row += in_row ? 2 : 1;
            in_row = false;
            continue;
        }
        // The text starts after the head; the head ends at the first
        // font-size attribute, which the text cannot come before.
        const std::string head_end = "font-size=\"30px\">";
        const std::size_t h = line.find(head_end);
        ASSERT_NE(h, std::string::npos) << excerpt(line, 0);
        ASSERT_GE(line.size(), h + head_end.size() + 8);
        const std::string text =
            line.substr(h + head_end.size(), line.size() - h - head_end.size() - 8);
        long long number = 0;
        long long y = 0;
        char x[8] = "";
        ASSERT_EQ(std::sscanf(line.c_str(), "\t<text id=\"text%lld\" x=\"%7[0-9]\" y=\"%lld\"",
                              &number, x, &y),
                  3)
            << excerpt(line, 0);
        const int column =
            static_cast<int>(std::find_if(std::begin(columns), std::end(columns),
                                          [&](const char *c) { return std::strcmp(c, x) == 0; }) -
                             std::begin(columns));
        ASSERT_LT(column, 3) << excerpt(line, 0);
        if (in_row && (y != 250 + 30 * row || column <= last_column)) {
            ++row;
            in_row = false;
        }
        EXPECT_EQ(y, 250 + 30 * row) << "element " << next_number;
        EXPECT_TRUE(same_bytes(line, expect_text("lcr"[column], "text", next_number, y, text)));
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(!text.empty() && !is_blank_byte(text.front()) && !is_blank_byte(text.back()))
            << "untrimmed text in element " << next_number << ": " << excerpt(text, 0);
        EXPECT_EQ(text.find('\0'), std::string::npos);
        ++next_number;
        in_row = true;
        last_column = column;
    }
    if (in_row)
        ++row;
    EXPECT_EQ(row, reads);
    EXPECT_GT(next_number, 1000) << "the layout gave too few text elements to tell anything";
}

}   // namespace

/* ------------------------------------------ a layout past 32-bit geometry */

namespace {

// Bytes [from, from + n) of a file.
std::string read_range(const std::string &path, long long from, std::size_t n)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(from);
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    s.resize(static_cast<std::size_t>(in.gcount()));
    return s;
}

// Whether bytes [from, to) of a file are all line feeds, read in blocks.
bool all_line_feeds(const std::string &path, long long from, long long to)
{
    const std::size_t block = 1 << 20;
    const std::string feeds(block, '\n');
    std::string buf(block, '\0');
    std::ifstream in(path, std::ios::binary);
    in.seekg(from);
    for (long long left = to - from; left > 0;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<long long>(left, static_cast<long long>(block)));
        if (!in.read(buf.data(), static_cast<std::streamsize>(n)))
            return false;
        if (std::memcmp(buf.data(), feeds.data(), n) != 0)
            return false;
        left -= static_cast<long long>(n);
    }
    return true;
}

// 72,000,000 line feeds give 72,000,001 reads (the last one empty, at the end
// of the file), all blank rows. The height, 30 * (reads + 2), and the
// footer's baseline pass 2^31 - 1 from 71,582,787 reads on, so the receipt
// shows whether the run's geometry is wider than 32 bits.
TEST(FaultSlow, LayoutOfMoreThan71582786ReadsKeepsItsGeometry)
{
    const long long feeds = 72000000;
    const long long reads = feeds + 1;
    const long long height = 30 * (reads + 2);
    ASSERT_EQ(height, 2160000090LL);

    scratch_dir d;
    {
        const std::string block(1000000, '\n');
        std::ofstream out(d / "l.txt", std::ios::binary);
        for (long long i = 0; i < feeds / 1000000; ++i)
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        ASSERT_TRUE(out.good());
    }
    const tool_result r = run_tool({"r.svg", "l.txt"}, d.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    // The prologue, one empty line per read, the footer on the bottom edge.
    const std::string receipt = d / "r.svg";
    const std::string prologue = expect_prologue(height);
    const std::string footer = expect_footer(height);
    const long long size =
        static_cast<long long>(prologue.size()) + reads + static_cast<long long>(footer.size());
    ASSERT_TRUE(file_exists(receipt));
    EXPECT_EQ(static_cast<long long>(fs::file_size(receipt)), size);
    EXPECT_TRUE(same_bytes(read_range(receipt, 0, prologue.size()), prologue));
    EXPECT_TRUE(same_bytes(
        read_range(receipt, size - static_cast<long long>(footer.size()), footer.size() + 1),
        footer));
    EXPECT_TRUE(all_line_feeds(receipt, static_cast<long long>(prologue.size()),
                               size - static_cast<long long>(footer.size())));

    EXPECT_EQ(static_cast<long long>(fs::file_size(d / "l.txt")), feeds);
    EXPECT_TRUE(all_line_feeds(d / "l.txt", 0, feeds));
}

}   // namespace
