// layout.h - reading, trimming and splitting the lines of a receipt layout.
//
// A layout is a plain-text file: each line is one printed row, and TAB
// characters divide a row into up to three columns (left, centre, right).
//
// Contract
//
//   Reads. A layout_file wraps an open stream with a fixed read-ahead. A read
//   is what a line read with a size limit takes: the bytes up to and
//   including the next line feed, or line_max (999) bytes, or what is left
//   before the end of the file. `eof` is set by the read that runs into the
//   end of the file, so a file ending in a line feed yields one last, empty
//   read, an empty file yields exactly one empty read, and a read that stops
//   at a line feed or at 999 bytes never sets it. A file that starts with the
//   UTF-8 byte order mark EF BB BF is read from the byte after it; a mark
//   anywhere else is text.
//
//   layout_read(lf, line) stores the next read in `line`, NUL-terminated,
//   and returns the number of bytes stored (0 to 999), or -1 when the stream
//   reports a read error.
//
//   layout_count(lf, warn) goes through the rest of the file as reads would
//   and returns their number, calling warn(n) for the n-th read when it holds
//   line_max bytes; -1 on a read error.
//
//   layout_rewind(lf) returns to the start for the second pass: 0, or -1
//   when the stream cannot seek.
//
//   Trimming. A blank byte is one of value 1 to 32; bytes from 128 up are
//   never blank. str_strip_t(s) trims a whole line in place: every trailing
//   blank goes, and leading blanks go up to (not including) the first TAB.
//   str_strip(s) trims a field in place: every leading and trailing blank
//   goes. Both accept a null pointer and do nothing.
//
//   Splitting. split_fields(line, len, row) takes a line trimmed by
//   str_strip_t, not empty, of `len` bytes; it overwrites the first TAB (and
//   the first TAB after it) with NUL and stores the left, centre and right
//   fields in `row`, each trimmed as str_strip() does, with their lengths.
//   The left field always exists; an absent centre or right field is null
//   (length 0). The right field keeps any further TABs inside it. The fields
//   are pieces of `line`.
//
//   Rows. layout_next_row(lf, line, row) is what the writing pass calls for
//   each read: it takes the read, as a C string (a NUL byte ends its text),
//   trims it with str_strip_t and, unless it is empty, splits it. It returns
//   the trimmed line's length (0 for a blank row, whose fields are then
//   null), or -1 on a read error; row->has_nul tells whether the read held
//   a NUL byte. A read that ends with its line feed inside the read-ahead is
//   trimmed and split where it lies; any other read is copied into `line`
//   first. Either way the fields stay valid until the next call.

#ifndef GEN_XML_LAYOUT_H
#define GEN_XML_LAYOUT_H

#include <cstddef>
#include <cstdio>

// One read of the layout: at most line_max bytes and the terminating NUL.
constexpr int line_buffer_size = 1000;
constexpr int line_max = line_buffer_size - 1;

// A read of line_max bytes draws the "too long" warning, even when it happens
// to end with its line feed.
constexpr int line_warn_above = line_max - 1;

// The read-ahead's size. Tests build the tool with a read-ahead of a few
// dozen bytes (GEN_XML_READ_AHEAD), so that reads cross its end on nearly
// every row.
#ifdef GEN_XML_READ_AHEAD
constexpr int read_ahead_size = GEN_XML_READ_AHEAD;
#else
constexpr int read_ahead_size = 1 << 18;
#endif
static_assert(read_ahead_size >= 1);

// The layout stream and its read-ahead. chunk[pos, len) is not yet read.
struct layout_file {
    std::FILE *stream;
    int pos;
    int len;
    bool eof;
    bool at_start;   // the next refill is the file's first
    bool has_nul;    // whether chunk[0, len) holds a NUL byte
    char chunk[read_ahead_size];
};

// The three columns of a row, in writing order.
enum class column { left, centre, right };
constexpr int column_count = 3;

// One row of the writing pass: its fields (null when absent) and their
// lengths, and whether its read held a NUL byte.
struct layout_row {
    char *field[column_count];
    std::size_t len[column_count];
    bool has_nul;
};

void layout_attach(layout_file *lf, std::FILE *stream);
int layout_read(layout_file *lf, char line[line_buffer_size]);
long long layout_count(layout_file *lf, void (*warn)(long long read_number));
int layout_rewind(layout_file *lf);

void str_strip_t(char *s);
void str_strip(char *s);
void split_fields(char *line, std::size_t len, layout_row *row);
int layout_next_row(layout_file *lf, char line[line_buffer_size], layout_row *row);

#endif
