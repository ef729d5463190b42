// layout.h - reading and splitting the lines of a receipt layout.
//
// A layout is a plain-text file: each line is one printed row, and TAB
// characters divide a row into up to three columns (left, centre, right).
//
// Contract
//
//   Reading. A layout_file wraps an open stream with a fixed read-ahead
//   buffer. layout_read() empties `line`, then stores the bytes of the next
//   read into it, NUL-terminated: up to and including the next line feed, or
//   until line_max (999) bytes are stored, or until end of file. It returns
//   the number of bytes stored (0 to 999), or -1 when the stream reports a
//   read error; unless text_len is null, *text_len receives strlen(line)
//   (less than the bytes stored when the read holds a NUL byte). `eof` is
//   set by a read that runs into the end of the file, so
//   a file ending in a line feed yields one last, empty read, an empty file
//   yields exactly one empty read, and a read that stops at a line feed or
//   at 999 bytes never sets it. layout_count() goes through the rest of the
//   file as layout_read() would and returns the number of reads, calling
//   warn(n) for the n-th read when it holds 999 bytes; -1 on a read error.
//   layout_rewind() returns to the start for the second pass: 0, or -1 when
//   the stream cannot seek.
//
//   Trimming. A blank byte is one of value 1 to 32; bytes from 128 up are
//   never blank. str_strip_t() trims a whole line in place: every trailing
//   blank goes, and leading blanks go up to (not including) the first TAB.
//   str_strip() trims a field in place: every leading and trailing blank goes.
//   Both accept a null pointer and do nothing. strip_line(s, n) is
//   str_strip_t() for a string whose length n is known; it returns the new
//   length.
//
//   Splitting. split_fields() takes a trimmed, non-empty line and its
//   length, overwrites the first TAB (and the first TAB after it) with NUL
//   and stores the left, centre and right fields in `field`, each trimmed as
//   str_strip() does, and their lengths in `field_len`. The left field always
//   exists; an absent centre or right field is null (length 0). The right
//   field keeps any further TABs inside it. The fields are pieces of `line`
//   and stay valid until the line is overwritten.
//
//   Rows. layout_next_row() is what the writing pass calls for each read:
//   it gives the fields (and their lengths) that layout_read(),
//   strip_line() and split_fields() would, and returns the trimmed line's
//   length (0 for a blank row, whose fields are then not set), or -1 on a
//   read error. A row that lies whole in the read-ahead is taken from it
//   where it lies, without being copied into `line`; the fields then point
//   into the read-ahead, are not NUL-terminated, and stay valid until the
//   next call.

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

// The layout stream and its read-ahead. chunk[pos, len) is not yet read.
struct layout_file {
    std::FILE *stream;
    int pos;
    int len;
    bool eof;
    bool nul_known;   // whether has_nul has been worked out for this chunk
    bool has_nul;     // whether chunk[0, len) holds a NUL byte
    char chunk[1 << 18];
};

// The three columns of a row, in writing order.
enum class column { left, centre, right };
constexpr int column_count = 3;

void layout_attach(layout_file *lf, std::FILE *stream);
int layout_read(layout_file *lf, char line[line_buffer_size], std::size_t *text_len = nullptr);
long long layout_count(layout_file *lf, void (*warn)(long long read_number));
int layout_rewind(layout_file *lf);

void str_strip_t(char *s);
void str_strip(char *s);
std::size_t strip_line(char *s, std::size_t n);
void split_fields(char *line, std::size_t len, char *field[column_count],
                  std::size_t field_len[column_count]);
int layout_next_row(layout_file *lf, char line[line_buffer_size], const char *field[column_count],
                    std::size_t field_len[column_count]);

#endif
