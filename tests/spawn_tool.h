// spawn_tool.h - run a program and capture its exit status, standard output
// and standard error, on Linux and on Windows alike. Paths and arguments are
// UTF-8 everywhere; on Windows they reach the program as UTF-16, the way a
// command prompt passes them.

#ifndef GEN_XML_TESTS_SPAWN_TOOL_H
#define GEN_XML_TESTS_SPAWN_TOOL_H

#include <filesystem>
#include <string>
#include <vector>

struct spawn_result {
    int status;        // the exit status; -1 when the program could not be run
    std::string out;   // standard output, byte for byte
    std::string err;   // standard error, byte for byte
};

// Run `program` with the argument vector `argv` (argv[0] is the name the
// program sees as its own) in the directory `dir`, standard input empty.
spawn_result spawn_tool(const std::string &program, const std::vector<std::string> &argv,
                        const std::filesystem::path &dir);

// A UTF-8 name as a path (a plain std::string would be read in the ANSI
// code page on Windows).
std::filesystem::path u8path(const std::string &utf8);

// Whole files, in binary.
std::string read_bytes(const std::filesystem::path &path);
void write_bytes(const std::filesystem::path &path, const std::string &bytes);

// A fresh scratch directory under the system's temporary directory, removed
// with everything in it when the test ends.
struct scratch {
    std::filesystem::path path;
    scratch();
    ~scratch();
    scratch(const scratch &) = delete;
    scratch &operator=(const scratch &) = delete;
    std::filesystem::path operator/(const std::string &utf8) const { return path / u8path(utf8); }
};

#endif
