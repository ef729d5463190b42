// receipt.cpp - field names, geometry and the writers of the receipt.

#include "receipt.h"

#include <cstring>
#include <iterator>
#include <utility>

/* ------------------------------------------------------------ field names */

constexpr std::size_t name_length(const char *s)
{
    std::size_t n = 0;
    while (s[n] != '\0')
        ++n;
    return n;
}

constexpr std::size_t longest_name = [] {
    std::size_t m = 0;
    for (const char *name : field_names)
        m = name_length(name) > m ? name_length(name) : m;
    return m;
}();

// The names grouped by length: names_of_length[n] lists the indexes of the
// names n bytes long, ended by -1. Most layout text has a length no name
// has, and is turned away without a single comparison.
constexpr auto names_of_length = [] {
    struct {
        signed char index[longest_name + 1][std::size(field_names) + 1];
    } t{};
    for (std::size_t n = 0; n <= longest_name; ++n) {
        std::size_t k = 0;
        for (std::size_t i = 0; i < std::size(field_names); ++i)
            if (name_length(field_names[i]) == n)
                t.index[n][k++] = static_cast<signed char>(i);
        t.index[n][k] = -1;
    }
    return t;
}();

// Whether a[0, n) and b[0, n) are equal, for n from 1 up: word by word,
// the last word overlapping the one before it. Short loads are used
// because the field was stored a moment ago.
static inline bool same_bytes(const char *a, const char *b, std::size_t n)
{
    if (n < 8) {
        for (std::size_t i = 0; i < n; ++i)
            if (a[i] != b[i])
                return false;
        return true;
    }
    unsigned long long x;
    unsigned long long y;
    for (std::size_t i = 0; i + 8 < n; i += 8) {
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            return false;
    }
    std::memcpy(&x, a + n - 8, 8);
    std::memcpy(&y, b + n - 8, 8);
    return x == y;
}

// Exact, case-sensitive comparison of a whole field of length n with the
// names of that length.
static inline bool is_field_name(const char *s, std::size_t n)
{
    if (n > longest_name || names_of_length.index[n][0] < 0)
        return false;
    for (const signed char *i = names_of_length.index[n]; *i >= 0; ++i)
        if (same_bytes(s, field_names[*i], n))
            return true;
    return false;
}

