// base64.h - Base64 codec over caller-owned memory buffers (RFC 4648
// alphabet, "=" padding, no line breaks).
//
// The receipt tool uses base64_encode to turn each 54-byte chunk of a logo
// into one 72-character line of its data URI. The decoder is the matching
// half and is kept for completeness; the tool itself does not call it.
//
// CONTRACT
//
//   int base64_encode(const unsigned char *in, int in_len,
//                     char *out, int out_size);
//
//     in       in_len bytes of any value (may be null when in_len is 0).
//     out      room for out_size characters PLUS one more for a NUL.
//     Result   the number of characters written (4 * ceil(in_len / 3)),
//              with a NUL written right after them.
//              -1 if the text needs more than out_size characters: the
//              encoder stops at once, the out_size characters written so
//              far stay, and NO NUL is written in that case.
//     0 input bytes give "" (just the NUL) and 0.
//
//   int base64_decode(const char *in, int in_len,
//                     unsigned char *out, int out_size);
//
//     in       in_len characters; exactly in_len are read, never more, and
//              no terminator is needed or looked for.
//     out      room for out_size bytes.
//     Result   the number of bytes written, or -1 if they do not fit in
//              out_size: the decoder stops at once, the out_size bytes
//              written so far stay.
//              Decoded bytes get NO terminator.
//     Every character outside the 64-character alphabet is skipped: the
//     pad "=", white space and line feeds, other punctuation, bytes of
//     value 128 and above. No input is rejected. The significant
//     characters are taken in groups of 4, each giving 3 bytes; a last
//     group of 3 gives 2 bytes, of 2 gives 1 byte, of 1 gives nothing.
//
//   The two block operations and both tables are exposed as well, since
//   they are the building blocks of the two functions above.
//
// Neither function allocates memory; both write only into out. Capacities
// are expected to be 0 or more.

#ifndef GEN_XML_BASE64_H
#define GEN_XML_BASE64_H

// The encoding alphabet, indexed by 6-bit value. cb64[64] is the NUL of the
// literal, not part of the alphabet.
inline constexpr char cb64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The decoding table: one entry per character code from 43 ('+') to 122
// ('z'), so the entry for code c is cd64[c - 43]. For a character of the
// alphabet the entry is the character whose code is its 6-bit value plus
// 62 (so the value is entry - 62); for any other code the entry is '$'.
// Codes outside 43..122 are never in the alphabet.
inline constexpr char cd64[] =
    "|$$$}rstuvwxyz{$$$$$$$>?@ABCDEFGHIJKLMNOPQRSTUVW$$$$$$XYZ[\\]^_`abcdefghijklmnopq";

// Encodes len significant bytes (1 to 3) of in[0..2] as 4 characters in
// out[0..3]; the places for the missing bytes become "=". The bytes of in
// past len must be 0.
void encodeblock(const unsigned char in[3], unsigned char out[4], int len);

// Turns 4 values of 6 bits (each below 64) into 3 bytes.
void decodeblock(const unsigned char in[4], unsigned char out[3]);

// Encodes in_len bytes as padded Base64 text into out, NUL-terminated.
// See the contract above.
int base64_encode(const unsigned char *in, int in_len, char *out, int out_size);

// Decodes in_len characters of Base64 text into out, skipping every
// character outside the alphabet. See the contract above.
int base64_decode(const char *in, int in_len, unsigned char *out, int out_size);

#endif   // GEN_XML_BASE64_H
