// io_error_test.cpp - the built gen_xml meeting I/O errors once its files
// are open: a failing read of the layout in the counting pass or the
// writing pass, a failing read of the logo, a failing close of the receipt.
//
// Such errors cannot be made with ordinary files, so strace injects them: it
// runs the tool and makes the N-th read (or every close) on one path fail
// with EIO. Which reads there are is learnt first from a run under strace
// without injection, so the tests hold whatever the sizes of the tool's
// reads. Each injected run must end with the documented message and status
// 4, never 0 or 3, and leave on disk the start of the complete receipt.
// The tests skip themselves where strace is missing or may not trace.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "compare.h"
#include "expect.h"
#include "read_ahead.h"
#include "run_tool.h"

namespace {

namespace fs = std::filesystem;

/* ------------------------------------------------------------------ strace */

// Empty when strace can inject a read error here; otherwise why not. The
// probe is cat reading a file whose read is made to fail.
std::string strace_unusable()
{
    if (std::system("command -v strace >/dev/null 2>&1") != 0)
        return "strace is not installed";
    scratch_dir d;
    write_file(d / "probe", "probe\n");
    const std::string cmd = "cd '" + d.path +
                            "' && strace -o /dev/null -e trace=read -e inject=read:error=EIO -P "
                            "\"$PWD/probe\" -- cat probe >/dev/null 2>err";
    if (std::system(cmd.c_str()) == 0)
        return "strace ran cat, but the injected read error did not reach it";
    const std::string err = file_exists(d / "err") ? read_file(d / "err") : "";
    if (err.find("Input/output error") != std::string::npos)
        return "";
    return "strace cannot inject faults here: " + err.substr(0, err.find('\n'));
}

#define SKIP_WITHOUT_STRACE()                                                                      \
    do {                                                                                           \
        static const std::string unusable = strace_unusable();                                     \
        if (!unusable.empty())                                                                     \
            GTEST_SKIP() << unusable;                                                              \
    } while (0)

// One system call on a traced path, as strace -y prints it.
struct traced_call {
    std::string name;   // "read", "lseek" or "openat"
    std::string path;   // the file the call works on
    long long result;
    bool creates;   // an openat that creates its file
};

// Parse strace -y output: `read(3</dir/l.txt>, "..."..., 4096) = 4096`,
// `openat(AT_FDCWD, "/dir/r.svg", O_RDWR|O_CREAT|..., 0666) = 5</dir/r.svg>`.
std::vector<traced_call> parse_trace(const std::string &trace)
{
    std::vector<traced_call> calls;
    std::size_t at = 0;
    while (at < trace.size()) {
        std::size_t nl = trace.find('\n', at);
        if (nl == std::string::npos)
            nl = trace.size();
        const std::string line = trace.substr(at, nl - at);
        at = nl + 1;
        const std::size_t paren = line.find('(');
        const std::size_t eq = line.rfind(") = ");
        if (paren == std::string::npos || eq == std::string::npos)
            continue;
        traced_call c{line.substr(0, paren), "", std::atoll(line.c_str() + eq + 4), false};
        if (c.name == "openat") {
            const std::size_t q = line.find('"');
            c.path = line.substr(q + 1, line.find('"', q + 1) - q - 1);
            c.creates = line.find("O_CREAT") != std::string::npos;
        } else {
            const std::size_t lt = line.find('<', paren);
            c.path = line.substr(lt + 1, line.find('>', lt) - lt - 1);
        }
        calls.push_back(c);
    }
    return calls;
}

// The reads of one file, numbered from 1 in the order strace counts them
// for `when=N`, and where they fall in the run.
struct file_reads {
    std::vector<long long> results;       // what each read returned
    std::vector<int> after_create;        // the numbers of the reads after the receipt exists
    std::vector<int> counting, writing;   // of those: before the layout's last rewind, after it
};

// Run the tool under strace without injecting anything and sort the reads
// of `path`.
file_reads reads_of(const std::string &path, const std::vector<std::string> &args,
                    const std::string &dir, const std::string &layout_path)
{
    const std::string trace_file = dir + "/trace.txt";
    std::vector<std::string> wrapper = {"strace",   "-y", "-o",
                                        trace_file, "-e", "trace=read,lseek,openat"};
    for (const std::string &a : args) {
        wrapper.push_back("-P");
        wrapper.push_back(a);
    }
    wrapper.push_back("--");
    tool_options opt;
    opt.wrapper = wrapper;
    const tool_result r = run_tool(args, dir, opt);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<traced_call> calls = parse_trace(read_file(trace_file));
    fs::remove(trace_file);
    fs::remove(args[0]);

    std::size_t last_rewind = 0;
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i].name == "lseek" && calls[i].path == layout_path)
            last_rewind = i;
    file_reads fr;
    bool created = false;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const traced_call &c = calls[i];
        created = created || c.creates;
        if (c.name != "read" || c.path != path)
            continue;
        fr.results.push_back(c.result);
        const int number = static_cast<int>(fr.results.size());
        if (created) {
            fr.after_create.push_back(number);
            (i < last_rewind ? fr.counting : fr.writing).push_back(number);
        }
    }
    return fr;
}

