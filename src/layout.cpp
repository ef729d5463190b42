// layout.cpp - reading, trimming and splitting layout lines.

#include "layout.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

/* ------------------------------------------------------ words of bytes */

// Rows are scanned eight bytes at a time for line feeds and TABs. In a word
// where the sought bytes have been turned into zero bytes, zero_bytes()
// flags them with the high bit of each such byte; the lowest flag is always
// exact (higher ones may be false after a zero byte).
constexpr std::uint64_t byte_ones = 0x0101010101010101u;
constexpr std::uint64_t byte_highs = 0x8080808080808080u;
constexpr bool words_are_little_endian = std::endian::native == std::endian::little;

static inline std::uint64_t zero_bytes(std::uint64_t x)
{
    return (x - byte_ones) & ~x & byte_highs;
}

/* ---------------------------------------------------------------- reading */

// Start reading `stream` from its current position, with an empty read-ahead.
void layout_attach(layout_file *lf, std::FILE *stream)
{
    lf->stream = stream;
    lf->pos = 0;
    lf->len = 0;
    lf->eof = false;
    lf->nul_known = false;
}

// Refill the read-ahead. Returns the number of bytes now available: 0 at end
// of file (and sets eof), -1 on a read error.
static int refill(layout_file *lf)
{
    std::size_t got = std::fread(lf->chunk, 1, sizeof lf->chunk, lf->stream);
    lf->pos = 0;
    lf->len = static_cast<int>(got);
    lf->nul_known = false;
    if (got > 0)
        return lf->len;
    if (std::ferror(lf->stream))
        return -1;
    lf->eof = true;
    return 0;
}

// The bytes waiting in the read-ahead, refilling it when it is empty: 0 at
// the end of the file, -1 on a read error.
static int available(layout_file *lf)
{
    if (lf->pos < lf->len)
        return lf->len - lf->pos;
    return refill(lf);
}

// Whether the read-ahead holds a NUL byte. NUL bytes are rare: one look at
// the whole read-ahead, once per refill, saves looking for them row by row.
static bool read_ahead_has_nul(layout_file *lf)
{
    if (!lf->nul_known) {
        lf->has_nul = std::memchr(lf->chunk, '\0', static_cast<std::size_t>(lf->len)) != nullptr;
        lf->nul_known = true;
    }
    return lf->has_nul;
}

// How many of the `avail` bytes at `from` the read in progress takes when
// it has room for `room` more: through the first line feed, or as many as
// fit. *ends_line tells whether a line feed ended the piece.
static int take_piece(const char *from, int avail, int room, bool *ends_line)
{
    int take = avail < room ? avail : room;
    const void *lf_at = std::memchr(from, '\n', static_cast<std::size_t>(take));
    *ends_line = lf_at != nullptr;
    if (lf_at != nullptr)
        take = static_cast<int>(static_cast<const char *>(lf_at) - from) + 1;
    return take;
}

// Copy the first piece of the `avail` bytes at `from` to `to`, as
// take_piece() measures it, and return its length. The bytes are moved in
// words of eight, each looked at for a line feed on the way, so that no
// library call is made for a short row; and the stores start at the start
// of the read, at the very places where split_fields() loads the words
// again, so that those loads take their bytes straight from the stores.
// Whole words are stored only within the `room` bytes the read has left.
static int copy_piece(char *to, const char *from, int avail, int room, bool *ends_line)
{
    const int limit = avail < room ? avail : room;
    int i = 0;
    if constexpr (words_are_little_endian) {
        for (; i + 8 <= limit; i += 8) {
            std::uint64_t x;
            std::memcpy(&x, from + i, 8);
            std::memcpy(to + i, &x, 8);
            const std::uint64_t z = zero_bytes(x ^ byte_ones * '\n');
            if (z != 0) {
                *ends_line = true;
                return i + std::countr_zero(z) / 8 + 1;
            }
        }
    }
    for (; i < limit; ++i) {
        to[i] = from[i];
        if (from[i] == '\n') {
            *ends_line = true;
            return i + 1;
        }
    }
    *ends_line = false;
    return limit;
}

