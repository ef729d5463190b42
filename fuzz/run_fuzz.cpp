// libFuzzer target for a whole run of gen_xml: the real main(), compiled
// under another name, on a layout and an optional logo made of the input.
//
// Input: the first byte chooses the run.
//   odd   the rest is cut in two at a point chosen by its first byte: the
//         layout before the cut, the logo after it; three paths.
//   even  the rest is the layout; two paths, no logo.
// The inputs are always readable regular files and the receipt path is
// always new, so every run must end with status 0 and a receipt that
// closes its svg element. Beyond that the receipt's height and the
// footer's baseline must agree: equal without a logo, 30 apart with one.
// Warnings go to standard error; run with -close_fd_mask=3 to hide them.

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int gen_xml_main(int argc, char **argv);

namespace {

[[noreturn]] void fail()
{
    __builtin_trap();
}

const char *const file_names[] = {"/r.svg", "/l.txt", "/logo.bmp"};

// The scratch directory, made once per process and removed at its exit.
const std::string &scratch()
{
    static const std::string dir = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string templ =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/run_fuzz.XXXXXX";
        if (mkdtemp(templ.data()) == nullptr)
            fail();
        return templ;
    }();
    static const bool cleanup_registered = [] {
        return std::atexit([] {
                   for (const char *name : file_names)
                       std::remove((dir + name).c_str());
                   rmdir(dir.c_str());
               }) == 0;
    }();
    (void)cleanup_registered;
    return dir;
}

void put(const std::string &path, const std::uint8_t *data, std::size_t n)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        fail();
    if (n > 0 && std::fwrite(data, 1, n, f) != n)
        fail();
    if (std::fclose(f) != 0)
        fail();
}

std::string slurp(const std::string &path)
{
    std::string s;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        fail();
    char buf[4096];
    for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;)
        s.append(buf, got);
    std::fclose(f);
    return s;
}

// The number after `key` in `s` (searched from the start or from the end).
long long number_after(const std::string &s, const char *key, bool from_end)
{
    const std::size_t at = from_end ? s.rfind(key) : s.find(key);
    if (at == std::string::npos)
        fail();
    return std::strtoll(s.c_str() + at + std::strlen(key), nullptr, 10);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool with_logo = (data[0] & 1) != 0;
    const std::uint8_t *rest = data + 1;
    const std::size_t n = size - 1;
    const std::size_t cut = !with_logo ? n : n == 0 ? 0 : (rest[0] * 257u) % (n + 1);

    const std::string &dir = scratch();
    const std::string receipt = dir + file_names[0];
    const std::string layout = dir + file_names[1];
    const std::string logo = dir + file_names[2];
    put(layout, rest, cut);
    if (with_logo)
        put(logo, rest + cut, n - cut);

    char *argv[] = {const_cast<char *>("gen_xml"), const_cast<char *>(receipt.c_str()),
                    const_cast<char *>(layout.c_str()), const_cast<char *>(logo.c_str()), nullptr};
    const int status = gen_xml_main(with_logo ? 4 : 3, argv);
    if (status != 0)
        fail();

    const std::string svg = slurp(receipt);
    if (unlink(receipt.c_str()) != 0)
        fail();
    const std::string end = "</svg>\n";
    if (svg.size() < end.size() || svg.compare(svg.size() - end.size(), end.size(), end) != 0)
        fail();
    if (svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0) != 0)
        fail();
    const long long height = number_after(svg, "\n   height=\"", false);
    const long long footer_y = number_after(svg, "<text id=\"text9999\" x=\"288\" y=\"", true);
    if (footer_y != height - (with_logo ? 30 : 0))
        fail();
    return 0;
}
