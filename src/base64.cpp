// base64.cpp - Base64 codec over caller-owned memory buffers.
//
// Both directions work group by group: the encoder turns 3 bytes into 4
// characters with encodeblock, the decoder gathers 4 significant
// characters and turns them into 3 bytes with decodeblock. Nothing here
// allocates; the only memory written is the caller's output area.

#include "base64.h"

#include <cstring>

namespace {

// The character codes covered by cd64.
constexpr int first_code = 43;   // '+'
constexpr int last_code = 122;   // 'z'

// Looks up one input character in cd64: returns its 6-bit value, or -1 if
// the character is not in the alphabet. Takes the character as an unsigned
// byte so that codes of 128 and above, which are negative in a signed
// char, fall outside 43..122 instead of indexing the table backwards.
constexpr int sextet_of(unsigned char c)
{
    if (c < first_code || c > last_code)
        return -1;
    const char entry = cd64[c - first_code];
    if (entry == '$')
        return -1;
    return entry - 62;
}

// Checks, while compiling, that the two tables describe the same alphabet:
// every character of cb64 maps back to its own index through cd64, and
// exactly 64 codes are in the alphabet. A typo in either literal stops the
// build here rather than producing wrong text at run time.
constexpr bool tables_agree()
{
    int members = 0;
    for (int c = 0; c < 256; ++c) {
        const int v = sextet_of(static_cast<unsigned char>(c));
        if (v < 0)
            continue;
        if (v >= 64 || static_cast<unsigned char>(cb64[v]) != c)
            return false;
        ++members;
    }
    return members == 64;
}

static_assert(sizeof(cb64) == 64 + 1, "cb64 holds 64 characters");
static_assert(sizeof(cd64) == last_code - first_code + 1 + 1, "cd64 holds 80 characters");
static_assert(tables_agree(), "cb64 and cd64 disagree");

// Moves the decoder's scan to the next character of the alphabet. Returns
// true with its 6-bit value in `value` if one is found, leaving `pos` just
// after it. Otherwise the scan has run off the end: the place right after
// the last character counts as a line feed, which is never in the
// alphabet, so stepping over it sets `past_end`. That place is never read,
// so exactly in_len characters of input are touched.
bool next_sextet(const char *in, int in_len, int &pos, bool &past_end, unsigned char &value)
{
    while (pos < in_len) {
        const int v = sextet_of(static_cast<unsigned char>(in[pos]));
        ++pos;
        if (v >= 0) {
            value = static_cast<unsigned char>(v);
            return true;
        }
    }
    past_end = true;
    return false;
}

}   // namespace

// Encodes one group: len significant bytes (1 to 3) become 4 characters,
// with "=" standing for each 6-bit place that only covers missing bytes.
void encodeblock(const unsigned char in[3], unsigned char out[4], int len)
{
    const unsigned i0 = in[0];
    const unsigned i1 = in[1];
    const unsigned i2 = in[2];
    out[0] = static_cast<unsigned char>(cb64[i0 >> 2]);
    out[1] = static_cast<unsigned char>(cb64[((i0 & 0x03) << 4) | (i1 >> 4)]);
    out[2] = static_cast<unsigned char>(len > 1 ? cb64[((i1 & 0x0f) << 2) | (i2 >> 6)] : '=');
    out[3] = static_cast<unsigned char>(len > 2 ? cb64[i2 & 0x3f] : '=');
}

// Decodes one group: four 6-bit values become 3 bytes. The caller keeps
// only as many of them as its significant characters cover.
void decodeblock(const unsigned char in[4], unsigned char out[3])
{
    const unsigned s0 = in[0];
    const unsigned s1 = in[1];
    const unsigned s2 = in[2];
    const unsigned s3 = in[3];
    out[0] = static_cast<unsigned char>(((s0 << 2) | (s1 >> 4)) & 0xff);
    out[1] = static_cast<unsigned char>(((s1 << 4) | (s2 >> 2)) & 0xff);
    out[2] = static_cast<unsigned char>(((s2 << 6) & 0xc0) | s3);
}

// Two characters for every 12-bit value: the first for its high six bits,
// the second for its low six. Looking up each half of a group at once
// takes two lookups where encodeblock takes four, which is what makes the
// logo's encoding as fast as copying it.
constexpr auto cb64_pairs = [] {
    struct {
        char pair[4096][2];
    } t{};
    for (int v = 0; v < 4096; ++v) {
        t.pair[v][0] = cb64[v >> 6];
        t.pair[v][1] = cb64[v & 0x3f];
    }
    return t;
}();

// Encodes the input 3 bytes at a time. While a whole group's four
// characters fit, they are stored at once; the last, short group and the
// groups near the end of the area go through encodeblock, each character
// checked against the capacity before it is stored, so a too-small area is
// filled exactly to out_size and then -1 is returned with no NUL. On
// success the NUL goes right after the text, in the extra place the caller
// reserves for it.
int base64_encode(const unsigned char *in, int in_len, char *out, int out_size)
{
    int pos = 0;
    int count = 0;
    while (in_len - pos >= 3 && out_size - count >= 4) {
        const unsigned v = static_cast<unsigned>(in[pos]) << 16 |
                           static_cast<unsigned>(in[pos + 1]) << 8 | in[pos + 2];
        std::memcpy(out + count, cb64_pairs.pair[v >> 12], 2);
        std::memcpy(out + count + 2, cb64_pairs.pair[v & 0xfff], 2);
        pos += 3;
        count += 4;
    }
    while (pos < in_len) {
        unsigned char group[3] = {0, 0, 0};
        const int len = in_len - pos < 3 ? in_len - pos : 3;
        for (int i = 0; i < len; ++i)
            group[i] = in[pos + i];
        pos += len;
        unsigned char chars[4];
        encodeblock(group, chars, len);
        for (int i = 0; i < 4; ++i) {
            if (count >= out_size)
                return -1;
            out[count++] = static_cast<char>(chars[i]);
        }
    }
    out[count] = '\0';
    return count;
}

// Decodes the input by gathering up to 4 significant characters per group
// and skipping everything else, so text broken into lines, padded, or
// sprinkled with stray characters decodes to the same bytes as clean text.
// A group cut short by the end of the input yields one byte fewer than its
// significant characters (none for a single one). Each byte is checked
// against the capacity before it is stored.
int base64_decode(const char *in, int in_len, unsigned char *out, int out_size)
{
    int pos = 0;
    int count = 0;
    bool past_end = false;
    while (!past_end) {
        unsigned char group[4] = {0, 0, 0, 0};
        int len = 0;
        for (int i = 0; i < 4 && !past_end; ++i) {
            if (!next_sextet(in, in_len, pos, past_end, group[i]))
                break;
            ++len;
        }
        if (len >= 1) {
            unsigned char bytes[3];
            decodeblock(group, bytes);
            for (int i = 0; i < len - 1; ++i) {
                if (count >= out_size)
                    return -1;
                out[count] = bytes[i];
                ++count;
            }
        }
    }
    return count;
}