// Store the next read in `line`, the way a line read with a size limit does:
// through the next line feed, or line_max bytes, or to the end of the file.
// The read-ahead lets a whole row be found and copied in one pass instead
// of going through the stream byte by byte. The length of the stored
// string (shorter than the read if it holds a NUL byte) goes to *text_len,
// unless that is null; it is measured in the read-ahead, not in the copy
// just stored, which would have to wait for the copy to land.
int layout_read(layout_file *lf, char line[line_buffer_size], std::size_t *text_len)
{
    int stored = 0;
    int text = -1;   // where the first NUL byte went, if any
    for (;;) {
        const int avail = available(lf);
        if (avail < 0)
            return -1;
        if (avail == 0)
            break;
        const char *from = lf->chunk + lf->pos;
        bool ends_line;
        const int take = copy_piece(line + stored, from, avail, line_max - stored, &ends_line);
        if (text_len != nullptr && text < 0 && read_ahead_has_nul(lf)) {
            const void *nul = std::memchr(from, '\0', static_cast<std::size_t>(take));
            if (nul != nullptr)
                text = stored + static_cast<int>(static_cast<const char *>(nul) - from);
        }
        stored += take;
        lf->pos += take;
        if (ends_line || stored == line_max)
            break;
    }
    line[stored] = '\0';
    if (text_len != nullptr)
        *text_len = static_cast<std::size_t>(text < 0 ? stored : text);
    return stored;
}

// The counting pass looks at the read-ahead in blocks of this many bytes.
// A block is short enough that a byte can count the line feeds in every
// sixteenth byte of it, and much shorter than a read of line_max bytes.
constexpr int count_block = 192;
static_assert(count_block % 8 == 0 && count_block < 256 && count_block < line_warn_above);

// The number of line feeds in the count_block bytes at p. On x86-64 each
// of 16 byte lanes counts the line feeds in every sixteenth byte, and one
// sum of absolute differences adds the lanes up. Elsewhere a plain loop
// keeps the same sixteen counts, which compilers turn into vector code.
static int line_feeds_in_block(const char *p)
{
    constexpr int lanes = 16;
    static_assert(count_block % lanes == 0);
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    __m128i lane_count = _mm_setzero_si128();
    for (int i = 0; i < count_block; i += lanes) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        lane_count = _mm_sub_epi8(lane_count, _mm_cmpeq_epi8(x, feed));   // a match is -1
    }
    const __m128i sums = _mm_sad_epu8(lane_count, _mm_setzero_si128());
    return _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
#else
    unsigned char lane_count[lanes] = {};
    for (int i = 0; i < count_block; i += lanes)
        for (int j = 0; j < lanes; ++j)
            lane_count[j] = static_cast<unsigned char>(lane_count[j] + (p[i + j] == '\n'));
    int n = 0;
    for (int j = 0; j < lanes; ++j)
        n += lane_count[j];
    return n;
#endif
}

// Where the last line feed of the count_block bytes at p is; there is one.
// Little-endian words are searched from the end of the block, with a test
// that flags exactly the line feeds, so that the highest flag is right.
static int last_line_feed(const char *p)
{
    if constexpr (words_are_little_endian) {
        constexpr std::uint64_t lows = ~byte_highs;
        for (int i = count_block - 8; i >= 0; i -= 8) {
            std::uint64_t x;
            std::memcpy(&x, p + i, 8);
            x ^= byte_ones * '\n';   // line feeds become zero bytes
            const std::uint64_t z = ~(((x & lows) + lows) | x | lows);
            if (z != 0)
                return i + (63 - std::countl_zero(z)) / 8;
        }
    }
    int i = count_block - 1;
    while (p[i] != '\n')
        --i;
    return i;
}

// Count the reads that layout_read() would make from here to the end of the
// file, and call warn(n) for the n-th read when it holds line_max bytes. The
// counting pass needs nothing else, so it only looks for line feeds: no
// byte is copied. Where the read in progress cannot reach line_max bytes
// within the next block, every line feed in the block ends a read, and
// the block's line feeds are just counted; elsewhere (near a long line, and
// at the end of the read-ahead) the block is gone through read by read.
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
        const char *from = lf->chunk + lf->pos;
        const char *const end = lf->chunk + lf->len;
        while (from < end) {
            if (end - from >= count_block && stored + count_block <= line_warn_above) {
                const int feeds = line_feeds_in_block(from);
                if (feeds == 0) {
                    stored += count_block;
                } else {
                    count += feeds;
                    stored = count_block - 1 - last_line_feed(from);
                }
                from += count_block;
                continue;
            }
            const char *const stop = end - from > count_block ? from + count_block : end;
            while (from < stop) {
                bool ends_line;
                const int take =
                    take_piece(from, static_cast<int>(stop - from), line_max - stored, &ends_line);
                stored += take;
                from += take;
                if (ends_line || stored == line_max) {
                    ++count;
                    if (stored > line_warn_above)
                        warn(count);
                    stored = 0;
                }
            }
        }
        lf->pos = lf->len;
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
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