int is_tag(const char *s)
{
    if (s == nullptr)
        return 0;
    return is_field_name(s, std::strlen(s)) ? 1 : 0;
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


// A memo that has not been given a number yet.
constexpr decimal_memo no_digits = {-1, 0, {}};

// Write `v` into `m` afresh.
static void format_decimal(decimal_memo *m, long long v)
{
    char rev[24];
    int n = 0;
    // Work on the magnitude as unsigned so that even the most negative value
    // has one.
    unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v)
                                 : static_cast<unsigned long long>(v);
    do {
        rev[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0)
        rev[n++] = '-';
    for (int i = 0; i < n; ++i)
        m->digits[i] = rev[n - 1 - i];
    m->len = n;
    m->value = v;
}

// The digits of `m` have carried `carry` out of their first place: put it
// in front of them.
static void grow_decimal(decimal_memo *m, unsigned carry)
{
    char head[4];
    int h = 0;
    for (; carry > 0; carry /= 10)
        head[h++] = static_cast<char>('0' + carry % 10);
    std::memmove(m->digits + h, m->digits, static_cast<std::size_t>(m->len));
    for (int k = 0; k < h; ++k)
        m->digits[k] = head[h - 1 - k];
    m->len += h;
}

// Add a small step to the digits in place, carrying as far as needed.
static inline void step_decimal(decimal_memo *m, unsigned step)
{
    for (char *d = m->digits + m->len; d > m->digits;) {
        --d;
        unsigned x = static_cast<unsigned>(*d - '0') + step;
        if (x < 10) {
            *d = static_cast<char>('0' + x);
            return;
        }
        *d = static_cast<char>('0' + x % 10);
        step = x / 10;
    }
    grow_decimal(m, step);
}

// Set `m` to the decimal digits of `v`. The common steps are cheap: the
// same value again costs nothing, the next element number mostly changes
// only the last digit, and any small increase (the next row's baseline) is
// added to the digits in place. Anything else is written out afresh.
static inline void set_decimal(decimal_memo *m, long long v)
{
    if (v == m->value && m->len > 0)
        return;
    // A memo with a negative value holds no digits to build on; with a
    // value of 0 or more, the unsigned difference is below 1000 exactly
    // when v is a little more than that value.
    if (m->value >= 0 && static_cast<unsigned long long>(v) -
                                 static_cast<unsigned long long>(m->value) < 1000) {
        char &last = m->digits[m->len - 1];
        if (v == m->value + 1 && last != '9')
            ++last;
        else
            step_decimal(m, static_cast<unsigned>(v - m->value));
        m->value = v;
        return;
    }
    format_decimal(m, v);
}

// Room for the id prefix, "text" or "tag": the writers always read this
// many bytes of it.
constexpr std::size_t id_prefix_room = 4;
static_assert(sizeof "text" - 1 <= id_prefix_room && sizeof "tag" >= id_prefix_room);

// Filling template T: piece K of its plan, then the placeholder after it.
// Everything about the piece is a compile-time constant, so its copy is a
// few moves. Digits are copied a whole memo at a time, which may write past
// the number: the caller's reserve() leaves room, and the next piece
// overwrites the excess.
template <const char *T, int K>
static char *fill_piece(char *dst, const char *s, std::size_t slen,
                        const decimal_memo *const *numbers)
{
    constexpr template_plan p = plan(T);
    constexpr piece pc = p.pieces[K];
    std::memcpy(dst, T + pc.start, static_cast<std::size_t>(pc.len));
    dst += pc.len;
    if constexpr (pc.after == hole::str) {
        // Only the id prefix fills a "%s": copied as four bytes, "tag" with
        // its NUL, which the next piece overwrites.
        std::memcpy(dst, s, id_prefix_room);
        dst += slen;
    } else if constexpr (pc.after == hole::dec || pc.after == hole::dec4) {
        // Which number: count the number placeholders before this one.
        constexpr int which = [] {
            int n = 0;
            for (int k = 0; k < K; ++k)
                n += plan(T).pieces[k].after == hole::dec || plan(T).pieces[k].after == hole::dec4;
            return n;
        }();
        const decimal_memo *m = numbers[which];
        if constexpr (pc.after == hole::dec4) {
            std::memcpy(dst, "0000", 4);
            dst += m->len < 4 ? 4 - m->len : 0;
        }
        std::memcpy(dst, m->digits, sizeof m->digits);
        dst += m->len;
    }
    return dst;
}

// Fill template T at `dst`: `s` (of length `slen`) for "%s", and the
// numbers for "%d" and "%04d" in order, "%04d" padded with zeros to four
// digits. Returns the end.
template <const char *T>
static char *fill(char *dst, const char *s, std::size_t slen,
                  const decimal_memo *const *numbers)
{
    [&]<int... K>(std::integer_sequence<int, K...>) {
        ((dst = fill_piece<T, K>(dst, s, slen, numbers)), ...);
    }(std::make_integer_sequence<int, plan(T).count>{});
    return dst;
}

/* ---------------------------------------------------------------- writers */

// The most that one text element takes: a full layout read, its template
// and two 64-bit numbers, with room to spare for the copies that overrun.
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
    out->id = no_digits;
    out->y = no_digits;
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

// Make sure the next `size` bytes fit in the buffer.
static char *reserve(receipt_out *out, std::size_t size)
{
    if (out->len + size > sizeof out->buf)
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

// A template whose only placeholder is one "%d", filled with `v`.
template <const char *T>
static void write_with_number(receipt_out *out, long long v)
{
    decimal_memo m = no_digits;
    set_decimal(&m, v);
    const decimal_memo *numbers[] = {&m};
    commit(out, fill<T>(reserve(out, max_piece), nullptr, 0, numbers));
}

void write_prologue(receipt_out *out, long long height)
{
    write_bytes(out, header1, std::size(header1) - 1);
    write_with_number<header2>(out, height);
    write_bytes(out, header3, std::size(header3) - 1);
}

// Copy a field's text. Fields are mostly short, and for up to 16 bytes two
// overlapping word copies beat a call to memcpy; longer texts take the call.
static inline char *put_text(char *dst, const char *src, std::size_t n)
{
    if (n >= 8 && n <= 16) {
        std::memcpy(dst, src, 8);
        std::memcpy(dst + n - 8, src + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(dst, src, 4);
        std::memcpy(dst + n - 4, src + n - 4, 4);
    } else if (n < 4) {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = src[i];
    } else {
        std::memcpy(dst, src, n);
    }
    return dst + n;
}

// One text element at `p`, numbered and placed by the id and y memos: the
// column's start template, the field text unchanged (it may hold character
// references), then text2.
static inline char *put_element(receipt_out *out, char *p, column col, const char *text,
                                std::size_t n)
{
    const bool tag = is_field_name(text, n);
    const decimal_memo *numbers[] = {&out->id, &out->y};
    const char *prefix = tag ? "tag" : "text";
    const std::size_t prefix_len = tag ? 3 : 4;
    switch (col) {
    case column::left:
        p = fill<text1_l>(p, prefix, prefix_len, numbers);
        break;
    case column::centre:
        p = fill<text1_c>(p, prefix, prefix_len, numbers);
        break;
    case column::right:
        p = fill<text1_r>(p, prefix, prefix_len, numbers);
        break;
    }
    p = put_text(p, text, n);
    std::memcpy(p, text2, std::size(text2) - 1);
    return p + std::size(text2) - 1;
}

void write_text(receipt_out *out, column col, const char *text, std::size_t n,
                long long element_number, long long baseline)
{
    set_decimal(&out->id, element_number);
    set_decimal(&out->y, baseline);
    char *p = reserve(out, max_piece);
    commit(out, put_element(out, p, col, text, n));
}

// The elements of one row, left to right, with one look at the buffer and
// the baseline for all of them.
void write_row(receipt_out *out, char *const field[column_count],
               const std::size_t field_len[column_count], long long *element_number,
               long long baseline)
{
    set_decimal(&out->y, baseline);
    char *p = reserve(out, column_count * max_piece);
    for (int c = 0; c < column_count; ++c) {
        if (field_len[c] == 0)
            continue;
        set_decimal(&out->id, *element_number);
        p = put_element(out, p, static_cast<column>(c), field[c], field_len[c]);
        ++*element_number;
    }
    commit(out, p);
    // Step the memos to the likely next numbers now, while they are not
    // needed: changing a digit just before copying the digits would make
    // the copy wait for the change to land.
    set_decimal(&out->id, *element_number);
    set_decimal(&out->y, baseline + row_pitch);
}

// A row with no text is an empty line.
void write_blank(receipt_out *out)
{
    char *p = reserve(out, max_piece);
    *p++ = '\n';
    commit(out, p);
}

void write_footer(receipt_out *out, long long baseline)
{
    write_with_number<footer>(out, baseline);
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
