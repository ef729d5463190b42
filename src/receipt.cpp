// receipt.cpp - field names, geometry and the writers of the receipt.

#include "receipt.h"

#include <bit>
#include <cstdint>
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

constexpr std::size_t shortest_name = [] {
    std::size_t m = name_length(field_names[0]);
    for (const char *name : field_names)
        m = name_length(name) < m ? name_length(name) : m;
    return m;
}();

// Text of a length no name has, or too short for the key's bytes, is no
// name; other text is looked up by a key made of its length and two of
// its bytes, the last and the fifth from last, which no two names share.
constexpr std::size_t key_back = 5;
static_assert(shortest_name >= key_back);
constexpr unsigned name_key_count = 64;

constexpr unsigned name_key(const char *s, std::size_t n)
{
    return (static_cast<unsigned>(n) + static_cast<unsigned char>(s[n - 1]) +
            2u * static_cast<unsigned char>(s[n - key_back])) %
           name_key_count;
}

// Reached only when two names share a key, which makes the table below
// fail to compile.
void names_share_a_key();

// names_by_key[k]: the index of the name with key k, or -1 for none.
constexpr auto names_by_key = [] {
    struct {
        signed char index[name_key_count];
    } t{};
    for (signed char &i : t.index)
        i = -1;
    for (std::size_t i = 0; i < std::size(field_names); ++i) {
        const unsigned k = name_key(field_names[i], name_length(field_names[i]));
        if (t.index[k] >= 0)
            names_share_a_key();
        t.index[k] = static_cast<signed char>(i);
    }
    return t;
}();

