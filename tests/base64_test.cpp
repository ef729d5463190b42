// Unit tests for the Base64 codec (src/base64.h).
//
// Every input is handed to the codec in a heap block of exactly its length,
// with no terminator after it, so that a build with AddressSanitizer turns
// any read past the end of the input into a failure.

#include "base64.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_literals;

// A heap copy of exactly s.size() elements and nothing after them.
template <typename T>
std::unique_ptr<T[]> exact_copy(std::string_view s)
{
    auto p = std::make_unique<T[]>(s.size());
    if (!s.empty())
        std::memcpy(p.get(), s.data(), s.size());
    return p;
}

// Encodes `bytes` with room to spare and returns the text. Checks that the
// result is not -1 and that a NUL follows the text.
std::string encode(std::string_view bytes)
{
    auto in = exact_copy<unsigned char>(bytes);
    const int cap = static_cast<int>(2 * bytes.size() + 8);
    std::vector<char> out(static_cast<size_t>(cap) + 1, '#');
    const int n = base64_encode(in.get(), static_cast<int>(bytes.size()), out.data(), cap);
    EXPECT_GE(n, 0);
    if (n < 0)
        return "<encode failed>";
    EXPECT_EQ(out[static_cast<size_t>(n)], '\0') << "no NUL after the encoded text";
    return std::string(out.data(), static_cast<size_t>(n));
}

// Decodes `text` with room to spare and returns the bytes.
std::string decode(std::string_view text)
{
    auto in = exact_copy<char>(text);
    const int cap = static_cast<int>(text.size() + 8);
    std::vector<unsigned char> out(static_cast<size_t>(cap), 0xA5);
    const int n = base64_decode(in.get(), static_cast<int>(text.size()), out.data(), cap);
    EXPECT_GE(n, 0);
    if (n < 0)
        return "<decode failed>";
    return std::string(reinterpret_cast<const char *>(out.data()), static_cast<size_t>(n));
}

// Random bytes from a fixed seed. mt19937's output sequence is fixed by the
// language standard, so every platform sees the same buffers.
std::string random_bytes(std::mt19937 &gen, size_t n)
{
    std::string s(n, '\0');
    for (char &c : s)
        c = static_cast<char>(gen() & 0xffu);
    return s;
}

struct known_vector {
    std::string plain;
    std::string encoded;
};

// RFC 4648 section 10 test vectors, plus the binary examples of section 9
// (they exercise "+", "/" and bytes with the top bit set).
const known_vector known_vectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {"\x14\xfb\x9c\x03\xd9\x7e", "FPucA9l+"},
    {"\x14\xfb\x9c\x03\xd9", "FPucA9k="},
    {"\x14\xfb\x9c\x03", "FPucAw=="},
    // Worked by hand: all ones is "/" everywhere; fb ff = 111110 111111 1111(00).
    {"\xff\xff\xff", "////"},
    {"\xfb\xff", "+/8="},
    {"\0\0\0"s, "AAAA"},
    {"\0"s, "AA=="},
};

TEST(Base64Known, EncodeGivesRfcText)
{
    for (const known_vector &v : known_vectors) {
        SCOPED_TRACE("encoded: \"" + v.encoded + "\"");
        EXPECT_EQ(encode(v.plain), v.encoded);
    }
}

TEST(Base64Known, DecodeGivesRfcBytes)
{
    for (const known_vector &v : known_vectors) {
        SCOPED_TRACE("encoded: \"" + v.encoded + "\"");
        EXPECT_EQ(decode(v.encoded), v.plain);
    }
}

// The return value is the character count, the NUL comes right after it,
// and nothing beyond the NUL is touched.
TEST(Base64Known, EncodeResultAndTerminator)
{
    auto in = exact_copy<unsigned char>("fo");
    char out[8];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(base64_encode(in.get(), 2, out, 4), 4);
    EXPECT_EQ(std::string(out, 4), "Zm8=");
    EXPECT_EQ(out[4], '\0');
    EXPECT_EQ(out[5], '#');

    // Zero bytes: the empty string, even with no capacity at all.
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(base64_encode(nullptr, 0, out, 0), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], '#');
}

