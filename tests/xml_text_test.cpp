// xml_text_test.cpp - is_xml_text: which field texts may stand unescaped in
// the receipt. A table of cases for each rule, and a cross-check against
// xmllint on random fields.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "receipt.h"
#include "run_tool.h"

namespace {

bool xml_text(const std::string &s)
{
    return is_xml_text(s.data(), s.size());
}

// Bytes shown as C escapes, so that a failing case can be read.
std::string shown(const std::string &s)
{
    std::string out;
    char hex[8];
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

struct text_case {
    std::string text;
    bool valid;
};

void check_table(const std::vector<text_case> &cases)
{
    for (const text_case &c : cases)
        EXPECT_EQ(xml_text(c.text), c.valid) << "\"" << shown(c.text) << "\"";
}

/* ------------------------------------------------------------- the rules */

TEST(XmlText, PlainTextAndMarkup)
{
    check_table({
        {"", true},
        {"Fish and Chips 4.50", true},
        {"> \" ' = / ? ! # ; [ ] } { ~", true},
        {"<", false},
        {"Tax <incl.>", false},
        {"a<", false},
        {"]]>", false},
        {"a]]>b", false},
        {"]]]>", false},
        {"]]", true},
        {"]", true},
        {"a]]", true},
        {"]] >", true},
        {"] ]>", true},
        {"]>", true},
        {"]]&gt;", true},
    });
}

TEST(XmlText, EntitiesAndCharacterReferences)
{
    check_table({
        // The five predefined entities, and nothing else by name.
        {"&amp;", true},
        {"&lt;", true},
        {"&gt;", true},
        {"&quot;", true},
        {"&apos;", true},
        {"Fish &amp; Chips &lt;1&gt; &quot;q&quot; &apos;a&apos;", true},
        {"&nbsp;", false},
        {"&copy;", false},
        {"&AMP;", false},
        {"&am;", false},
        {"&ampx;", false},
        {"&", false},
        {"Fish & Chips", false},
        {"&amp", false},
        {"&amp x;", false},
        {"&&amp;", false},
        {"&;", false},
        // Decimal references.
        {"&#65;", true},
        {"&#169;", true},
        {"&#0000065;", true},
        {"&#9;&#10;&#13;&#32;", true},
        {"&#1114111;", true},   // U+10FFFF
        {"&#0;", false},
        {"&#8;", false},
        {"&#31;", false},
        {"&#55296;", false},     // U+D800
        {"&#65534;", false},     // U+FFFE
        {"&#1114112;", false},   // U+110000
        {"&#;", false},
        {"&#", false},
        {"&#65", false},
        {"&#6a;", false},
        {"&# 65;", false},
        // Hexadecimal references: a small x, digits in either case.
        {"&#x41;", true},
        {"&#xa9;&#xA9;&#xaBc;", true},
        {"&#x1F600;", true},
        {"&#x10FFFF;", true},
        {"&#xD7FF;&#xE000;&#xFFFD;&#x10000;", true},
        {"&#x7F;&#x80;&#x9F;", true},
        {"&#x0;", false},
        {"&#xD800;", false},
        {"&#xDFFF;", false},
        {"&#xFFFE;", false},
        {"&#xFFFF;", false},
        {"&#x110000;", false},
        {"&#X41;", false},
        {"&#x;", false},
        {"&#x", false},
        {"&#x41", false},
        {"&#xG;", false},
        // Numbers far past the last code point, also ones that wrap a
        // 64-bit number round to an allowed character (2^64 + 65).
        {"&#99999999999999999999999999999999;", false},
        {"&#18446744073709551681;", false},
        {"&#x10000000000000041;", false},
        {"&#xFFFFFFFFFFFFFFFFFFFFFFFF;", false},
        {"&#00000000000000000000000000000065;", true},
        {"&#x00000000000000000000000000000041;", true},
    });
}

TEST(XmlText, Utf8)
{
    check_table({
        {"Caf\xC3\xA9", true},                // 2 bytes
        {"\xE2\x82\xAC 5", true},             // 3 bytes
        {"\xF0\x9F\x98\x80", true},           // 4 bytes
        {"\xC2\x80\xC2\x85\xC2\x9F", true},   // the C1 range
        {"\xE0\xA0\x80", true},               // U+0800
        {"\xED\x9F\xBF\xEE\x80\x80", true},   // U+D7FF, U+E000
        {"\xEF\xBF\xBD", true},               // U+FFFD
        {"\xEF\xBB\xBF", true},               // U+FEFF
        {"a\xEF\xBB\xBF"
         "b",
         true},
        {"\xF0\x90\x80\x80", true},   // U+10000
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"Caf\xE9", false},           // Latin-1
        {"\xE9", false},
        {"\x80", false},   // a lone continuation byte
        {"\xBF", false},
        {"\xC3\x28", false},   // no continuation
        {"\xC0\xAF", false},   // overlong '/'
        {"\xC1\xBF", false},
        {"\xE0\x80\xAF", false},
        {"\xE0\x9F\xBF", false},
        {"\xF0\x80\x80\xAF", false},
        {"\xF0\x8F\xBF\xBF", false},
        {"\xED\xA0\x80", false},   // surrogates
        {"\xED\xBF\xBF", false},
        {"\xEF\xBF\xBE", false},   // U+FFFE, U+FFFF
        {"\xEF\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false},   // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xF8\x88\x80\x80\x80", false},
        {"\xFE", false},
        {"\xFF\xFE"
         "a",
         false},   // UTF-16's byte order mark
        // Cut off at the end.
        {"\xC3", false},
        {"a\xC3", false},
        {"\xE2\x82", false},
        {"\xF0\x9F\x98", false},
        {"\xF0\x9F", false},
        {"\xF0", false},
    });
}

TEST(XmlText, ControlCharacters)
{
    check_table({
        {"a\tb", true},
        {"a\rb", true},
        {"a\nb", true},
        {"a\x7F"
         "b",
         true},
        {std::string("a\0b", 3), false},
        {"\x01", false},
        {"a\x08", false},
        {"\x0B", false},
        {"\x0C", false},
        {"\x0E", false},
        {"\x1B[1m", false},
        {"\x1F", false},
    });
}

// Only the n bytes given are looked at: what follows them can neither spoil
// nor complete the text.
TEST(XmlText, LooksAtExactlyTheBytesGiven)
{
    EXPECT_TRUE(is_xml_text("ab<", 2));
    EXPECT_TRUE(is_xml_text("]]>", 2));
    EXPECT_TRUE(is_xml_text("\x01", 0));
    EXPECT_FALSE(is_xml_text("&amp;", 4));
    EXPECT_FALSE(is_xml_text("&#65;", 4));
    EXPECT_FALSE(is_xml_text("\xC3\xA9", 1));
    EXPECT_FALSE(is_xml_text("\xF0\x9F\x98\x80", 3));
    EXPECT_FALSE(is_xml_text("a\0", 2));
}

// A bad byte is found wherever it stands in a field of any length, and a
// good one that is not plain ASCII passes wherever it stands.
TEST(XmlText, EveryPositionOfFieldsUpToFortyBytes)
{
    for (std::size_t n = 1; n <= 40; ++n) {
        const std::string plain(n, 'a');
        EXPECT_TRUE(xml_text(plain)) << n;
        for (std::size_t at = 0; at < n; ++at) {
            for (const char *bad : {"<", "&", "\x01", "\xE9"}) {
                std::string t = plain;
                t[at] = bad[0];
                EXPECT_FALSE(xml_text(t)) << "byte " << shown(bad) << " at " << at << " of " << n;
            }
            std::string good = plain;
            good[at] = '\t';
            EXPECT_TRUE(xml_text(good)) << "TAB at " << at << " of " << n;
            good = plain.substr(0, at) + "\xC3\xA9" + plain.substr(at + 1);
            EXPECT_TRUE(xml_text(good)) << "C3 A9 at " << at << " of " << n;
        }
    }
}

// Every single byte: printable ASCII but '&' and '<' and the three allowed
// controls are text on their own, and no other byte is.
TEST(XmlText, EverySingleByte)
{
    for (int b = 0; b < 256; ++b) {
        const std::string s(1, static_cast<char>(b));
        const bool expected =
            b == '\t' || b == '\n' || b == '\r' || (b >= 0x20 && b <= 0x7F && b != '&' && b != '<');
        EXPECT_EQ(xml_text(s), expected) << "byte " << b;
    }
}

/* ---------------------------------------------------- held to xmllint */

bool have_xmllint()
{
    return std::system("command -v xmllint >/dev/null 2>&1") == 0;
}

// Pieces that random fields are built from: valid and broken references,
// markup, UTF-8 and what is not UTF-8, controls, and pieces that only make
// a reference or a character together with their neighbours.
const std::vector<std::string> atoms = {
    "&",
    "&amp;",
    "&lt;",
    "&gt;",
    "&quot;",
    "&apos;",
    "&amp",
    "&nbsp;",
    "&#0;",
    "&#9;",
    "&#65;",
    "&#x41;",
    "&#X41;",
    "&#x10FFFF;",
    "&#x110000;",
    "&#xD800;",
    "&#xFFFE;",
    "&#18446744073709551681;",
    "&#x;",
    "&#;",
    "&#",
    "&#x",
    "#",
    "x",
    ";",
    "1",
    "F",
    "amp",
    "<",
    ">",
    "]",
    "]]>",
    "]]",
    "\xE9",
    "\xC3\xA9",
    "\xC3",
    "\xA9",
    "\xC0\xAF",
    "\xE0\x80\xAF",
    "\xED\xA0\x80",
    "\xED\x9F\xBF",
    "\xEF\xBF\xBE",
    "\xEF\xBF\xBF",
    "\xEF\xBF\xBD",
    "\xEF\xBB\xBF",
    "\xF0\x9F\x98\x80",
    "\xF0\x9F",
    "\x98\x80",
    "\xF4\x90\x80\x80",
    "\xC2\x80",
    "\x01",
    "\x1F",
    "\x7F",
    "\t",
    "\r",
    " ",
    "Fish",
    "Chips",
    "Tax",
    "4.50",
};

// A random field of one to five atoms; several plain words make valid
// fields common enough.
std::string random_field(std::mt19937 &gen)
{
    std::string f;
    const int n = 1 + static_cast<int>(gen() % 5);
    for (int i = 0; i < n; ++i) {
        if (gen() % 3 == 0)
            f += "word ";
        else
            f += atoms[gen() % atoms.size()];
    }
    return f;
}

// Each field goes into a document of its own, one element holding it as
// text, named field<N>.xml. One xmllint run reads a batch of them and names
// every document it rejects at the start of an error line.
TEST(XmlTextCrossCheck, AgreesWithXmllintOnRandomFields)
{
    if (!have_xmllint())
        GTEST_SKIP() << "xmllint is not installed (Debian package libxml2-utils)";
    std::mt19937 gen(20261211);
    constexpr int field_count = 3000;
    constexpr int batch = 500;
    std::vector<std::string> fields;
    for (int i = 0; i < field_count; ++i)
        fields.push_back(random_field(gen));

    scratch_dir d;
    int valid = 0;
    for (int start = 0; start < field_count; start += batch) {
        std::string names;
        for (int i = start; i < start + batch; ++i) {
            const std::string name = "field" + std::to_string(i) + ".xml";
            write_file(d / name,
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><t>" + fields[i] + "</t>\n");
            names += " " + name;
        }
        const std::string cmd = "cd '" + d.path + "' && xmllint --noout" + names + " 2> errors.txt";
        const int rc = std::system(cmd.c_str());
        ASSERT_NE(rc, -1);
        std::set<int> rejected;
        std::istringstream errors(read_file(d / "errors.txt"));
        for (std::string line; std::getline(errors, line);) {
            int number = -1;
            int line_no = 0;
            char kind[16] = "";
            // "field12.xml:1: parser error : ..."
            if (std::sscanf(line.c_str(), "field%d.xml:%d: %15s", &number, &line_no, kind) == 3 &&
                line.find(" error : ") != std::string::npos)
                rejected.insert(number);
        }
        for (int i = start; i < start + batch; ++i) {
            const bool by_xmllint = rejected.count(i) == 0;
            EXPECT_EQ(xml_text(fields[i]), by_xmllint)
                << "field " << i << ": \"" << shown(fields[i]) << "\"";
            valid += by_xmllint;
        }
    }
    // Both answers must be common, or the check proves little.
    EXPECT_GT(valid, field_count / 10);
    EXPECT_LT(valid, field_count - field_count / 10);
}

}   // namespace