// The length of each name, by index.
constexpr auto name_lengths = [] {
    struct {
        unsigned char len[std::size(field_names)];
    } t{};
    for (std::size_t i = 0; i < std::size(field_names); ++i)
        t.len[i] = static_cast<unsigned char>(name_length(field_names[i]));
    return t;
}();
static_assert(longest_name <= 255);

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
// one name that has its key, if any.
static inline bool is_field_name(const char *s, std::size_t n)
{
    if (n - shortest_name > longest_name - shortest_name)
        return false;
    const int i = names_by_key.index[name_key(s, n)];
    return i >= 0 && name_lengths.len[i] == n && same_bytes(s, field_names[i], n);
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

/* ---------------------------------------------------------------- numbers */

// Numbers are worked on as words of decimal digits, one digit to a byte, the
// last digit in the lowest byte, so that a whole number is found, stepped or
// stored in a few operations on one word, with no loop and no division.

constexpr long long e8 = 100000000;   // the first number of nine digits
constexpr std::uint64_t zero_chars = 0x3030303030303030u;

// The eight decimal digits of v (below 10^8), leading zeros included. v is
// split into two halves of four digits, both halves at once into two of two
// digits, and all four of those into single digits; each step divides the
// lanes of the word by a multiplication that is exact for what they hold.
static inline std::uint64_t digit_word(std::uint32_t v)
{
    std::uint64_t x = v % 10000 | std::uint64_t{v / 10000} << 32;
    std::uint64_t q = (x * 10486 >> 20) & 0x0000007f0000007fu;   // lanes / 100
    x = (x - q * 100) | q << 16;
    q = (x * 103 >> 10) & 0x000f000f000f000fu;   // lanes / 10
    return (x - q * 10) | q << 8;
}

// Add the digit word `step` to `digits` with decimal carries: each byte is
// raised by 246 so that a sum of 10 or more carries into the next byte, and
// the bytes that did not carry (those still 246 or more) are lowered again.
static inline std::uint64_t add_digits(std::uint64_t digits, std::uint64_t step)
{
    const std::uint64_t t = digits + step + 0xf6f6f6f6f6f6f6f6u;
    return t - ((t & 0x8080808080808080u) >> 7) * 0xf6;
}

// A number ready to be stored: its characters, in a word that stores them
// in order, and how many there are; or, for a value of nine or more
// digits or below zero, len 0 and the value, which put_decimal() writes.
struct number_text {
    std::uint64_t chars;
    int len;
    long long value;
};

// The characters of a digit word, with zeros in front to at least `width`
// (1 to 8) digits.
static inline number_text digit_text(std::uint64_t digits, int width)
{
    // The lowest bit set makes a zero count as one digit (the width makes
    // it at least one anyway) and spares the count a test for zero.
    int len = 8 - static_cast<int>(static_cast<unsigned>(std::countl_zero(digits | 1)) / 8);
    if (len < width)
        len = width;
    const std::uint64_t c = digits | zero_chars;
    if constexpr (std::endian::native == std::endian::little) {
        // The first character goes in the lowest byte: reverse the bytes.
        std::uint64_t r = (c & 0x00ff00ff00ff00ffu) << 8 | (c >> 8 & 0x00ff00ff00ff00ffu);
        r = (r & 0x0000ffff0000ffffu) << 16 | (r >> 16 & 0x0000ffff0000ffffu);
        return {(r << 32 | r >> 32) >> (8 * (8 - len)), len, 0};
    } else {
        return {c << (8 * (8 - len)), len, 0};
    }
}

// Store the characters of a number at dst. All eight bytes are stored, the
// number first; the next piece overwrites the rest. Returns the end of the
// number.
static inline char *put_chars(char *dst, const number_text &t)
{
    std::memcpy(dst, &t.chars, 8);
    return dst + t.len;
}

static inline char *put_digits(char *dst, std::uint64_t digits, int width)
{
    return put_chars(dst, digit_text(digits, width));
}

// v in decimal at dst, with zeros in front to at least `width` (1 to 8)
// characters, as printf pads. May store up to 8 bytes past the end it
// returns.
static char *put_decimal(char *dst, long long v, int width)
{
    if (v >= 0 && v < e8)
        return put_digits(dst, digit_word(static_cast<std::uint32_t>(v)), width);
    if (v >= e8 && v < e8 * e8) {
        dst = put_digits(dst, digit_word(static_cast<std::uint32_t>(v / e8)), 1);
        return put_digits(dst, digit_word(static_cast<std::uint32_t>(v % e8)), 8);
    }
    // Negative, or past 16 digits: digit by digit, on the magnitude as
    // unsigned so that even the most negative value has one.
    char rev[24];
    int n = 0;
    unsigned long long u =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        rev[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0)
        *dst++ = '-';
    for (int k = n + (v < 0); k < width; ++k)
        *dst++ = '0';
    while (n > 0)
        *dst++ = rev[--n];
    return dst;
}

// A memo holding v.
static inline decimal_memo memo_of(long long v)
{
    return {v, v >= 0 && v < e8 ? digit_word(static_cast<std::uint32_t>(v)) : 0};
}

// The memo of the number `step` (0 to 10^8 - 1) more than `m`; its digits
// are stepped whether or not they are in use, which costs less than asking.
static inline decimal_memo memo_step(decimal_memo m, long long step)
{
    return {m.value + step, add_digits(m.digits, digit_word(static_cast<std::uint32_t>(step)))};
}

// The number of `m`, ready to be stored with zeros in front to `width`
// (1 to 8) digits: worked out once, it can be stored as often as needed (a
// row's baseline goes into each of its elements).
static inline number_text render(const decimal_memo &m, int width)
{
    if (m.value < 0 || m.value >= e8)
        return {0, 0, m.value};
    number_text t = digit_text(m.digits, width);
    t.value = m.value;
    return t;
}

// A number at dst, as put_decimal() writes it: `width` must be the one it
// was rendered with.
static inline char *put_number(char *dst, const number_text &t, int width)
{
    if (t.len == 0)
        return put_decimal(dst, t.value, width);
    return put_chars(dst, t);
}

// Room for the id prefix, "text" or "tag": the writers always read this
// many bytes of it.
constexpr std::size_t id_prefix_room = 4;
static_assert(sizeof "text" - 1 <= id_prefix_room && sizeof "tag" >= id_prefix_room);

// Filling template T: piece K of its plan, then the placeholder after it.
// Everything about the piece is a compile-time constant, so its copy is a
// few moves. Digits are stored a whole word at a time, which may write past
// the number: the caller's reserve() leaves room, and the next piece
// overwrites the excess.
template <const char *T, int K>
static char *fill_piece(char *dst, const char *s, std::size_t slen, const number_text *numbers)
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
        dst = put_number(dst, numbers[which], pc.after == hole::dec4 ? 4 : 1);
    }
    return dst;
}

// Fill template T at `dst`: `s` (of length `slen`) for "%s", and the
// numbers for "%d" and "%04d" in order, rendered with the padding of their
// placeholder ("%04d": four digits). Returns the end.
template <const char *T>
static char *fill(char *dst, const char *s, std::size_t slen, const number_text *numbers)
{
    [&]<int... K>(std::integer_sequence<int, K...>)
    {
        ((dst = fill_piece<T, K>(dst, s, slen, numbers)), ...);
    }
    (std::make_integer_sequence<int, plan(T).count>{});
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
    out->id = memo_of(-1);
    out->y = memo_of(-1);
}

// Hand the buffered output to the stream. A short write marks the receipt
// as failed; from then on output is only dropped.
int receipt_flush(receipt_out *out)
{
    if (out->len > 0 && !out->failed && std::fwrite(out->buf, 1, out->len, out->stream) != out->len)
        out->failed = true;
    out->len = 0;
    return out->failed ? -1 : 0;
}