// Decoded bytes get no terminator: the byte after them stays as it was.
TEST(Base64Known, DecodeWritesNoTerminator)
{
    auto in = exact_copy<char>("Zm8=");
    unsigned char out[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    EXPECT_EQ(base64_decode(in.get(), 4, out, 4), 2);
    EXPECT_EQ(out[0], 'f');
    EXPECT_EQ(out[1], 'o');
    EXPECT_EQ(out[2], 0xA5);
    EXPECT_EQ(out[3], 0xA5);
}

TEST(Base64RoundTrip, RandomBuffersUpTo300Bytes)
{
    std::mt19937 gen(20240611u);
    for (size_t n = 0; n <= 300; ++n) {
        SCOPED_TRACE("length " + std::to_string(n));
        const std::string bytes = random_bytes(gen, n);

        // Encoded into an area of exactly the needed size plus the NUL.
        const int need = static_cast<int>(4 * ((n + 2) / 3));
        auto in = exact_copy<unsigned char>(bytes);
        auto text = std::make_unique<char[]>(static_cast<size_t>(need) + 1);
        ASSERT_EQ(base64_encode(in.get(), static_cast<int>(n), text.get(), need), need);
        ASSERT_EQ(text[static_cast<size_t>(need)], '\0');

        // Decoded into an area of exactly the original size.
        auto enc = exact_copy<char>(std::string_view(text.get(), static_cast<size_t>(need)));
        auto back = std::make_unique<unsigned char[]>(n);
        ASSERT_EQ(base64_decode(enc.get(), need, back.get(), static_cast<int>(n)),
                  static_cast<int>(n));
        EXPECT_EQ(std::memcmp(back.get(), bytes.data(), n), 0);

        // The same text broken into lines of 76 characters, as mail does it.
        std::string wrapped;
        for (int i = 0; i < need; ++i) {
            if (i > 0 && i % 76 == 0)
                wrapped += "\r\n";
            wrapped += text[static_cast<size_t>(i)];
        }
        EXPECT_EQ(decode(wrapped), bytes);
    }
}

// Runs a shell command and returns its standard output; `ok` tells whether
// it ran and exited with status 0.
std::string run_capture(const std::string &cmd, bool &ok)
{
    std::string result;
    ok = false;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return result;
    char buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0)
        result.append(buf, got);
    ok = pclose(p) == 0;
    return result;
}

// Cross-checks the encoder against an independent implementation: the
// coreutils `base64` program with line wrapping turned off.
TEST(Base64RoundTrip, EncoderAgreesWithCoreutils)
{
    if (std::system("base64 --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP()
            << "the coreutils `base64` program is not on PATH; cannot cross-check the encoder";
    }

    std::string path = (std::filesystem::temp_directory_path() / "base64_test_XXXXXX").string();
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    ASSERT_GE(fd, 0) << "cannot create a temporary file";
    close(fd);
    path = name.data();

    std::mt19937 gen(77u);
    for (size_t n = 0; n <= 300; ++n) {
        SCOPED_TRACE("length " + std::to_string(n));
        const std::string bytes = random_bytes(gen, n);
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, n, f), n);
        ASSERT_EQ(std::fclose(f), 0);

        bool ok = false;
        const std::string theirs = run_capture("base64 -w 0 < '" + path + "'", ok);
        ASSERT_TRUE(ok) << "base64 -w 0 failed";
        EXPECT_EQ(encode(bytes), theirs);
    }
    std::remove(path.c_str());
}

// Clean text and the bytes it stands for ("foobarbazqux").
const std::string clean_text = "Zm9vYmFyYmF6cXV4";
const std::string clean_bytes = "foobarbazqux";

TEST(Base64DecodeNoise, SkippedCharactersChangeNothing)
{
    ASSERT_EQ(decode(clean_text), clean_bytes);
    const std::string noisy[] = {
        "Zm9v\nYmFy\nYmF6\ncXV4\n",                                // line feeds
        "\nZm9v\r\nYmFy\r\nYmF6\r\ncXV4\r\n",                      // CR LF
        " Zm9v YmFy\tYmF6 \t cXV4 ",                               // spaces and tabs
        "Z m 9 v Y m F y Y m F 6 c X V 4",                         // space inside groups
        "Zm9v=YmFy==YmF6===cXV4====",                              // "=" between groups
        "=Zm=9vYm=Fy=YmF6cX=V4",                                   // "=" inside groups
        "\x80Zm9v\xffYmFy\xc3\xa9YmF6\xfe\xfe\xfe\xfe cXV4\x80",   // bytes >= 128
        "Z:m@9[v`Y,m-F.yY;m<F>6?c\\X]V^4_",   // codes 43..122 outside the alphabet
        "!Zm9v\"YmFy#YmF6*cXV4{|}~\x7f",      // codes outside 43..122
        "Zm9v\0YmFy\0YmF6\0cXV4\0"s,          // NUL is just another byte
    };
    for (const std::string &text : noisy) {
        SCOPED_TRACE("text: \"" + text + "\"");
        EXPECT_EQ(decode(text), clean_bytes);
    }
}

