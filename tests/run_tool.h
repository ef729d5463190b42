// run_tool.h - run the built gen_xml in a scratch directory and capture
// everything it does: exit status, standard output, standard error. POSIX
// only (file-size limits, a pipe for standard input, a wrapper such as
// strace); files and scratch directories are spawn_tool.h's, as strings.

#ifndef GEN_XML_TESTS_RUN_TOOL_H
#define GEN_XML_TESTS_RUN_TOOL_H

#include <string>
#include <vector>

#include "spawn_tool.h"

struct tool_result {
    int status;        // exit status, or 128 + signal number
    std::string out;   // standard output
    std::string err;   // standard error
};

struct tool_options {
    std::string argv0 = "gen_xml";   // the program name as invoked
    long long fsize_limit = -1;      // RLIMIT_FSIZE in bytes, -1 for none
    bool stdin_pipe = false;         // standard input is a pipe fed with stdin_data
    std::string stdin_data;

    // A program and its arguments that run the tool (such as strace and its
    // options), looked up in PATH; the tool's path and `args` follow them,
    // and argv0 is not used. Empty: the tool is run directly.
    std::vector<std::string> wrapper;
};

// Run gen_xml with `args` (not counting the program name) in `dir`.
tool_result run_tool(const std::vector<std::string> &args, const std::string &dir,
                     const tool_options &opt = {});

// A fresh scratch directory, removed with everything in it when the test
// ends; paths in it as strings.
struct scratch_dir {
    scratch dir;
    std::string path = dir.path.string();
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// Whole files, in binary.
inline std::string read_file(const std::string &path)
{
    return read_bytes(u8path(path));
}
inline void write_file(const std::string &path, const std::string &bytes)
{
    write_bytes(u8path(path), bytes);
}
bool file_exists(const std::string &path);   // lstat: a dangling link exists

// n bytes of every value, the same for the same seed on every platform.
std::string random_bytes(std::size_t n, unsigned seed);

#endif