// Make room in a full buffer: hand over its whole pages and keep the rest
// for the next block. Writes of whole, aligned pages spare the system from
// filling and revisiting half-written pages of the file.
static void flush_pages(receipt_out *out)
{
    const std::size_t whole = out->len / receipt_page * receipt_page;
    if (whole == 0 || out->failed) {
        receipt_flush(out);
        return;
    }
    if (std::fwrite(out->buf, 1, whole, out->stream) != whole) {
        out->failed = true;
        out->len = 0;
        return;
    }
    std::memmove(out->buf, out->buf + whole, out->len - whole);
    out->len -= whole;
}

// Make sure the next `size` bytes fit in the buffer.
static char *reserve(receipt_out *out, std::size_t size)
{
    if (out->len + size > sizeof out->buf)
        flush_pages(out);
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
            flush_pages(out);
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
    const number_text numbers[] = {render(memo_of(v), 1)};
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

// The start template of each column, in column order.
inline constexpr const char *column_start[column_count] = {text1_l, text1_c, text1_r};

// The element number is written with "%04d", the baseline with "%d".
constexpr int id_width = 4;
constexpr int y_width = 1;
static_assert(
    [] {
        for (const char *t : column_start) {
            const template_plan p = plan(t);
            if (p.pieces[1].after != hole::dec4 || p.pieces[2].after != hole::dec)
                return false;
        }
        return true;
    }(),
    "a text element's start holds its element number (%04d), then its baseline (%d)");

// One text element at `p` in column C: the column's start template with
// its id and baseline, the field text unchanged (it may hold character
// references), then text2. The column is a template argument, so the
// element is filled without asking which column it is in.
template <column C>
static inline char *put_element(char *p, const char *text, std::size_t n, number_text id,
                                number_text y)
{
    const bool tag = is_field_name(text, n);
    const number_text numbers[] = {id, y};
    p = fill<column_start[static_cast<int>(C)]>(p, tag ? "tag" : "text", tag ? 3 : 4, numbers);
    p = put_text(p, text, n);
    std::memcpy(p, text2, std::size(text2) - 1);
    return p + std::size(text2) - 1;
}

void write_text(receipt_out *out, column col, const char *text, std::size_t n,
                long long element_number, long long baseline)
{
    char *p = reserve(out, max_piece);
    const number_text id = render(memo_of(element_number), id_width);
    const number_text y = render(memo_of(baseline), y_width);
    switch (col) {
    case column::left:
        p = put_element<column::left>(p, text, n, id, y);
        break;
    case column::centre:
        p = put_element<column::centre>(p, text, n, id, y);
        break;
    case column::right:
        p = put_element<column::right>(p, text, n, id, y);
        break;
    }
    commit(out, p);
}

// The elements of one row, left to right, with one look at the buffer for
// all of them. The memos mostly hold the row's first element number and
// its baseline already; they are left holding the next row's.
void write_row(receipt_out *out, const char *const field[column_count],
               const std::size_t field_len[column_count], long long *element_number,
               long long baseline)
{
    char *p = reserve(out, column_count * max_piece);
    decimal_memo id = out->id.value == *element_number ? out->id : memo_of(*element_number);
    const decimal_memo y = out->y.value == baseline ? out->y : memo_of(baseline);
    constexpr int l = static_cast<int>(column::left);
    constexpr int c = static_cast<int>(column::centre);
    constexpr int r = static_cast<int>(column::right);
    const number_text y_text = render(y, y_width);   // the same in every element
    if (field_len[l] != 0) {
        p = put_element<column::left>(p, field[l], field_len[l], render(id, id_width), y_text);
        id = memo_step(id, 1);
    }
    if (field_len[c] != 0) {
        p = put_element<column::centre>(p, field[c], field_len[c], render(id, id_width), y_text);
        id = memo_step(id, 1);
    }
    if (field_len[r] != 0) {
        p = put_element<column::right>(p, field[r], field_len[r], render(id, id_width), y_text);
        id = memo_step(id, 1);
    }
    commit(out, p);
    *element_number = id.value;
    out->id = id;
    out->y = memo_step(y, row_pitch);
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

/* --------------------------------------------------------------- XML text */

// Bytes that can be taken without a second look: printable ASCII other than
// '&' (a reference), '<' (markup) and ']' (the start of "]]>"). Most fields
// are made of nothing else.
constexpr auto plain_xml_bytes = [] {
    struct {
        bool plain[256];
    } t{};
    for (int c = 0x20; c < 0x80; ++c)
        t.plain[c] = c != '&' && c != '<' && c != ']';
    return t;
}();

// Whether code point c is a character XML 1.0 allows: TAB, LF, CR, and
// U+0020 up to U+10FFFF except the surrogates, U+FFFE and U+FFFF.
static bool is_xml_char(unsigned long c)
{
    if (c < 0x20)
        return c == '\t' || c == '\n' || c == '\r';
    if (c < 0xD800)
        return true;
    if (c < 0xE000)
        return false;
    if (c < 0x10000)
        return c != 0xFFFE && c != 0xFFFF;
    return c <= 0x10FFFF;
}

// The length of the character reference or predefined entity that starts
// at s[0] ('&') and fits in s[0, n), or 0 when there is none there or it
// names a character XML does not allow. A number is held at 0x110000 once
// it grows past the last code point, so no length of digits overflows it.
static std::size_t xml_reference_length(const unsigned char *s, std::size_t n)
{
    static constexpr const char *entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    if (n < 2)
        return 0;
    if (s[1] != '#') {
        for (const char *e : entities) {
            const std::size_t len = name_length(e);
            if (len <= n && std::memcmp(s, e, len) == 0)
                return len;
        }
        return 0;
    }
    const bool hex = n >= 3 && s[2] == 'x';
    std::size_t i = hex ? 3 : 2;
    const std::size_t first_digit = i;
    unsigned long code = 0;
    for (; i < n; ++i) {
        const unsigned char c = s[i];
        unsigned long digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned long>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned long>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned long>(c - 'A' + 10);
        else
            break;
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF)
            code = 0x110000;
    }
    if (i == first_digit || i == n || s[i] != ';' || !is_xml_char(code))
        return 0;
    return i + 1;
}

// The length of the well-formed UTF-8 sequence of two to four bytes that
// starts at s[0] (a byte from 0x80 up) and fits in s[0, n), or 0 when the
// bytes there are no such sequence or encode a character XML does not
// allow. The ranges of the second byte rule out overlong forms, the
// surrogates and anything above U+10FFFF.
static std::size_t utf8_char_length(const unsigned char *s, std::size_t n)
{
    const unsigned char b0 = s[0];
    std::size_t len;
    unsigned char lo = 0x80;   // the range of the second byte
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0;
        else if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (len > n || s[1] < lo || s[1] > hi)
        return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (s[i] < 0x80 || s[i] > 0xBF)
            return 0;
    // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
    if (b0 == 0xEF && s[1] == 0xBF && s[2] >= 0xBE)
        return 0;
    return len;
}

// Whether all of s[0, n) are plain bytes. Eight bytes at a time, one table
// look-up each and one branch for all eight; the last eight (or, for a
// short text, the first four and the last four) may overlap bytes already
// seen, which does no harm to the answer and spares a loop over the rest.
static inline bool all_plain_xml_bytes(const unsigned char *s, std::size_t n)
{
    const bool *t = plain_xml_bytes.plain;
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8)
            if (!(t[s[i]] & t[s[i + 1]] & t[s[i + 2]] & t[s[i + 3]] & t[s[i + 4]] & t[s[i + 5]] &
                  t[s[i + 6]] & t[s[i + 7]]))
                return false;
        s += n - 8;
        return t[s[0]] & t[s[1]] & t[s[2]] & t[s[3]] & t[s[4]] & t[s[5]] & t[s[6]] & t[s[7]];
    }
    if (n >= 4)
        return t[s[0]] & t[s[1]] & t[s[2]] & t[s[3]] & t[s[n - 4]] & t[s[n - 3]] & t[s[n - 2]] &
               t[s[n - 1]];
    bool all = true;
    for (std::size_t i = 0; i < n; ++i)
        all &= t[s[i]];
    return all;
}

// Field text is copied into the receipt as it stands, so it must already
// be XML character data there. Most fields are plain bytes only and are
// settled at once; in the others, plain bytes are passed over one by one
// and everything else is looked at where it stands.
bool is_xml_text(const char *text, std::size_t n)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    if (all_plain_xml_bytes(s, n))
        return true;
    std::size_t i = 0;
    while (i < n) {
        if (plain_xml_bytes.plain[s[i]]) {
            ++i;
            continue;
        }
        const unsigned char c = s[i];
        std::size_t len = 1;
        if (c < 0x20) {
            if (c != '\t' && c != '\n' && c != '\r')
                return false;
        } else if (c == '<') {
            return false;
        } else if (c == ']') {
            if (n - i >= 3 && s[i + 1] == ']' && s[i + 2] == '>')
                return false;
        } else if (c == '&') {
            len = xml_reference_length(s + i, n - i);
        } else {
            len = utf8_char_length(s + i, n - i);
        }
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}