// Trim `s` (n bytes before its NUL) in place and return its new length.
// Trailing blanks always go; leading blanks go up to the first TAB when
// keep_tab is set (a leading TAB moves text to the centre column), or all
// of them when it is not.
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

std::size_t strip_line(char *s, std::size_t n)
{
    return strip(s, n, true);
}

/* -------------------------------------------------------------- splitting */

// Where the first two TABs of s[0, n) are (n for a TAB that is not there).
// The line was stored a moment ago, so it is read in words of eight bytes
// from its start: such loads fall within the stores that copied the line
// and take their bytes straight from them, where a vector scan from an odd
// place would wait for the stores to land.
static void find_tabs(const char *s, std::size_t n, std::size_t tab[2])
{
    tab[0] = n;
    tab[1] = n;
    int found = 0;
    std::size_t i = 0;
    if constexpr (words_are_little_endian) {
        for (; i + 8 <= n; i += 8) {
            std::uint64_t x;
            std::memcpy(&x, s + i, 8);
            x ^= byte_ones * '\t';   // TAB bytes become zero bytes
            // Only the lowest flag is exact: take it, mark its byte as seen,
            // and look again for the next one.
            for (std::uint64_t z = zero_bytes(x); z != 0; z = zero_bytes(x)) {
                const int byte = std::countr_zero(z) / 8;
                tab[found++] = i + static_cast<std::size_t>(byte);
                if (found == 2)
                    return;
                x |= std::uint64_t{0xff} << (8 * byte);
            }
        }
    }
    for (; i < n; ++i) {
        if (s[i] == '\t') {
            tab[found++] = i;
            if (found == 2)
                return;
        }
    }
}

// Cut a trimmed line of `len` bytes into its left, centre and right fields
// at its first two TABs. Nothing is copied: the TABs become terminators.
// Each field is trimmed as str_strip() does; its length lands in
// field_len, so nobody has to measure it again.
void split_fields(char *line, std::size_t len, char *field[column_count],
                  std::size_t field_len[column_count])
{
    std::size_t tab[2];
    find_tabs(line, len, tab);
    char *left = line;
    char *centre = nullptr;
    char *right = nullptr;
    std::size_t left_len = len;
    std::size_t centre_len = 0;
    std::size_t right_len = 0;

    if (tab[0] < len) {
        line[tab[0]] = '\0';
        left_len = tab[0];
        centre = line + tab[0] + 1;
        centre_len = len - tab[0] - 1;
        // The right field starts after the next TAB, if the centre field
        // has one; it keeps any TABs after that.
        if (tab[1] < len) {
            line[tab[1]] = '\0';
            centre_len = tab[1] - tab[0] - 1;
            right = line + tab[1] + 1;
            right_len = len - tab[1] - 1;
        }
    }
    field[static_cast<int>(column::left)] = left;
    field[static_cast<int>(column::centre)] = centre;
    field[static_cast<int>(column::right)] = right;
    field_len[static_cast<int>(column::left)] = strip(left, left_len, false);
    field_len[static_cast<int>(column::centre)] = centre ? strip(centre, centre_len, false) : 0;
    field_len[static_cast<int>(column::right)] = right ? strip(right, right_len, false) : 0;
}

/* ----------------------------------------------------------------- rows */

// Trim the range [*from, *to) of s: blank bytes go from both ends.
static inline void trim_range(const char *s, std::size_t *from, std::size_t *to)
{
    while (*to > *from && is_blank(s[*to - 1]))
        --*to;
    while (*from < *to && is_blank(s[*from]))
        ++*from;
}

// The line feeds and TABs among the 16 bytes at s, as masks: bit k stands
// for s[k]. x86-64 compares all 16 at once; elsewhere a plain loop does.
struct row_marks {
    unsigned feeds;
    unsigned tabs;
};

static inline row_marks marks_16(const char *s)
{
#if defined(__SSE2__)
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
    return {static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('\n')))),
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('\t'))))};
#else
    row_marks m{0, 0};
    for (int k = 0; k < 16; ++k) {
        m.feeds |= static_cast<unsigned>(s[k] == '\n') << k;
        m.tabs |= static_cast<unsigned>(s[k] == '\t') << k;
    }
    return m;
#endif
}

