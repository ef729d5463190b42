// gen_xml - write an SVG receipt template from a text layout and a logo.
//
//   gen_xml output_receipt text_source [path_to_image]
//
// Each line of the layout becomes one printed row; TABs divide it into left,
// centre and right columns. The receipt is created new (an existing file is
// never overwritten), sized from a first pass over the layout, and written
// in a second pass. See gen_xml.1 for the layout format and exit statuses.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "layout.h"
#include "logo.h"
#include "receipt.h"

/* ---------------------------------------------------------- Windows paths */

// Windows hands a program its arguments as UTF-16; the narrow argv of main()
// would carry them in the ANSI code page, which cannot hold every name (a
// Chinese file name on a Western system) and spells the rest in other bytes
// than Linux does. So on Windows the run starts at wmain(), which turns the
// arguments into UTF-8, and files are opened by turning a UTF-8 path back
// into UTF-16. Messages then print every path in the same bytes as on Linux.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

// The longest command line Windows passes is 32767 UTF-16 units; one unit
// takes at most three UTF-8 bytes, and each argument one more for its NUL.
constexpr int wide_path_max = 32768;
static char arg_bytes[3 * wide_path_max + wide_path_max];
static char *arg_vector[wide_path_max + 1];

// Open a file named by a UTF-8 path, as std::fopen would with "r", "rb" or
// "w+x". The C runtime's fopen knows no "x" in every version, so the receipt
// is created with _O_EXCL, in text mode, and then given a stream.
static std::FILE *open_file(const char *path, const char *mode)
{
    static wchar_t wide[wide_path_max];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, wide_path_max) == 0) {
        errno = ENOENT;
        return nullptr;
    }
    if (mode[0] == 'w') {
        const int fd = _wopen(wide, _O_RDWR | _O_CREAT | _O_EXCL | _O_TEXT, _S_IREAD | _S_IWRITE);
        if (fd < 0)
            return nullptr;
        std::FILE *f = _wfdopen(fd, L"w+");
        if (f == nullptr)
            _close(fd);
        return f;
    }
    return _wfopen(wide, mode[1] == 'b' ? L"rb" : L"r");
}
#else
static std::FILE *open_file(const char *path, const char *mode)
{
    return std::fopen(path, mode);
}
#endif

/* --------------------------------------------------------------- messages */

constexpr char msg_usage[] = "usage: %s output_receipt text_source [path_to_image]\n";
constexpr char msg_open[] = "Could not open file: %s\n";
constexpr char msg_exists[] = "File already exist: %s\n";
constexpr char msg_create[] = "Could not create file: %s\n";
constexpr char msg_read[] = "Could not read file: %s\n";
constexpr char msg_write[] = "Could not write file: %s\n";
constexpr char msg_long_line[] = "Warn line %lld too long!\n";
constexpr char msg_encode[] = "Image encode error\n";
constexpr char msg_not_xml[] = "Warn line %lld not valid XML!\n";
constexpr char msg_not_bmp[] = "Warn logo is not a BMP file!\n";
constexpr char msg_extra_args[] = "Warn too many arguments, no logo!\n";

enum exit_status {
    status_ok = 0,
    status_usage = 1,
    status_file = 3,     // cannot open an input, receipt exists or cannot be created
    status_io = 4,       // read or write error once the receipt exists
    status_encode = 5,   // the logo could not be encoded
};

/* ---------------------------------------------------------------- helpers */

static void close_quietly(std::FILE *f)
{
    std::fclose(f);
}

// Streams close themselves whichever way the run ends; the receipt is
// closed explicitly on success, where the close must be checked.
using file_ptr = std::unique_ptr<std::FILE, void (*)(std::FILE *)>;

// The one way a run fails: a line on standard error and the exit status.
// When the receipt exists, what was written so far is flushed to it first,
// so that it stays on disk as written up to the failure.
static int fail(int status, const char *format, const char *path, receipt_out *out = nullptr)
{
    if (out != nullptr)
        receipt_flush(out);
    std::fprintf(stderr, format, path);
    return status;
}

static void warn_long_line(long long read_number)
{
    std::fprintf(stderr, msg_long_line, read_number);
}

// Open an input file and make sure it can be read as a file: a directory
// opens but fails its first read, and a pipe cannot be rewound for the
// second pass. Either way the run must refuse it before any receipt exists.
static file_ptr open_input(const char *path, const char *mode, bool must_seek)
{
    file_ptr f{open_file(path, mode), close_quietly};
    if (!f)
        return f;
    int c = std::getc(f.get());
    if (std::ferror(f.get()))
        f.reset();
    else if (c != EOF && std::ungetc(c, f.get()) == EOF)
        f.reset();
    else if (must_seek && std::fseek(f.get(), 0, SEEK_SET) != 0)
        f.reset();
    else
        std::clearerr(f.get());
    return f;
}

/* -------------------------------------------------------------------- run */

