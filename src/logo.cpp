// logo.cpp - the logo block: image1, Base64 data lines, image2.

#include "logo.h"

#include <iterator>

#include "base64.h"

// Read the logo until a read comes up short, encoding every chunk into one
// data line. A chunk that ends exactly at the end of the file does not yet
// reveal the end, so a logo of k * 54 bytes is followed by one more, empty
// chunk: its data ends with a line feed before the closing quote.
logo_result write_logo(std::FILE *logo, receipt_out *out, char *text, int capacity)
{
    unsigned char chunk_buffer[logo_chunk_size];
    std::size_t previous = 0;
    bool at_end = false;

    write_bytes(out, image1, std::size(image1) - 1);
    while (!at_end) {
        if (previous > 0)
            write_bytes(out, "\n", 1);
        std::size_t got = std::fread(chunk_buffer, 1, sizeof chunk_buffer, logo);
        if (got < sizeof chunk_buffer) {
            if (std::ferror(logo))
                return logo_result::read_error;
            at_end = true;
        }
        int n = base64_encode(chunk_buffer, static_cast<int>(got), text, capacity);
        if (n < 0)
            return logo_result::encode_error;
        write_bytes(out, text, static_cast<std::size_t>(n));
        previous = got;
        if (out->failed)
            return logo_result::ok;
    }
    write_bytes(out, image2, std::size(image2) - 1);
    return logo_result::ok;
}