// Run the tool with the n-th `call` on `path` failing with EIO (n 0: every
// one) and return what it did and what it left at the receipt path.
struct injected_run {
    tool_result r;
    std::string receipt;
};

injected_run run_injected(const std::vector<std::string> &args, const std::string &dir,
                          const std::string &call, const std::string &path, int n)
{
    tool_options opt;
    opt.wrapper = {"strace",
                   "-o",
                   "/dev/null",
                   "-e",
                   "trace=" + call,
                   "-e",
                   "inject=" + call + ":error=EIO:when=" + (n > 0 ? std::to_string(n) : "1+"),
                   "-P",
                   path,
                   "--"};
    injected_run run{run_tool(args, dir, opt), ""};
    if (file_exists(args[0])) {
        run.receipt = read_file(args[0]);
        fs::remove(args[0]);
    }
    return run;
}

/* ---------------------------------------------------------------- fixtures */

// A scratch directory by its real path: strace matches the paths it is
// given against the real paths of the files the tool opens.
struct real_dir {
    scratch_dir d;
    std::string path = fs::canonical(d.path).string();
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// A layout of rows in three columns, larger than two read-aheads and than
// 64 KiB (so that both passes make several reads whatever buffers the
// stream uses), and its complete receipt, under `logo` if it is given.
struct layout_fixture {
    std::string layout;
    std::string receipt;
    long long height;
};

layout_fixture rows_layout(const std::string *logo = nullptr)
{
    layout_fixture f;
    const std::size_t size = std::max<std::size_t>(2 * read_ahead + read_ahead / 2, 1 << 16);
    const long long first_baseline = logo != nullptr ? 250 : 30;
    std::string elements;
    long long n = 0;
    for (; f.layout.size() < size; ++n) {
        const std::string item = "Item " + std::to_string(n);
        const std::string price = std::to_string(n % 97) + ".50";
        f.layout += item + "\tcharge_value\t" + price + "\n";
        const long long y = first_baseline + 30 * n;
        elements += expect_text('l', "text", 3 * n + 1, y, item);
        elements += expect_text('c', "tag", 3 * n + 2, y, "charge_value");
        elements += expect_text('r', "text", 3 * n + 3, y, price);
    }
    const long long reads = n + 1;   // the last, empty read is a row too
    f.height = 30 * (reads + 2) + (logo != nullptr ? 250 : 0);
    f.receipt = expect_prologue(f.height) +
                (logo != nullptr ? expect_logo(logo_data_lines(*logo)) : "") + elements + "\n" +
                expect_footer(first_baseline + 30 * reads + 30);
    return f;
}

/* ------------------------------------------------------------------- tests */

// Every read of the layout once the receipt exists fails in turn: in the
// counting pass nothing can have been written yet (the prologue needs the
// count); in the writing pass the prologue and the rows before the failure
// are on disk. Each pass must make at least two reads that get bytes, so
// that errors after the first fill are met too.
TEST(IoError, LayoutReadErrorInEitherPassEndsWithStatusFour)
{
    SKIP_WITHOUT_STRACE();
    const layout_fixture f = rows_layout();
    real_dir d;
    const std::string layout = d / "l.txt";
    write_file(layout, f.layout);
    const std::vector<std::string> args = {d / "r.svg", layout};

    const file_reads fr = reads_of(layout, args, d.path, layout);
    auto with_bytes = [&](const std::vector<int> &numbers) {
        int k = 0;
        for (int n : numbers)
            k += fr.results[static_cast<std::size_t>(n - 1)] > 0;
        return k;
    };
    ASSERT_GE(with_bytes(fr.counting), 2) << "the counting pass made too few reads";
    ASSERT_GE(with_bytes(fr.writing), 2) << "the writing pass made too few reads";

    const std::string prologue = expect_prologue(f.height);
    for (const int n : fr.after_create) {
        const bool counting =
            std::find(fr.counting.begin(), fr.counting.end(), n) != fr.counting.end();
        SCOPED_TRACE(std::string(counting ? "counting" : "writing") + " pass, read " +
                     std::to_string(n) + " of the layout (it returned " +
                     std::to_string(fr.results[static_cast<std::size_t>(n - 1)]) + ")");
        const injected_run run = run_injected(args, d.path, "read", layout, n);
        EXPECT_EQ(run.r.status, 4);
        EXPECT_EQ(run.r.out, "");
        EXPECT_EQ(run.r.err, "Could not read file: " + layout + "\n");
        EXPECT_TRUE(is_start_of(run.receipt, f.receipt));
        EXPECT_LT(run.receipt.size(), f.receipt.size());
        if (counting) {
            EXPECT_EQ(run.receipt, "") << "written before the count was known";
        } else {
            EXPECT_GE(run.receipt.size(), prologue.size()) << "the prologue is not on disk";
        }
        EXPECT_TRUE(same_bytes(read_file(layout), f.layout));
    }
}

// Every read of the logo once the receipt exists fails in turn, for an empty
// logo (its first read gets nothing) and for one of several blocks. With a
// stream buffer, a block is read partly straight into the tool's buffer and
// partly through the stream's own, so that a failing read can come after
// the same block read got bytes: a read error after a partial block, which
// must not pass for the end of the file.
TEST(IoError, LogoReadErrorAtAnyReadEndsWithStatusFour)
{
    SKIP_WITHOUT_STRACE();
    for (const std::size_t size : {std::size_t{0}, std::size_t{100001}}) {
        SCOPED_TRACE("logo of " + std::to_string(size) + " bytes");
        const std::string logo = random_bytes(size, 3);
        const std::string full = expect_prologue(370) + expect_logo(logo_data_lines(logo)) +
                                 expect_text('l', "text", 1, 250, "hello") + "\n" +
                                 expect_footer(340);
        real_dir d;
        const std::string layout = d / "l.txt";
        const std::string logo_path = d / "logo.bmp";
        write_file(layout, "hello\n");
        write_file(logo_path, logo);
        const std::vector<std::string> args = {d / "r.svg", layout, logo_path};

        const file_reads fr = reads_of(logo_path, args, d.path, layout);
        ASSERT_GE(fr.after_create.size(), size > 0 ? 3u : 1u) << "too few logo reads";
        const std::string before_logo = expect_prologue(370);
        for (const int n : fr.after_create) {
            SCOPED_TRACE("read " + std::to_string(n) + " of the logo (it returned " +
                         std::to_string(fr.results[static_cast<std::size_t>(n - 1)]) + ")");
            const injected_run run = run_injected(args, d.path, "read", logo_path, n);
            EXPECT_EQ(run.r.status, 4);
            EXPECT_EQ(run.r.out, "");
            EXPECT_EQ(run.r.err, "Could not read file: " + logo_path + "\n");
            EXPECT_TRUE(is_start_of(run.receipt, full));
            EXPECT_GE(run.receipt.size(), before_logo.size()) << "the prologue is not on disk";
            EXPECT_EQ(run.receipt.find("height=\"220\" />"), std::string::npos)
                << "the logo block was finished";
            EXPECT_TRUE(same_bytes(read_file(logo_path), logo));
        }
    }
}

// Every byte reaches the receipt, but closing it fails: the run must not
// report success. The bytes written stay, all of them.
TEST(IoError, FailingCloseOfTheReceiptEndsWithStatusFour)
{
    SKIP_WITHOUT_STRACE();
    const std::string logo = "BM" + random_bytes(4998, 9);   // a bitmap's start: no warning
    for (const bool with_logo : {false, true}) {
        SCOPED_TRACE(with_logo ? "with a logo" : "without a logo");
        const layout_fixture f = rows_layout(with_logo ? &logo : nullptr);
        real_dir d;
        write_file(d / "l.txt", f.layout);
        std::vector<std::string> args = {d / "r.svg", d / "l.txt"};
        if (with_logo) {
            write_file(d / "logo.bmp", logo);
            args.push_back(d / "logo.bmp");
        }
        const injected_run run = run_injected(args, d.path, "close", d / "r.svg", 0);
        EXPECT_EQ(run.r.status, 4);
        EXPECT_EQ(run.r.out, "");
        EXPECT_EQ(run.r.err, "Could not write file: " + (d / "r.svg") + "\n");
        EXPECT_TRUE(same_bytes(run.receipt, f.receipt)) << "the bytes written before the close";
    }
}

}   // namespace
