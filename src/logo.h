// logo.h - embedding the logo file in the receipt as Base64 data lines.
//
// Contract
//
//   write_logo(logo, out, text, capacity, is_bmp) writes the logo's image
//   element to `out`: image1, the data lines, image2. The logo stream is
//   read in chunks of logo_chunk_size (54) bytes; each chunk is encoded with
//   base64_encode into `text`, given `capacity` characters (the buffer needs
//   one more byte for the NUL), and becomes one data line of 72 characters,
//   the last line shorter. Lines are joined by single line feeds: a logo whose size is a
//   positive multiple of 54 ends in an empty line, and an empty logo has no
//   data at all. Any file is embedded, under the image/bmp data URI.
//
//   Returns logo_result::ok, encode_error when base64_encode reports a
//   capacity too small for a chunk (the receipt keeps what was written up to
//   then), or read_error when the logo stream reports a read error. Write
//   errors are left in out->failed. The caller moves the baseline by
//   logo_shift. Unless is_bmp is null, *is_bmp is set to whether the logo's
//   first two bytes are "BM", the start of every BMP file (false for a
//   shorter logo, and when the first read fails).

#ifndef GEN_XML_LOGO_H
#define GEN_XML_LOGO_H

#include <cstdio>

#include "receipt.h"

constexpr int logo_chunk_size = 54;

enum class logo_result { ok, encode_error, read_error };

logo_result write_logo(std::FILE *logo, receipt_out *out, char *text, int capacity,
                       bool *is_bmp = nullptr);

#endif
