// receipt.cpp - field names, geometry and the writers of the receipt.

#include "receipt.h"

#include <cstring>
#include <iterator>
#include <string_view>

/* ------------------------------------------------------------ field names */

// The length of each field name, worked out while compiling.
constexpr auto field_name_lengths = [] {
    struct {
        std::size_t of[std::size(field_names)];
    } t{};
    for (std::size_t i = 0; i < std::size(field_names); ++i)
        t.of[i] = std::string_view(field_names[i]).size();
    return t;
}();

// The shortest and the longest name: most texts (prices, labels) are
// already too short or too long to be a name.
constexpr std::size_t shortest_name = [] {
    std::size_t m = field_name_lengths.of[0];
    for (std::size_t len : field_name_lengths.of)
        m = len < m ? len : m;
    return m;
}();
constexpr std::size_t longest_name = [] {
    std::size_t m = 0;
    for (std::size_t len : field_name_lengths.of)
        m = len > m ? len : m;
    return m;
}();

// Whether the n bytes at s are exactly one of the field names: the lengths
// first, then the bytes of a name of the same length.
static bool is_field_name(const char *s, std::size_t n)
{
    if (n < shortest_name || n > longest_name)
        return false;
    for (std::size_t i = 0; i < std::size(field_names); ++i)
        if (field_name_lengths.of[i] == n && std::memcmp(s, field_names[i], n) == 0)
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

/* ---------------------------------------------------------------- numbers */

// Set d to v, with zeros in front to d->width digits.
static void decimal_set(decimal *d, long long v)
{
    char digits[sizeof d->text];
    int n = 0;
    unsigned long long u = static_cast<unsigned long long>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (n < d->width)
        digits[n++] = '0';
    std::memset(d->text, 0, sizeof d->text);
    for (int i = 0; i < n; ++i)
        d->text[i] = digits[n - 1 - i];
    d->value = v;
    d->len = n;
}

// Add `digit` (0 to 9) to the place `place` digits from the end of d's
// text, as an odometer turns: a place that passes 9 rolls over and the
// place before it takes the carry, and a carry off the front gives the text
// a new first digit. The value is the caller's to keep.
static void decimal_turn(decimal *d, int place, unsigned digit)
{
    int i = d->len - 1 - place;
    while (digit != 0) {
        if (i < 0) {
            std::memmove(d->text + 1, d->text, static_cast<std::size_t>(d->len));
            d->text[0] = '0';
            ++d->len;
            i = 0;
        }
        const unsigned sum = static_cast<unsigned>(d->text[i] - '0') + digit;
        digit = sum >= 10 ? 1 : 0;
        d->text[i] = static_cast<char>('0' + sum - 10 * digit);
        --i;
    }
}

// Move d on to v. Element numbers grow by one and baselines by 30 from one
// use to the next, so a step below 100 turns the last two places of the
// text; anything else is set anew.
static inline void decimal_move(decimal *d, long long v)
{
    if (v == d->value)
        return;
    if (v < d->value || v - d->value > 99) {
        decimal_set(d, v);
        return;
    }
    const auto step = static_cast<unsigned>(v - d->value);
    decimal_turn(d, 1, step / 10);
    decimal_turn(d, 0, step % 10);
    d->value = v;
}

// Move d on to the next number, as an odometer turns by one: the last
// digit goes up, and every 9 before it rolls over to 0.
static inline void decimal_next(decimal *d)
{
    int i = d->len - 1;
    while (i >= 0 && d->text[i] == '9')
        d->text[i--] = '0';
    if (i >= 0) {
        ++d->text[i];
    } else {
        std::memmove(d->text + 1, d->text, static_cast<std::size_t>(d->len));
        d->text[0] = '1';
        ++d->len;
    }
    ++d->value;
}

// Put d's text at p and return its end. The whole array is copied, a copy
// of fixed size that needs no call; the bytes past the text are overwritten
// by what comes next.
static inline char *put_decimal(char *p, const decimal *d)
{
    std::memcpy(p, d->text, sizeof d->text);
    return p + d->len;
}

/* -------------------------------------------------------------- templates */

// A template cut at its placeholders while compiling, so that filling it
// costs a few copies of known lengths instead of a printf.
struct cut_template {
    const char *text;
    int hole[2];   // where "%s%04d" (or the first "%d") and a second "%d" start
    int size;      // strlen(text)
};

constexpr char id_hole[] = "%s%04d";
constexpr char number_hole[] = "%d";
constexpr int id_hole_len = static_cast<int>(std::size(id_hole)) - 1;
constexpr int number_hole_len = static_cast<int>(std::size(number_hole)) - 1;

// Where `what` first occurs in t at or after `from`, or -1.
constexpr int find(const char *t, std::string_view what, int from)
{
    const std::size_t at = std::string_view(t).find(what, static_cast<std::size_t>(from));
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// A text element's start: its id's placeholder, then its baseline's.
constexpr cut_template cut_start(const char *t)
{
    const int id = find(t, id_hole, 0);
    return {t,
            {id, find(t, number_hole, id + id_hole_len)},
            static_cast<int>(std::string_view(t).size())};
}

// A template with one number in it (the height, the footer's baseline).
constexpr cut_template cut_number(const char *t)
{
    return {t, {find(t, number_hole, 0), -1}, static_cast<int>(std::string_view(t).size())};
}

// The start template of each column, in column order.
inline constexpr cut_template column_start[column_count] = {cut_start(text1_l), cut_start(text1_c),
                                                            cut_start(text1_r)};
inline constexpr cut_template height_line = cut_number(header2);
inline constexpr cut_template footer_lines = cut_number(footer);

static_assert(
    [] {
        for (const cut_template &t : column_start)
            if (t.hole[0] < 0 || t.hole[1] < 0 || find(t.text, "%", t.hole[1] + 1) >= 0)
                return false;
        return height_line.hole[0] >= 0 && find(header2, "%", height_line.hole[0] + 1) < 0 &&
               footer_lines.hole[0] >= 0 && find(footer, "%", footer_lines.hole[0] + 1) < 0;
    }(),
    "a text element's start holds its id (%s%04d), then its baseline (%d); header2 and the "
    "footer hold one number (%d)");

// Copy t.text[from, to) to p and return the end.
static inline char *put_piece(char *p, const cut_template &t, int from, int to)
{
    std::memcpy(p, t.text + from, static_cast<std::size_t>(to - from));
    return p + (to - from);
}

/* ------------------------------------------------------------- plain text */

// Bytes that are XML text wherever they stand: printable ASCII other than
// '&' (a reference), '<' (markup) and ']' (the start of "]]>"). Most fields
// are made of nothing else; the writer notes whether they are as it copies
// them, and only other fields are looked at closely (is_xml_text).
constexpr auto plain_xml = [] {
    struct {
        bool byte[256];
    } t{};
    for (int c = 0x20; c < 0x80; ++c)
        t.byte[c] = c != '&' && c != '<' && c != ']';
    return t;
}();

/* ---------------------------------------------------------------- writers */

// The most that one text element takes: a full layout read, its template
// and two numbers, with room to spare.
constexpr std::size_t max_element = 256 + line_buffer_size;
static_assert(sizeof(receipt_out{}.buf) >= column_count * max_element);

// Take over `stream`: the stream's own buffering is turned off, since the
// output is gathered here and handed over a whole buffer at a time anyway.
void receipt_attach(receipt_out *out, std::FILE *stream)
{
    std::setvbuf(stream, nullptr, _IONBF, 0);
    out->stream = stream;
    out->len = 0;
    out->failed = false;
    out->id.width = 4;   // "%04d"
    decimal_set(&out->id, 0);
    out->y.width = 1;   // "%d"
    decimal_set(&out->y, 0);
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

// Room for the next `size` bytes (a few elements at most): the buffer is
// flushed first when they would not fit.
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

// Append raw bytes of any length (the templates without placeholders, the
// logo's data lines).
void write_bytes(receipt_out *out, const char *bytes, std::size_t n)
{
    while (n > 0) {
        if (out->len == sizeof out->buf)
            receipt_flush(out);
        const std::size_t room = sizeof out->buf - out->len;
        const std::size_t take = n < room ? n : room;
        std::memcpy(out->buf + out->len, bytes, take);
        out->len += take;
        bytes += take;
        n -= take;
    }
}

// A template holding one "%d", filled with v.
static void write_with_number(receipt_out *out, const cut_template &t, long long v)
{
    decimal d;
    d.width = 1;
    decimal_set(&d, v);
    char *p = reserve(out, static_cast<std::size_t>(t.size) + sizeof d.text);
    p = put_piece(p, t, 0, t.hole[0]);
    p = put_decimal(p, &d);
    p = put_piece(p, t, t.hole[0] + number_hole_len, t.size);
    commit(out, p);
}

void write_prologue(receipt_out *out, long long height)
{
    write_bytes(out, header1, std::size(header1) - 1);
    write_with_number(out, height_line, height);
    write_bytes(out, header3, std::size(header3) - 1);
}

// One text element at p: the column's start template with the id ("tag" or
// "text" and the element number, at least four digits) and the baseline,
// the field text unchanged (it may hold character references), then text2.
// Inlined with the column's template known, the copies have fixed lengths.
// The text is copied byte by byte, and *plain is cleared unless every byte
// is plain XML text: one look at each byte serves both ends.
static inline char *put_element(char *p, const cut_template &t, const char *text, std::size_t n,
                                const decimal *id, const decimal *y, bool *plain)
{
    const bool tag = is_field_name(text, n);
    p = put_piece(p, t, 0, t.hole[0]);
    std::memcpy(p, tag ? "tag" : "text", 4);   // "tag" with its NUL, overwritten next
    p += tag ? 3 : 4;
    p = put_decimal(p, id);
    p = put_piece(p, t, t.hole[0] + id_hole_len, t.hole[1]);
    p = put_decimal(p, y);
    p = put_piece(p, t, t.hole[1] + number_hole_len, t.size);
    bool all = true;
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        p[i] = static_cast<char>(c);
        all &= plain_xml.byte[c];
    }
    *plain = *plain && all;
    p += n;
    std::memcpy(p, text2, std::size(text2) - 1);
    return p + std::size(text2) - 1;
}

bool write_text(receipt_out *out, column col, const char *text, std::size_t n,
                long long element_number, long long baseline)
{
    bool plain = true;
    char *p = reserve(out, max_element);
    decimal_move(&out->id, element_number);
    decimal_move(&out->y, baseline);
    p = put_element(p, column_start[static_cast<int>(col)], text, n, &out->id, &out->y, &plain);
    commit(out, p);
    return plain;
}

// The elements of one row, left to right, each taking the next number: the
// row's room is made once, its baseline moved on once, and its element
// numbers stepped one by one.
bool write_row(receipt_out *out, const char *const field[column_count],
               const std::size_t field_len[column_count], long long *element_number,
               long long baseline)
{
    bool plain = true;
    char *p = reserve(out, column_count * max_element);
    decimal *id = &out->id;
    decimal_move(id, *element_number);
    decimal_move(&out->y, baseline);
    if (field_len[0] != 0) {
        p = put_element(p, column_start[0], field[0], field_len[0], id, &out->y, &plain);
        decimal_next(id);
    }
    if (field_len[1] != 0) {
        p = put_element(p, column_start[1], field[1], field_len[1], id, &out->y, &plain);
        decimal_next(id);
    }
    if (field_len[2] != 0) {
        p = put_element(p, column_start[2], field[2], field_len[2], id, &out->y, &plain);
        decimal_next(id);
    }
    *element_number = id->value;
    commit(out, p);
    return plain;
}

// A row with no text is an empty line.
void write_blank(receipt_out *out)
{
    write_bytes(out, "\n", 1);
}

void write_footer(receipt_out *out, long long baseline)
{
    write_with_number(out, footer_lines, baseline);
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
            const std::size_t len = std::string_view(e).size();
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

// Field text is copied into the receipt as it stands, so it must already
// be XML character data there. Plain bytes pass one by one; everything else
// is looked at where it stands.
bool is_xml_text(const char *text, std::size_t n)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    std::size_t i = 0;
    while (i < n) {
        if (plain_xml.byte[s[i]]) {
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

// Whether every field of non-zero length is XML text.
bool fields_are_xml_text(const char *const field[column_count],
                         const std::size_t field_len[column_count])
{
    for (int c = 0; c < column_count; ++c)
        if (field_len[c] != 0 && !is_xml_text(field[c], field_len[c]))
            return false;
    return true;
}
