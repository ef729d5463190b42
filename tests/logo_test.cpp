// logo_test.cpp - the logo block through its writer: the encoder's capacity
// seam and read errors, which the run cannot be made to show from outside.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "expect.h"
#include "logo.h"

namespace {

struct logo_run {
    logo_result result;
    std::string receipt;
};

// Write the logo block for `logo` with the given encoder capacity.
logo_run run_logo(std::FILE *logo, int capacity)
{
    std::FILE *f = std::tmpfile();
    static receipt_out out;
    static char text[line_buffer_size];
    receipt_attach(&out, f);
    logo_run r{write_logo(logo, &out, text, capacity), ""};
    EXPECT_EQ(receipt_flush(&out), 0);
    std::rewind(f);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        r.receipt.append(buf, n);
    std::fclose(f);
    return r;
}

std::FILE *logo_of(const std::string &bytes)
{
    std::FILE *f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

TEST(LogoBlock, EncoderCapacityDecidesBetweenDataAndEncodeError)
{
    const std::string zeros(54, '\0');
    {
        SCOPED_TRACE("72 characters are enough for a chunk of 54 bytes");
        std::FILE *logo = logo_of(zeros + "Man");
        logo_run r = run_logo(logo, 72);
        std::fclose(logo);
        EXPECT_EQ(r.result, logo_result::ok);
        EXPECT_EQ(r.receipt, expect_logo(std::string(72, 'A') + "\nTWFu"));
    }
    {
        SCOPED_TRACE("71 are not: the block stops after image1");
        std::FILE *logo = logo_of(zeros);
        logo_run r = run_logo(logo, 71);
        std::fclose(logo);
        EXPECT_EQ(r.result, logo_result::encode_error);
        EXPECT_EQ(r.receipt, "\t<image\n\t\txlink:href=\"data:image/bmp;base64,");
    }
    {
        SCOPED_TRACE("a short last chunk fails too when it does not fit");
        std::FILE *logo = logo_of(zeros + "Man");
        logo_run r = run_logo(logo, 3);
        std::fclose(logo);
        EXPECT_EQ(r.result, logo_result::encode_error);
    }
}

TEST(LogoBlock, ReadErrorIsReported)
{
    // A directory opens as a stream on this system but every read fails.
    std::FILE *dir = std::fopen(".", "rb");
    if (dir == nullptr)
        GTEST_SKIP() << "directories cannot be opened as streams here";
    logo_run r = run_logo(dir, 999);
    std::fclose(dir);
    EXPECT_EQ(r.result, logo_result::read_error);
}

}   // namespace
