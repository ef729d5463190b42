// receipt.h - the receipt document: its templates, field names and writers.
//
// The receipt is an SVG 1.1 document, 576 user units wide, assembled from the
// constant templates below. "%d" stands for a decimal number, "%s%04d" for an
// element id: the prefix "tag" or "text", then the element number with at
// least four digits.
//
// Contract
//
//   is_tag(s): 1 when s is byte for byte one of the 17 field names, else 0;
//   0 for a null pointer.
//
//   receipt_height(line_count, has_image): 30 * (line_count + 2), plus 250
//   with a logo. 64-bit, so no layout is too long for it.
//
//   Writers. A receipt_out collects output in a fixed buffer and hands it to
//   its stream (unbuffered from receipt_attach on) a whole buffer at a time.
//   The writers never report failure themselves: a failed write sets
//   `failed`, which stays set, and all later output is dropped. Check
//   `failed` (or the result of receipt_flush or receipt_close) wherever the
//   run must stop on a write error. receipt_close() flushes, closes the
//   stream and returns 0, or -1 when any write, the flush or the close
//   failed; the stream is closed either way.
//
//   write_text() writes one text element; write_row() writes the elements of
//   a split row, one per field of non-zero length, left to right, numbering
//   them from *element_number on and advancing it past them. Both return
//   true when every byte of text they copied was plain (printable ASCII but
//   '&', '<' and ']'), which is XML text for sure; false means only that the
//   text needs a closer look. Element numbers, baselines and heights are
//   numbers from 0 up.
//
//   XML text. is_xml_text(s, n) judges the n bytes at s (a NUL byte among
//   them counts as a byte, not as an end). It returns true when they may
//   stand as they are between a start tag and an end tag of the receipt,
//   else false. That holds when they are well-formed UTF-8 (no overlong
//   form, no surrogate, nothing above U+10FFFF, no sequence cut off at the
//   end); every character is one XML 1.0 allows (TAB, LF, CR, U+0020 and up
//   except U+FFFE and U+FFFF); there is no '<' and no "]]>"; and every '&'
//   starts &amp; &lt; &gt; &quot; &apos; or a reference &#digits; or
//   &#xhex-digits; to an allowed character. No other entity is declared in
//   the receipt. n = 0 is true. fields_are_xml_text(field, field_len) tells
//   whether every field of non-zero length is XML text.

#ifndef GEN_XML_RECEIPT_H
#define GEN_XML_RECEIPT_H

#include <cstddef>
#include <cstdio>

#include "layout.h"

/* -------------------------------------------------------------- templates */

// Prologue: XML declaration and the svg start tag, in three pieces so that
// the height (known after the counting pass) goes in between.
inline constexpr char header1[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "\n"
                                  "<svg\n"
                                  "   xmlns:svg=\"http://www.w3.org/2000/svg\"\n"
                                  "   xmlns=\"http://www.w3.org/2000/svg\"\n"
                                  "   xmlns:xlink=\"http://www.w3.org/1999/xlink\"\n"
                                  "   version=\"1.1\"\n"
                                  "   width=\"576\"\n";
inline constexpr char header2[] = "   height=\"%d\"\n";
inline constexpr char header3[] = "   id=\"svg1\"\n"
                                  "   font-family=\"Arial Unicode\">\n"
                                  "\n";

// The logo's image element; the Base64 data lines stand between the two.
inline constexpr char image1[] = "\t<image\n"
                                 "\t\txlink:href=\"data:image/bmp;base64,";
inline constexpr char image2[] = "\"\n"
                                 "\t\tx=\"6\" y=\"0\" width=\"560\" height=\"220\" />\n"
                                 "\n";

// One text element per field: the column's start, the field text, text2.
inline constexpr char text1_l[] =
    "\t<text id=\"%s%04d\" x=\"0\" y=\"%d\" text-anchor=\"start\" font-size=\"30px\">";
inline constexpr char text1_c[] =
    "\t<text id=\"%s%04d\" x=\"288\" y=\"%d\" text-anchor=\"middle\" font-size=\"30px\">";
inline constexpr char text1_r[] =
    "\t<text id=\"%s%04d\" x=\"575\" y=\"%d\" text-anchor=\"end\" font-size=\"30px\">";
inline constexpr char text2[] = "</text>\n";

// The end of every receipt. The sup tags are character references on
// purpose: they print as text; the sign between them is U+00AE in UTF-8.
inline constexpr char footer[] =
    "\n"
    "<text id=\"text9999\" x=\"288\" y=\"%d\" text-anchor=\"middle\" font-size=\"22px\">"
    "Printed by Morvath Pallex&#60;sup&#62;\xC2\xAE&#60;/sup&#62;</text>\n"
    "</svg>\n";

/* ------------------------------------------------------------ field names */

// Layout text that is exactly one of these is a field the printing system
// fills in later; its element id starts with "tag" instead of "text".
inline constexpr const char *field_names[] = {
    "charge_time_stamp",      "charge_time_dmyy_hms", "charge_time_yymd_hms",
    "charge_time_dmyy",       "charge_time_yymd",     "charge_time_hms",
    "charge_value_sign",      "charge_value",         "charge_sign",
    "logged_user_name_login", "logged_user_name",     "logged_user_login",
    "logged_user_oldcredit",  "cfg_hostname",         "logged_user_currentcredit",
    "servercfg_receipt_text", "receipt_id",
};

int is_tag(const char *s);

/* --------------------------------------------------------------- geometry */

constexpr long long row_pitch = 30;
constexpr long long first_baseline = 30;
constexpr long long logo_height = 250;   // added to the document height
constexpr long long logo_shift = 220;    // added to the baseline

long long receipt_height(long long line_count, bool has_image);

/* ---------------------------------------------------------------- writers */

// A number from 0 up, kept as the decimal text it is written as (with zeros
// in front to at least `width` digits), so that moving it on to the next
// element or row changes a digit or two instead of converting it anew.
struct decimal {
    long long value;
    int width;
    int len;
    char text[24];
};

struct receipt_out {
    std::FILE *stream;
    std::size_t len;
    bool failed;
    decimal id;   // the last element number written
    decimal y;    // the last baseline written
    char buf[1 << 17];
};

void receipt_attach(receipt_out *out, std::FILE *stream);
void write_prologue(receipt_out *out, long long height);
bool write_text(receipt_out *out, column col, const char *text, std::size_t len,
                long long element_number, long long baseline);
bool write_row(receipt_out *out, const char *const field[column_count],
               const std::size_t field_len[column_count], long long *element_number,
               long long baseline);
void write_blank(receipt_out *out);
void write_footer(receipt_out *out, long long baseline);
void write_bytes(receipt_out *out, const char *bytes, std::size_t n);
int receipt_flush(receipt_out *out);
int receipt_close(receipt_out *out);

/* --------------------------------------------------------------- XML text */

// Field text goes into the receipt unescaped; this tells whether it can.
bool is_xml_text(const char *s, std::size_t n);
bool fields_are_xml_text(const char *const field[column_count],
                         const std::size_t field_len[column_count]);

#endif