// Each of the 192 codes outside the alphabet, on its own, between two
// halves of a group.
TEST(Base64DecodeNoise, EveryNonAlphabetCodeIsSkipped)
{
    const std::string_view alphabet(cb64, 64);
    for (int c = 0; c < 256; ++c) {
        if (alphabet.find(static_cast<char>(c)) != std::string_view::npos)
            continue;
        SCOPED_TRACE("code " + std::to_string(c));
        const std::string noise(1, static_cast<char>(c));
        EXPECT_EQ(decode("Zm" + noise + "9v"), "foo");
        EXPECT_EQ(decode(noise + noise + noise), "");
    }
}

// 4, 3, 2, 1 significant characters give 3, 2, 1, 0 bytes; pads and noise
// around a short group do not change that.
TEST(Base64DecodeNoise, ShortLastGroup)
{
    const known_vector
        cases[] =
            {
                {"foo", "Zm9v"},    {"fo", "Zm8"},
                {"fo", "Zm8="},     {"f", "Zg"},
                {"f", "Zg=="},      {"", "Z"},
                {"", "Z==="},       {"foo", "Zm9vY"},   // a lone character after a full group
                {"foob", "Zm9vYg"}, {"foo", "Zm9v\nY\n"},
                {"f", "Zh=="},   // leftover low bits are ignored, not rejected
                {"", ""},           {"", "====\r\n"},
            };
    for (const known_vector &v : cases) {
        SCOPED_TRACE("text: \"" + v.encoded + "\"");
        EXPECT_EQ(decode(v.encoded), v.plain);
    }
}

// Every prefix of a clean text, each in a block of exactly its length, so
// that the last character read is a character of the alphabet right at the
// end of the block. Reading one place further would be caught by ASan.
TEST(Base64Bounds, DecodeStopsAtInputLength)
{
    const std::string text = "Zm9vYmFy";
    const char *expect[] = {"", "", "f", "fo", "foo", "foo", "foob", "fooba", "foobar"};
    for (size_t len = 0; len <= text.size(); ++len) {
        SCOPED_TRACE("prefix length " + std::to_string(len));
        auto in = exact_copy<char>(std::string_view(text).substr(0, len));
        unsigned char out[8];
        const int n = base64_decode(in.get(), static_cast<int>(len), out, 8);
        ASSERT_GE(n, 0);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), static_cast<size_t>(n)), expect[len]);
    }

    // in_len, not a terminator, ends the input: the rest of the block is
    // never looked at.
    auto in = exact_copy<char>("Zm9vYmFy");
    unsigned char out[8];
    EXPECT_EQ(base64_decode(in.get(), 4, out, 8), 3);
    EXPECT_EQ(base64_decode(in.get(), 0, out, 8), 0);
}

TEST(Base64Bounds, EncodeStopsAtInputLength)
{
    auto in = exact_copy<unsigned char>("foobar");
    char out[16];
    EXPECT_EQ(base64_encode(in.get(), 4, out, 15), 8);
    EXPECT_STREQ(out, "Zm9vYg==");
}

