// layout.cpp - reading, trimming and splitting layout lines.

#include "layout.h"

#include <cstring>

/* ---------------------------------------------------------------- reading */

// Start reading `stream` from its start, with an empty read-ahead.
void layout_attach(layout_file *lf, std::FILE *stream)
{
    lf->stream = stream;
    lf->pos = 0;
    lf->len = 0;
    lf->eof = false;
    lf->at_start = true;
    lf->has_nul = false;
}

// The UTF-8 byte order mark that Windows editors put in front of a file.
constexpr char byte_order_mark[] = "\xEF\xBB\xBF";
constexpr int byte_order_mark_len = static_cast<int>(sizeof byte_order_mark) - 1;
static_assert(read_ahead_size >= byte_order_mark_len, "the mark must fit in the first refill");

// Refill the used-up read-ahead and return the bytes now waiting: 0 at the
// end of the file (which sets eof), -1 on a read error. A refill also notes
// whether the new bytes hold a NUL byte, so that rows need not look. A byte
// order mark at the very start of the file is passed over: it is not text,
// and left in it would hide a field name in the first column.
static int refill(layout_file *lf)
{
    while (lf->pos >= lf->len) {
        const std::size_t got = std::fread(lf->chunk, 1, sizeof lf->chunk, lf->stream);
        lf->pos = 0;
        lf->len = static_cast<int>(got);
        lf->has_nul = std::memchr(lf->chunk, '\0', got) != nullptr;
        if (got == 0) {
            if (std::ferror(lf->stream))
                return -1;
            lf->eof = true;
            return 0;
        }
        if (lf->at_start && lf->len >= byte_order_mark_len &&
            std::memcmp(lf->chunk, byte_order_mark, byte_order_mark_len) == 0)
            lf->pos = byte_order_mark_len;
        lf->at_start = false;
    }
    return lf->len - lf->pos;
}

// The bytes waiting in the read-ahead, refilled when it is used up.
static inline int available(layout_file *lf)
{
    return lf->pos < lf->len ? lf->len - lf->pos : refill(lf);
}

// How many of the `avail` bytes at `from` the read in progress takes when it
// has room for `room` more: through the first line feed, or as many as fit.
// *ends_line tells whether a line feed ended the piece.
static int take_piece(const char *from, int avail, int room, bool *ends_line)
{
    int take = avail < room ? avail : room;
    const char *feed = static_cast<const char *>(std::memchr(from, '\n', take));
    *ends_line = feed != nullptr;
    if (feed != nullptr)
        take = static_cast<int>(feed - from) + 1;
    return take;
}

// Store the next read in `line`, piece by piece across refills of the
// read-ahead, the way a line read with a size limit does.
int layout_read(layout_file *lf, char line[line_buffer_size])
{
    int stored = 0;
    for (;;) {
        const int avail = available(lf);
        if (avail < 0)
            return -1;
        if (avail == 0)
            break;
        bool ends_line;
        const int take = take_piece(lf->chunk + lf->pos, avail, line_max - stored, &ends_line);
        std::memcpy(line + stored, lf->chunk + lf->pos, static_cast<std::size_t>(take));
        stored += take;
        lf->pos += take;
        if (ends_line || stored == line_max)
            break;
    }
    line[stored] = '\0';
    return stored;
}

// Count the reads that layout_read() would make from here to the end of the
// file, and call warn(n) for the n-th read when it holds line_max bytes. The
// count needs nothing else, so no byte is copied: reads are only measured.
long long layout_count(layout_file *lf, void (*warn)(long long read_number))
{
    long long count = 0;
    int stored = 0;   // bytes of the read in progress
    for (;;) {
        const int avail = available(lf);
        if (avail < 0)
            return -1;
        if (avail == 0)
            break;
        bool ends_line;
        const int take = take_piece(lf->chunk + lf->pos, avail, line_max - stored, &ends_line);
        stored += take;
        lf->pos += take;
        if (ends_line || stored == line_max) {
            ++count;
            if (stored > line_warn_above)
                warn(count);
            stored = 0;
        }
    }
    // The read that runs into the end of the file: the rest of the last
    // line, or nothing.
    return count + 1;
}

