// libFuzzer target for the rows of the writing pass.
//
// Each input is a layout. It is read twice at once: row by row with
// layout_next_row(), which takes most rows straight from the read-ahead,
// and read by read with layout_read(), strip_line() and split_fields(),
// the plain way. Both must see the same rows: the same trimmed lengths, the
// same fields (present or absent, and their bytes), and the end of the file
// at the same read.

#include "layout.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Stops the run so that libFuzzer records the input as a crash.
[[noreturn]] void fail()
{
    __builtin_trap();
}

std::FILE *file_holding(const std::uint8_t *data, std::size_t size)
{
    std::FILE *f = std::tmpfile();
    if (f == nullptr)
        return nullptr;
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        fail();
    std::rewind(f);
    return f;
}

bool same_field(const char *a, std::size_t a_len, const char *b, std::size_t b_len)
{
    if ((a == nullptr) != (b == nullptr) || a_len != b_len)
        return false;
    return a_len == 0 || std::memcmp(a, b, a_len) == 0;
}

layout_file ours;
layout_file theirs;
char line[line_buffer_size];
char ref_line[line_buffer_size];

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::FILE *a = file_holding(data, size);
    std::FILE *b = file_holding(data, size);
    if (a == nullptr || b == nullptr)
        fail();
    layout_attach(&ours, a);
    layout_attach(&theirs, b);
    do {
        const char *field[column_count];
        std::size_t field_len[column_count];
        const int len = layout_next_row(&ours, line, field, field_len);

        std::size_t ref_len;
        if (layout_read(&theirs, ref_line, &ref_len) < 0)
            fail();
        ref_len = strip_line(ref_line, ref_len);
        if (len < 0 || static_cast<std::size_t>(len) != ref_len)
            fail();
        if (ref_len > 0) {
            char *ref_field[column_count];
            std::size_t ref_field_len[column_count];
            split_fields(ref_line, ref_len, ref_field, ref_field_len);
            for (int c = 0; c < column_count; ++c)
                if (!same_field(field[c], field_len[c], ref_field[c], ref_field_len[c]))
                    fail();
        }
        if (ours.eof != theirs.eof)
            fail();
    } while (!theirs.eof);
    std::fclose(a);
    std::fclose(b);
    return 0;
}
