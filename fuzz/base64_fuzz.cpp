// libFuzzer target for the Base64 codec.
//
// Each input is used twice:
//   1. as Base64 text: decoded into an output area of exactly the largest
//      size the decoder may ever need, checking the result against that
//      bound and against a count of the significant characters, and that
//      one byte less capacity gives -1;
//   2. as bytes: encoded and decoded again, which must give them back.
// Every buffer handed to the codec is a heap block of exactly its length,
// so AddressSanitizer reports any access past its end.

#include "base64.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// Stops the run so that libFuzzer records the input as a crash.
[[noreturn]] void fail()
{
    __builtin_trap();
}

// A heap copy of exactly n bytes.
template <typename T>
std::unique_ptr<T[]> exact_copy(const std::uint8_t *data, std::size_t n)
{
    auto p = std::make_unique<T[]>(n);
    if (n > 0)
        std::memcpy(p.get(), data, n);
    return p;
}

// Whether a byte is one of the 64 characters of the alphabet, worked out
// from cb64 alone so that it does not lean on the decoder's own table.
bool in_alphabet(std::uint8_t c)
{
    return c != 0 && std::memchr(cb64, c, 64) != nullptr;
}

// Decodes arbitrary text and checks the size of the result.
void check_decode(const std::uint8_t *data, int n)
{
    auto text = exact_copy<char>(data, static_cast<std::size_t>(n));

    // Significant characters come in groups of 4 giving 3 bytes; a last group
    // of k characters gives k - 1 bytes.
    int significant = 0;
    for (int i = 0; i < n; ++i)
        significant += in_alphabet(data[i]) ? 1 : 0;
    const int rest = significant % 4;
    const int expect = 3 * (significant / 4) + (rest > 0 ? rest - 1 : 0);

    const int bound = 3 * n / 4 + 3;
    auto out = std::make_unique<unsigned char[]>(static_cast<std::size_t>(bound));
    const int got = base64_decode(text.get(), n, out.get(), bound);
    if (got < 0 || got > bound)
        fail();
    if (got != expect)
        fail();

    // The same text into an area of exactly the result's size, and into one
    // a byte smaller.
    auto exact = std::make_unique<unsigned char[]>(static_cast<std::size_t>(got));
    if (base64_decode(text.get(), n, exact.get(), got) != got)
        fail();
    if (got > 0 && std::memcmp(exact.get(), out.get(), static_cast<std::size_t>(got)) != 0)
        fail();
    if (got > 0) {
        auto small = std::make_unique<unsigned char[]>(static_cast<std::size_t>(got - 1));
        if (base64_decode(text.get(), n, small.get(), got - 1) != -1)
            fail();
    }
}

// Encodes arbitrary bytes, checks the text, and decodes it back.
void check_round_trip(const std::uint8_t *data, int n)
{
    auto bytes = exact_copy<unsigned char>(data, static_cast<std::size_t>(n));

    const int need = 4 * ((n + 2) / 3);
    auto text = std::make_unique<char[]>(static_cast<std::size_t>(need) + 1);
    if (base64_encode(bytes.get(), n, text.get(), need) != need)
        fail();
    if (text[static_cast<std::size_t>(need)] != '\0')
        fail();

    // Only alphabet characters, then "=" padding for a short last group.
    const int pads = (3 - n % 3) % 3;
    for (int i = 0; i < need; ++i) {
        const auto c = static_cast<std::uint8_t>(text[static_cast<std::size_t>(i)]);
        if (i < need - pads ? !in_alphabet(c) : c != '=')
            fail();
    }

    // One character less room must fail.
    if (need > 0) {
        auto small = std::make_unique<char[]>(static_cast<std::size_t>(need));
        if (base64_encode(bytes.get(), n, small.get(), need - 1) != -1)
            fail();
    }

    auto back = std::make_unique<unsigned char[]>(static_cast<std::size_t>(n));
    if (base64_decode(text.get(), need, back.get(), n) != n)
        fail();
    if (n > 0 && std::memcmp(back.get(), data, static_cast<std::size_t>(n)) != 0)
        fail();
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Lengths are ints in the codec's interface; stay well clear of overflow
    // in the size arithmetic above.
    if (size > (1u << 20))
        return 0;
    const int n = static_cast<int>(size);
    check_decode(data, n);
    check_round_trip(data, n);
    return 0;
}