static int run(int argc, char **argv)
{
    // 0. A file-size limit must end in "Could not write file", not in a
    //    silent kill halfway through the receipt: with SIGXFSZ ignored, the
    //    write that crosses the limit fails and is reported.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    // 1. Arguments: receipt and layout, and a logo only when exactly three
    //    paths are given; a fourth path turns the logo off, which is
    //    worth a warning: it is mostly a logo path with an unquoted space.
    if (argc < 3) {
        std::printf(msg_usage, argc > 0 && argv[0] != nullptr ? argv[0] : "gen_xml");
        return status_usage;
    }
    if (argc > 4)
        std::fputs(msg_extra_args, stderr);
    const bool has_image = argc == 4;
    const char *receipt_path = argv[1];
    const char *layout_path = argv[2];
    const char *logo_path = has_image ? argv[3] : nullptr;

    // 2. Inputs first, so that a bad input never leaves a receipt behind.
    file_ptr layout = open_input(layout_path, "r", true);
    if (!layout)
        return fail(status_file, msg_open, layout_path);
    file_ptr logo{nullptr, close_quietly};
    if (has_image) {
        logo = open_input(logo_path, "rb", false);
        if (!logo)
            return fail(status_file, msg_open, logo_path);
    }

    // 3. The receipt must be new. The read probe catches readable files;
    //    exclusive creation catches the rest (no read permission, a dangling
    //    symbolic link), so nothing is ever truncated or written through.
    if (file_ptr probe{open_file(receipt_path, "rb"), close_quietly})
        return fail(status_file, msg_exists, receipt_path);
    file_ptr receipt{open_file(receipt_path, "w+x"), close_quietly};
    if (!receipt)
        return fail(status_file, errno == EEXIST ? msg_exists : msg_create, receipt_path);
    static receipt_out out;
    receipt_attach(&out, receipt.get());

    // 4. Counting pass: every read is a row, the last empty one included.
    static layout_file lf;
    static char line_buffer[line_buffer_size];
    layout_attach(&lf, layout.get());
    const long long line_count = layout_count(&lf, warn_long_line);
    if (line_count < 0)
        return fail(status_io, msg_read, layout_path, &out);
    if (layout_rewind(&lf) != 0)
        return fail(status_io, msg_read, layout_path, &out);

    // 5. Prologue, sized by the count, and the logo block.
    long long baseline = first_baseline;
    long long element_number = 1;
    write_prologue(&out, receipt_height(line_count, has_image));
    bool is_bmp = false;
    if (has_image) {
        switch (write_logo(logo.get(), &out, line_buffer, line_buffer_size - 1, &is_bmp)) {
        case logo_result::ok:
            break;
        case logo_result::encode_error:
            return fail(status_encode, msg_encode, "", &out);
        case logo_result::read_error:
            return fail(status_io, msg_read, logo_path, &out);
        }
        baseline += logo_shift;
    }
    if (out.failed)
        return fail(status_io, msg_write, receipt_path);
    if (has_image && !is_bmp)
        std::fputs(msg_not_bmp, stderr);   // embedded all the same

    // 6. Writing pass: one text element per non-empty field, an empty line
    //    for a blank row, every row 30 units below the last. A row whose
    //    text would break the receipt's XML is written all the same, with
    //    one warning for its read.
    long long read_number = 0;
    do {
        layout_row row;
        const int len = layout_next_row(&lf, line_buffer, &row);
        if (len < 0)
            return fail(status_io, msg_read, layout_path, &out);
        ++read_number;
        if (len > line_warn_above)
            warn_long_line(read_number);
        bool plain = true;
        if (len == 0)
            write_blank(&out);
        else
            plain = write_row(&out, row.field, row.len, &element_number, baseline);
        // Text is written as it stands: text that is no XML breaks the
        // receipt, and a NUL byte (UTF-16, binary data) cuts the row short.
        if (row.has_nul || (!plain && !fields_are_xml_text(row.field, row.len)))
            std::fprintf(stderr, msg_not_xml, read_number);
        baseline += row_pitch;
        if (out.failed)
            return fail(status_io, msg_write, receipt_path);
    } while (!lf.eof);

    // 7. Footer, then a checked close: status 0 only when every byte landed.
    baseline += row_pitch;
    write_footer(&out, baseline);
    receipt.release();   // receipt_close closes the stream itself
    if (receipt_close(&out) != 0)
        return fail(status_io, msg_write, receipt_path);
    return status_ok;
}

/* ------------------------------------------------------------ entry point */

#ifdef _WIN32
// The arguments as UTF-8, then the same run as everywhere else. A name that
// is not valid UTF-16 (a lone surrogate) cannot be written in UTF-8 and
// reaches the run with U+FFFD in its place, so it is not found.
int wmain(int argc, wchar_t **wargv)
{
    int used = 0;
    for (int i = 0; i < argc && i < wide_path_max; ++i) {
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, arg_bytes + used,
                                static_cast<int>(sizeof arg_bytes) - used, nullptr, nullptr);
        arg_vector[i] = arg_bytes + used;
        if (n == 0)
            arg_bytes[used++] = '\0';   // cannot happen for a real command line
        used += n;
    }
    return run(argc, arg_vector);
}
#else
int main(int argc, char **argv)
{
    return run(argc, argv);
}
#endif