// Go back to the first byte for the writing pass; this also clears eof.
int layout_rewind(layout_file *lf)
{
    if (std::fseek(lf->stream, 0, SEEK_SET) != 0)
        return -1;
    std::clearerr(lf->stream);
    layout_attach(lf, lf->stream);
    return 0;
}

/* --------------------------------------------------------------- trimming */

// Space and every control character; bytes from 128 up are never blank.
static bool is_blank(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

// Trim `s` (n bytes before its NUL) in place and return its new length.
// Trailing blanks become NUL bytes; leading blanks go up to the first TAB
// when keep_tab is set (a leading TAB moves text to the centre column), or
// all of them when it is not, and the rest moves to the start.
static std::size_t strip(char *s, std::size_t n, bool keep_tab)
{
    while (n > 0 && is_blank(s[n - 1]))
        s[--n] = '\0';
    std::size_t lead = 0;
    while (lead < n && is_blank(s[lead]) && !(keep_tab && s[lead] == '\t'))
        ++lead;
    if (lead > 0) {
        std::memmove(s, s + lead, n - lead + 1);
        n -= lead;
    }
    return n;
}

// Trim a whole layout line, keeping a leading TAB.
void str_strip_t(char *s)
{
    if (s != nullptr)
        strip(s, std::strlen(s), true);
}

// Trim one field, TABs included.
void str_strip(char *s)
{
    if (s != nullptr)
        strip(s, std::strlen(s), false);
}

/* -------------------------------------------------------------- splitting */

// Cut a trimmed line of `len` bytes into its left, centre and right fields
// at its first two TABs, which become terminators; nothing is copied. Each
// field is trimmed as str_strip() does, and its length kept with it.
void split_fields(char *line, std::size_t len, layout_row *row)
{
    char *start[column_count] = {line, nullptr, nullptr};
    std::size_t n[column_count] = {len, 0, 0};
    char *tab = static_cast<char *>(std::memchr(line, '\t', len));
    if (tab != nullptr) {
        *tab = '\0';
        n[0] = static_cast<std::size_t>(tab - line);
        start[1] = tab + 1;
        n[1] = len - n[0] - 1;
        // The right field starts after the centre field's first TAB and
        // keeps any TABs after that.
        tab = static_cast<char *>(std::memchr(start[1], '\t', n[1]));
        if (tab != nullptr) {
            *tab = '\0';
            start[2] = tab + 1;
            n[2] = n[1] - static_cast<std::size_t>(tab - start[1]) - 1;
            n[1] = static_cast<std::size_t>(tab - start[1]);
        }
    }
    for (int c = 0; c < column_count; ++c) {
        row->field[c] = start[c];
        row->len[c] = start[c] != nullptr ? strip(start[c], n[c], false) : 0;
    }
}

/* ------------------------------------------------------------------- rows */

// The writing pass's next row. A read that ends with its line feed inside
// the read-ahead is used where it lies: its line feed becomes its
// terminator (trimming would remove it anyway), and it is trimmed and split
// in place, since its bytes are not looked at again. Any other read (one
// that crosses the end of the read-ahead, one cut at line_max bytes, the
// last one) is copied into `line` first.
int layout_next_row(layout_file *lf, char line[line_buffer_size], layout_row *row)
{
    const int avail = available(lf);
    if (avail < 0)
        return -1;
    char *s = lf->chunk + lf->pos;
    char *feed = static_cast<char *>(std::memchr(s, '\n', avail < line_max ? avail : line_max));
    std::size_t stored;   // the bytes of the read, its line feed left out
    std::size_t n;        // the bytes of its text
    if (feed != nullptr) {
        *feed = '\0';
        stored = static_cast<std::size_t>(feed - s);
        lf->pos += static_cast<int>(stored) + 1;
        n = lf->has_nul ? std::strlen(s) : stored;
    } else {
        const int got = layout_read(lf, line);
        if (got < 0)
            return -1;
        s = line;
        stored = static_cast<std::size_t>(got);
        n = std::strlen(s);
    }
    // A read is taken as a C string: a NUL byte ends its text.
    row->has_nul = n != stored;
    n = strip(s, n, true);
    for (int c = 0; c < column_count; ++c) {
        row->field[c] = nullptr;
        row->len[c] = 0;
    }
    if (n == 0)
        return 0;
    split_fields(s, n, row);
    return static_cast<int>(n);
}
