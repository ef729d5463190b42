// logo.cpp - the logo block: image1, Base64 data lines, image2.

#include "logo.h"

#include <iterator>

#include "base64.h"

// Encode one chunk into `text` and append it as a data line, after a line
// feed when a line came before it.
static bool put_chunk(const unsigned char *chunk, int size, bool line_before, receipt_out *out,
                      char *text, int capacity)
{
    if (line_before)
        write_bytes(out, "\n", 1);
    int n = base64_encode(chunk, size, text, capacity);
    if (n < 0)
        return false;
    write_bytes(out, text, static_cast<std::size_t>(n));
    return true;
}

// The logo is cut into chunks of 54 bytes up to a last chunk of what is
// left, which is empty when the size is a multiple of 54 (the read that
// ends exactly at the end of the file does not yet know it is the last):
// such a logo's data ends with a line feed before the closing quote. The
// logo is read many chunks at a time, which gives the same chunks with far
// fewer calls and system reads. The first block holds the logo's first
// two bytes whenever it has two, which tell a BMP file.
logo_result write_logo(std::FILE *logo, receipt_out *out, char *text, int capacity, bool *is_bmp)
{
    constexpr std::size_t block_chunks = 607;   // about 32 KiB a read
    unsigned char block[block_chunks * logo_chunk_size];
    bool line_before = false;
    bool first_block = true;

    if (is_bmp != nullptr)
        *is_bmp = false;
    write_bytes(out, image1, std::size(image1) - 1);
    for (;;) {
        std::size_t got = std::fread(block, 1, sizeof block, logo);
        if (got < sizeof block && std::ferror(logo))
            return logo_result::read_error;
        if (first_block && is_bmp != nullptr)
            *is_bmp = got >= 2 && block[0] == 'B' && block[1] == 'M';
        first_block = false;
        std::size_t at = 0;
        for (; got - at >= logo_chunk_size; at += logo_chunk_size) {
            if (!put_chunk(block + at, logo_chunk_size, line_before, out, text, capacity))
                return logo_result::encode_error;
            line_before = true;
        }
        if (got < sizeof block) {
            // The end of the file: what is left is the last chunk.
            if (!put_chunk(block + at, static_cast<int>(got - at), line_before, out, text,
                           capacity))
                return logo_result::encode_error;
            break;
        }
        if (out->failed)
            return logo_result::ok;
    }
    write_bytes(out, image2, std::size(image2) - 1);
    return logo_result::ok;
}
