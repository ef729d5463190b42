// spawn_tool.cpp - the process runner of spawn_tool.h: CreateProcessW on
// Windows, fork and execv elsewhere. Standard output and standard error go
// to files beside the scratch directory and are read back after the exit, so
// neither stream can block the other.

#include "spawn_tool.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path u8path(const std::string &utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string read_bytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

namespace {

int process_id()
{
#ifdef _WIN32
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}

// A directory of its own for every call, so tests never see each other's
// files; run in parallel, test programs differ by process id.
fs::path fresh_temp_dir(const char *what)
{
    static std::atomic<int> counter{0};
    std::ostringstream name;
    name << "gen_xml-" << what << "-" << process_id() << "-" << counter++;
    fs::path p = fs::temp_directory_path() / name.str();
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

#ifdef _WIN32

std::wstring widen(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

// One argument quoted so that the C runtime's command-line parser gives it
// back unchanged: backslashes count only before a double quote.
void append_quoted(std::wstring &line, const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

HANDLE inheritable(const fs::path &path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int run(const std::string &program, const std::vector<std::string> &argv, const fs::path &dir,
        const fs::path &out, const fs::path &err)
{
    std::wstring line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0)
            line += L' ';
        append_quoted(line, widen(argv[i]));
    }
    HANDLE in_h = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out_h = inheritable(out, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err_h = inheritable(err, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_h;
    si.hStdOutput = out_h;
    si.hStdError = err_h;
    PROCESS_INFORMATION pi{};
    const std::wstring app = widen(program);
    const BOOL started = CreateProcessW(app.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, dir.c_str(), &si, &pi);
    CloseHandle(in_h);
    CloseHandle(out_h);
    CloseHandle(err_h);
    if (!started)
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

#else

int run(const std::string &program, const std::vector<std::string> &argv, const fs::path &dir,
        const fs::path &out, const fs::path &err)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int in_fd = open("/dev/null", O_RDONLY);
        const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
            dup2(err_fd, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        execv(program.c_str(), args.data());
        _exit(127);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(wstatus))
        return WEXITSTATUS(wstatus);
    return 128 + WTERMSIG(wstatus);
}

#endif

}   // namespace

spawn_result spawn_tool(const std::string &program, const std::vector<std::string> &argv,
                        const fs::path &dir)
{
    const fs::path streams = fresh_temp_dir("streams");
    spawn_result r{run(program, argv, dir, streams / "out", streams / "err"), "", ""};
    if (fs::exists(streams / "out"))
        r.out = read_bytes(streams / "out");
    if (fs::exists(streams / "err"))
        r.err = read_bytes(streams / "err");
    fs::remove_all(streams);
    return r;
}

scratch::scratch() : path(fresh_temp_dir("e2e")) {}

scratch::~scratch()
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}
