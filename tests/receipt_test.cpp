// receipt_test.cpp - field names, height and the writers' output.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "expect.h"
#include "receipt.h"

namespace {

TEST(IsTag, OnlyWholeExactFieldNames)
{
    const char *names[] = {
        "charge_time_stamp",      "charge_time_dmyy_hms", "charge_time_yymd_hms",
        "charge_time_dmyy",       "charge_time_yymd",     "charge_time_hms",
        "charge_value_sign",      "charge_value",         "charge_sign",
        "logged_user_name_login", "logged_user_name",     "logged_user_login",
        "logged_user_oldcredit",  "cfg_hostname",         "logged_user_currentcredit",
        "servercfg_receipt_text", "receipt_id",
    };
    for (const char *n : names)
        EXPECT_EQ(is_tag(n), 1) << n;

    const char *misses[] = {
        "",
        "charge",
        "charge_value_",
        "charge_valu",
        " charge_value",
        "charge_value ",
        "Charge_value",
        "RECEIPT_ID",
        "receipt_ID",
        "total charge_value",
        "charge_value\tx",
        "logged_user",
        "cfg_hostnames",
        "receipt-id",
        "text",
        "tag",
    };
    for (const char *m : misses)
        EXPECT_EQ(is_tag(m), 0) << m;
    EXPECT_EQ(is_tag(nullptr), 0);
}

TEST(IsTag, EveryNameWithOneByteChangedIsNoName)
{
    // Each name with any one byte replaced, by a neighbour in the byte
    // order or by a byte that is never in a name, is plain text.
    for (const char *n : field_names) {
        const std::string name = n;
        for (std::size_t i = 0; i < name.size(); ++i) {
            for (int d : {1, -1, 0x80}) {
                std::string t = name;
                t[i] = static_cast<char>(static_cast<unsigned char>(t[i]) + d);
                EXPECT_EQ(is_tag(t.c_str()), 0) << t;
            }
        }
        EXPECT_EQ(is_tag((name + name.back()).c_str()), 0) << name;
        EXPECT_EQ(is_tag(name.substr(1).c_str()), 0) << name;
    }
}

TEST(Height, ThirtyPerReadPlusTwoRowsAndTheLogo)
{
    EXPECT_EQ(receipt_height(1, false), 90);
    EXPECT_EQ(receipt_height(2, false), 120);
    EXPECT_EQ(receipt_height(2, true), 370);
    EXPECT_EQ(receipt_height(5, true), 460);
    // Past what 32 bits hold.
    EXPECT_EQ(receipt_height(72000000, false), 2160000060LL);
    EXPECT_EQ(receipt_height(72000000, true), 2160000310LL);
}

// Everything written through a receipt_out to a temporary file.
std::string written(void (*write)(receipt_out *))
{
    std::FILE *f = std::tmpfile();
    static receipt_out out;
    receipt_attach(&out, f);
    write(&out);
    EXPECT_EQ(receipt_flush(&out), 0);
    std::rewind(f);
    std::string s;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

TEST(Writers, PiecesOfTheDocument)
{
    EXPECT_EQ(written([](receipt_out *o) { write_prologue(o, 460); }), expect_prologue(460));
    EXPECT_EQ(written([](receipt_out *o) { write_footer(o, 430); }), expect_footer(430));
    EXPECT_EQ(written([](receipt_out *o) { write_blank(o); }), "\n");
    EXPECT_EQ(written([](receipt_out *o) {
                  write_text(o, column::left, "Total", 5, 1, 30);
                  write_text(o, column::centre, "charge_value", 12, 2, 30);
                  write_text(o, column::right, "a & <b>", 7, 10000, 2160000060LL);
              }),
              expect_text('l', "text", 1, 30, "Total") +
                  expect_text('c', "tag", 2, 30, "charge_value") +
                  expect_text('r', "text", 10000, 2160000060LL, "a & <b>"));
}

TEST(Writers, ElementNineThousandNineHundredNinetyNineSharesTheFootersId)
{
    std::string s = written([](receipt_out *o) { write_text(o, column::left, "x", 1, 9999, 30); });
    EXPECT_NE(s.find("id=\"text9999\""), std::string::npos);
}

TEST(Writers, TemplateSizes)
{
    // Sizes the receipt's consumers rely on, line feeds counted as one byte.
    EXPECT_EQ(sizeof header1 - 1, 203u);
    EXPECT_EQ(sizeof header3 - 1, 46u);
    EXPECT_EQ(sizeof image1 - 1, 44u);
    EXPECT_EQ(sizeof image2 - 1, 45u);
    EXPECT_EQ(sizeof text2 - 1, 8u);
}

TEST(Writers, NumbersOfEveryLength)
{
    // Ids and baselines are written without printf; these are the lengths
    // and edges where a hand-made decimal writer goes wrong.
    const long long values[] = {
        0,
        7,
        9,
        10,
        99,
        100,
        999,
        1000,
        9999,
        10000,
        12345678,
        99999999,
        100000000,
        100000001,
        123456789012LL,
        9999999999999999LL,
        10000000000000000LL,
        9223372036854775807LL,
    };
    for (long long v : values) {
        SCOPED_TRACE(v);
        static long long number;
        number = v;
        std::string s =
            written([](receipt_out *o) { write_text(o, column::centre, "x", 1, number, number); });
        EXPECT_EQ(s, expect_text('c', "text", v, v, "x"));
    }
}

TEST(Writers, RowsStepTheirNumbersAcrossDigitBoundaries)
{
    // Element numbers and baselines step from row to row; make them carry
    // into new digits, and past the eight digits kept in one word.
    std::string s = written([](receipt_out *o) {
        char a[] = "a";
        char b[] = "receipt_id";
        char c[] = "c";
        char *field[] = {a, b, c};
        const std::size_t len[] = {1, 10, 1};
        const std::size_t only_left[] = {1, 0, 0};
        long long number = 99999997;
        write_row(o, field, len, &number, 99999960);   // 99999997 .. 99999999
        write_row(o, field, len, &number, 99999990);   // 100000000 ..
        write_blank(o);
        write_row(o, field, only_left, &number, 100000050);   // after a blank row
        write_row(o, field, len, &number, 9990);
    });
    std::string expected = expect_text('l', "text", 99999997, 99999960, "a") +
                           expect_text('c', "tag", 99999998, 99999960, "receipt_id") +
                           expect_text('r', "text", 99999999, 99999960, "c") +
                           expect_text('l', "text", 100000000, 99999990, "a") +
                           expect_text('c', "tag", 100000001, 99999990, "receipt_id") +
                           expect_text('r', "text", 100000002, 99999990, "c") + "\n" +
                           expect_text('l', "text", 100000003, 100000050, "a") +
                           expect_text('l', "text", 100000004, 9990, "a") +
                           expect_text('c', "tag", 100000005, 9990, "receipt_id") +
                           expect_text('r', "text", 100000006, 9990, "c");
    EXPECT_EQ(s, expected);
}

TEST(Writers, OutputLargerThanTheBufferArrivesInOrder)
{
    std::string s = written([](receipt_out *o) {
        for (int i = 1; i <= 5000; ++i)
            write_text(o, column::right, "12.50", 5, i, 30LL * i);
    });
    std::string expected;
    for (int i = 1; i <= 5000; ++i)
        expected += expect_text('r', "text", i, 30LL * i, "12.50");
    EXPECT_EQ(s, expected);
}

TEST(Writers, AFailedWriteIsReportedAndSticks)
{
    std::FILE *f = std::fopen("/dev/full", "w");
    if (f == nullptr)
        GTEST_SKIP() << "/dev/full is not available";
    static receipt_out out;
    receipt_attach(&out, f);
    write_blank(&out);
    EXPECT_EQ(receipt_flush(&out), -1);
    EXPECT_TRUE(out.failed);
    write_blank(&out);
    EXPECT_EQ(receipt_close(&out), -1);
}

}   // namespace