// Where the first line feed among the `limit` bytes at s is, and the
// first two TABs (in tab[]); limit for one that is not there. TABs past the
// line feed may be taken too: they lie past the end of the trimmed row,
// where no TAB divides anything.
static std::size_t scan_row(const char *s, std::size_t limit, std::size_t tab[2])
{
    tab[0] = limit;
    tab[1] = limit;
    if (limit >= 32) {
        // Most rows end within 32 bytes: both blocks' marks at once, and
        // the first two TABs straight from the mask.
        const row_marks a = marks_16(s);
        const row_marks b = marks_16(s + 16);
        const std::uint32_t feeds = a.feeds | b.feeds << 16;
        if (feeds != 0) {
            const std::uint32_t t = a.tabs | b.tabs << 16;
            const std::uint32_t rest = t & (t - 1);
            if (t != 0)
                tab[0] = static_cast<std::size_t>(std::countr_zero(t));
            if (rest != 0)
                tab[1] = static_cast<std::size_t>(std::countr_zero(rest));
            return static_cast<std::size_t>(std::countr_zero(feeds));
        }
    }
    int tabs = 0;
    std::size_t i = 0;
    for (; i + 16 <= limit; i += 16) {
        const row_marks m = marks_16(s + i);
        for (unsigned t = m.tabs; t != 0 && tabs < 2; t &= t - 1)
            tab[tabs++] = i + static_cast<std::size_t>(std::countr_zero(t));
        if (m.feeds != 0)
            return i + static_cast<std::size_t>(std::countr_zero(m.feeds));
    }
    for (; i < limit; ++i) {
        if (s[i] == '\n')
            return i;
        if (s[i] == '\t' && tabs < 2)
            tab[tabs++] = i;
    }
    return limit;
}

// Take the next row straight from the read-ahead when it lies there whole:
// it ends in a line feed within line_max bytes and the read-ahead holds no
// NUL byte. One pass over its bytes, 16 at a time, finds the line feed and
// the TABs before it; the fields are then ranges of the read-ahead, trimmed
// where they lie, so nothing is copied or edited. The outcome is the one
// layout_read(), strip_line() and split_fields() give for the same read.
// Returns the trimmed line's length, or -1 when the row does not qualify
// (nothing is consumed then).
static int row_in_place(layout_file *lf, const char *field[column_count],
                        std::size_t field_len[column_count])
{
    const int avail = lf->len - lf->pos;
    if (avail <= 0)
        return -1;
    if (read_ahead_has_nul(lf))
        return -1;
    const char *const s = lf->chunk + lf->pos;
    const std::size_t limit = static_cast<std::size_t>(avail < line_max ? avail : line_max);
    std::size_t tab[2];
    const std::size_t feed = scan_row(s, limit, tab);
    if (feed == limit)
        return -1;
    lf->pos += static_cast<int>(feed) + 1;

    // Trailing blanks go first: TABs among them divide nothing.
    std::size_t end = feed;
    while (end > 0 && is_blank(s[end - 1]))
        --end;
    if (end == 0)
        return 0;
    std::size_t left_from = 0;
    std::size_t left_to = tab[0] < end ? tab[0] : end;
    trim_range(s, &left_from, &left_to);
    // The trimmed line starts at its first byte that is not blank, or at
    // the first TAB when the left field is all blanks.
    const std::size_t line_from = left_to > left_from ? left_from : tab[0];
    field[static_cast<int>(column::left)] = s + left_from;
    field_len[static_cast<int>(column::left)] = left_to - left_from;
    field[static_cast<int>(column::centre)] = nullptr;
    field_len[static_cast<int>(column::centre)] = 0;
    field[static_cast<int>(column::right)] = nullptr;
    field_len[static_cast<int>(column::right)] = 0;
    if (tab[0] < end) {
        std::size_t from = tab[0] + 1;
        std::size_t to = tab[1] < end ? tab[1] : end;
        trim_range(s, &from, &to);
        field[static_cast<int>(column::centre)] = s + from;
        field_len[static_cast<int>(column::centre)] = to - from;
        if (tab[1] < end) {
            from = tab[1] + 1;
            to = end;
            trim_range(s, &from, &to);
            field[static_cast<int>(column::right)] = s + from;
            field_len[static_cast<int>(column::right)] = to - from;
        }
    }
    return static_cast<int>(end - line_from);
}

// The writing pass's next row: taken in place when it can be, otherwise
// read into `line`, trimmed and split there.
int layout_next_row(layout_file *lf, char line[line_buffer_size], const char *field[column_count],
                    std::size_t field_len[column_count])
{
    const int in_place = row_in_place(lf, field, field_len);
    if (in_place >= 0)
        return in_place;
    std::size_t len;
    if (layout_read(lf, line, &len) < 0)
        return -1;
    len = strip_line(line, len);
    if (len == 0)
        return 0;
    char *cut[column_count];
    split_fields(line, len, cut, field_len);
    for (int c = 0; c < column_count; ++c)
        field[c] = cut[c];
    return static_cast<int>(len);
}
