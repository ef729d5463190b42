// receipt.cpp - field names, geometry and the writers of the receipt.

#include "receipt.h"

#include <cstring>
#include <iterator>

/* ------------------------------------------------------------ field names */

// Exact, case-sensitive comparison of the whole field with each name. Every
// name starts with one of four letters, which turns most ordinary text away
// after a single byte.
int is_tag(const char *s)
{
    if (s == nullptr)
        return 0;
    switch (s[0]) {
    case 'c': case 'l': case 's': case 'r':
        break;
    default:
        return 0;
    }
    for (const char *name : field_names)
        if (std::strcmp(s, name) == 0)
            return 1;
    return 0;
}

/* --------------------------------------------------------------- geometry */

// Room for every row (blank or not), one more row, and the footer's row;
// the logo takes 250 more.
long long receipt_height(long long line_count, bool has_image)
{
    return row_pitch * (line_count + 2) + (has_image ? logo_height : 0);
}

/* -------------------------------------------------------------- templates */

// A template is filled in by copying its literal pieces and formatting each
// placeholder between them. The pieces are found once, at compile time, so
// a row costs a few memcpy calls instead of a printf.

enum class hole : unsigned char { end, str, dec, dec4 };   // "", %s, %d, %04d

struct piece {
    int start;
    int len;
    hole after;
};

struct template_plan {
    piece pieces[4];
    int count;
};

// Reached only when a template holds a placeholder the writer cannot fill,
// which makes plan() fail to compile.
void unknown_placeholder();

constexpr template_plan plan(const char *t)
{
    template_plan p{};
    int start = 0;
    for (int i = 0;; ++i) {
        if (t[i] != '\0' && t[i] != '%')
            continue;
        hole h = hole::end;
        int skip = 0;
        if (t[i] == '%') {
            if (t[i + 1] == 's') {
                h = hole::str;
                skip = 2;
            } else if (t[i + 1] == 'd') {
                h = hole::dec;
                skip = 2;
            } else if (t[i + 1] == '0' && t[i + 2] == '4' && t[i + 3] == 'd') {
                h = hole::dec4;
                skip = 4;
            } else {
                unknown_placeholder();
            }
        }
        if (p.count == static_cast<int>(std::size(p.pieces)))
            unknown_placeholder();
        p.pieces[p.count++] = piece{start, i - start, h};
        if (h == hole::end)
            return p;
        start = i + skip;
        i += skip - 1;
    }
}

constexpr template_plan header2_plan = plan(header2);
constexpr template_plan footer_plan = plan(footer);
constexpr template_plan text1_plans[column_count] = {
    plan(text1_l), plan(text1_c), plan(text1_r),
};
constexpr const char *text1[column_count] = {text1_l, text1_c, text1_r};

// Write `v` in decimal at `dst`, with at least `width` digits, and return
// the end.
static char *put_decimal(char *dst, long long v, int width)
{
    char digits[24];
    int n = 0;
    // Work on the magnitude as unsigned so that even the most negative value
    // has one.
    unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v)
                                 : static_cast<unsigned long long>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (n < width)
        digits[n++] = '0';
    if (v < 0)
        *dst++ = '-';
    while (n > 0)
        *dst++ = digits[--n];
    return dst;
}

// Fill template `t` (planned as `p`) at `dst`: `s` for "%s", and the
// numbers for "%d" and "%04d" in order. Returns the end.
static char *fill(char *dst, const char *t, const template_plan &p,
                  const char *s, const long long *numbers)
{
    for (int k = 0; k < p.count; ++k) {
        const piece &pc = p.pieces[k];
        std::memcpy(dst, t + pc.start, static_cast<std::size_t>(pc.len));
        dst += pc.len;
        switch (pc.after) {
        case hole::end:
            break;
        case hole::str: {
            std::size_t n = std::strlen(s);
            std::memcpy(dst, s, n);
            dst += n;
            break;
        }
        case hole::dec:
            dst = put_decimal(dst, *numbers++, 1);
            break;
        case hole::dec4:
            dst = put_decimal(dst, *numbers++, 4);
            break;
        }
    }
    return dst;
}

/* ---------------------------------------------------------------- writers */

// The most that one writer call adds: a text element around a full layout
// read, with room to spare for two 64-bit numbers.
constexpr std::size_t max_piece = 256 + line_buffer_size;
static_assert(sizeof(receipt_out{}.buf) >= 4 * max_piece);

// Take over `stream`: the stream's own buffering is turned off, since the
// output is gathered here and handed over in large blocks anyway.
void receipt_attach(receipt_out *out, std::FILE *stream)
{
    std::setvbuf(stream, nullptr, _IONBF, 0);
    out->stream = stream;
    out->len = 0;
    out->failed = false;
}

// Hand the buffered output to the stream. A short write marks the receipt
// as failed; from then on output is only dropped.
int receipt_flush(receipt_out *out)
{
    if (out->len > 0 && !out->failed &&
        std::fwrite(out->buf, 1, out->len, out->stream) != out->len)
        out->failed = true;
    out->len = 0;
    return out->failed ? -1 : 0;
}

// Make sure the next max_piece bytes fit in the buffer.
static char *reserve(receipt_out *out)
{
    if (out->len + max_piece > sizeof out->buf)
        receipt_flush(out);
    return out->buf + out->len;
}

static void commit(receipt_out *out, const char *end)
{
    out->len = static_cast<std::size_t>(end - out->buf);
}

// Append raw bytes of any length (the logo's data lines).
void write_bytes(receipt_out *out, const char *bytes, std::size_t n)
{
    while (n > 0) {
        if (out->len == sizeof out->buf)
            receipt_flush(out);
        std::size_t room = sizeof out->buf - out->len;
        std::size_t take = n < room ? n : room;
        std::memcpy(out->buf + out->len, bytes, take);
        out->len += take;
        bytes += take;
        n -= take;
    }
}

void write_prologue(receipt_out *out, long long height)
{
    write_bytes(out, header1, std::size(header1) - 1);
    char *p = reserve(out);
    p = fill(p, header2, header2_plan, nullptr, &height);
    commit(out, p);
    write_bytes(out, header3, std::size(header3) - 1);
}

// One text element: the column's start template with its id and baseline,
// the field text unchanged (it may hold character references), then text2.
void write_text(receipt_out *out, column col, const char *text,
                long long element_number, long long baseline)
{
    int c = static_cast<int>(col);
    const long long numbers[] = {element_number, baseline};
    char *p = reserve(out);
    p = fill(p, text1[c], text1_plans[c], is_tag(text) ? "tag" : "text", numbers);
    std::size_t n = std::strlen(text);
    std::memcpy(p, text, n);
    p += n;
    std::memcpy(p, text2, std::size(text2) - 1);
    p += std::size(text2) - 1;
    commit(out, p);
}

// A row with no text is an empty line.
void write_blank(receipt_out *out)
{
    char *p = reserve(out);
    *p++ = '\n';
    commit(out, p);
}

void write_footer(receipt_out *out, long long baseline)
{
    char *p = reserve(out);
    p = fill(p, footer, footer_plan, nullptr, &baseline);
    commit(out, p);
}

// Flush and close; any write, the flush or the close failing makes it -1.
int receipt_close(receipt_out *out)
{
    receipt_flush(out);
    if (std::fflush(out->stream) != 0)
        out->failed = true;
    if (std::fclose(out->stream) != 0)
        out->failed = true;
    out->stream = nullptr;
    return out->failed ? -1 : 0;
}