// Every capacity from 0 to two past the characters needed, for "foobar"
// (8 characters) and for 54 bytes, the logo chunk size (72 characters, the
// whole data line). Enough room: the text, a NUL right after it and nothing
// more. One character short or less: -1, exactly `capacity` characters of
// the text written, no NUL and nothing after them.
TEST(Base64Capacity, EncodeFillsExactlyUpToCapacity)
{
    std::string bytes54;
    std::string text54;
    for (int i = 0; i < 9; ++i) {
        bytes54 += "foobar";
        text54 += "Zm9vYmFy";
    }
    ASSERT_EQ(bytes54.size(), 54u);
    const known_vector cases[] = {{"foobar", "Zm9vYmFy"}, {bytes54, text54}};
    for (const known_vector &v : cases) {
        auto in = exact_copy<unsigned char>(v.plain);
        const int need = static_cast<int>(v.encoded.size());
        for (int cap = 0; cap <= need + 2; ++cap) {
            SCOPED_TRACE(std::to_string(v.plain.size()) + " bytes, capacity " +
                         std::to_string(cap));
            std::vector<char> out(static_cast<size_t>(cap) + 2, '#');
            const int n =
                base64_encode(in.get(), static_cast<int>(v.plain.size()), out.data(), cap);
            const size_t written = static_cast<size_t>(cap < need ? cap : need);
            EXPECT_EQ(n, cap < need ? -1 : need);
            EXPECT_EQ(std::string(out.data(), written), v.encoded.substr(0, written));
            if (cap < need) {
                EXPECT_EQ(out[written], '#') << "written past the capacity";
            } else {
                EXPECT_EQ(out[written], '\0');
                EXPECT_EQ(out[written + 1], '#');
            }
        }
    }
}

// Decoding "foobar" (6 bytes) and "fooba" (5 bytes, short last group) into
// every capacity from 0 up: one byte too few gives -1 with the area filled
// and the canary after it untouched.
TEST(Base64Capacity, DecodeFillsExactlyUpToCapacity)
{
    const known_vector cases[] = {
        {"foobar", "Zm9vYmFy"},
        {"fooba", "Zm9vYmE="},
        {"fooba", "Zm9v\nYmE\n"},
    };
    for (const known_vector &v : cases) {
        auto in = exact_copy<char>(v.encoded);
        const int need = static_cast<int>(v.plain.size());
        for (int cap = 0; cap <= need + 1; ++cap) {
            SCOPED_TRACE("text \"" + v.encoded + "\", capacity " + std::to_string(cap));
            std::vector<unsigned char> out(static_cast<size_t>(cap) + 1, 0xA5);
            const int n =
                base64_decode(in.get(), static_cast<int>(v.encoded.size()), out.data(), cap);
            const size_t written = static_cast<size_t>(cap < need ? cap : need);
            EXPECT_EQ(n, cap < need ? -1 : need);
            EXPECT_EQ(std::memcmp(out.data(), v.plain.data(), written), 0);
            EXPECT_EQ(out[written], 0xA5);
        }
    }
}

// The decoding table agrees with the alphabet for every byte value: a code
// is in cd64's alphabet exactly when it is in cb64, and its entry gives
// back its index in cb64.
TEST(Base64Tables, DecodeTableMatchesAlphabet)
{
    const std::string_view alphabet(cb64, 64);
    ASSERT_EQ(std::strlen(cb64), 64u);
    ASSERT_EQ(std::strlen(cd64), 80u);
    int members = 0;
    for (int c = 0; c < 256; ++c) {
        SCOPED_TRACE("code " + std::to_string(c));
        const size_t index = alphabet.find(static_cast<char>(c));
        const bool in_range = c >= 43 && c <= 122;
        const bool in_table = in_range && cd64[c - 43] != '$';
        EXPECT_EQ(in_table, index != std::string_view::npos);
        if (in_table) {
            EXPECT_EQ(cd64[c - 43] - 62, static_cast<int>(index));
            ++members;
        }
    }
    EXPECT_EQ(members, 64);
}

// The alphabet is the RFC 4648 one, in its order.
TEST(Base64Tables, AlphabetOrder)
{
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(cb64[i], 'A' + i);
        EXPECT_EQ(cb64[26 + i], 'a' + i);
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(cb64[52 + i], '0' + i);
    EXPECT_EQ(cb64[62], '+');
    EXPECT_EQ(cb64[63], '/');
    // A few entries of cd64 worked out by hand.
    EXPECT_EQ(cd64['+' - 43], '|');
    EXPECT_EQ(cd64['/' - 43], '}');
    EXPECT_EQ(cd64['A' - 43], '>');
    EXPECT_EQ(cd64['a' - 43], 'X');
    EXPECT_EQ(cd64['0' - 43], 'r');
    EXPECT_EQ(cd64['=' - 43], '$');
}

}   // namespace
