// compare.h - comparing receipts that run to megabytes: on a mismatch the
// message names the sizes and the first differing byte with a short,
// printable excerpt around it, instead of printing both strings whole.

#ifndef GEN_XML_TESTS_COMPARE_H
#define GEN_XML_TESTS_COMPARE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

// Short, printable excerpt of `s` around `at`, for failure messages (the
// strings compared here run to megabytes and must not be printed whole).
inline std::string excerpt(const std::string &s, std::size_t at)
{
    const std::size_t from = at < 20 ? 0 : at - 20;
    std::string out;
    for (std::size_t i = from; i < s.size() && i < at + 20; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 32 && c < 127 && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return "\"" + out + "\"";
}

inline std::size_t first_difference(const std::string &a, const std::string &b)
{
    const std::size_t n = std::min(a.size(), b.size());
    return static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin()).first -
        a.begin());
}

inline ::testing::AssertionResult same_bytes(const std::string &seen, const std::string &expected)
{
    if (seen == expected)
        return ::testing::AssertionSuccess();
    const std::size_t at = first_difference(seen, expected);
    return ::testing::AssertionFailure()
           << "sizes " << seen.size() << " (seen) and " << expected.size()
           << " (expected), first difference at byte " << at << ": seen " << excerpt(seen, at)
           << ", expected " << excerpt(expected, at);
}

// The bytes on disk must be the start of the complete receipt: a cut
// receipt holds what was written up to the failure and nothing else.
inline ::testing::AssertionResult is_start_of(const std::string &seen, const std::string &full)
{
    if (seen.size() <= full.size() && full.compare(0, seen.size(), seen) == 0)
        return ::testing::AssertionSuccess();
    const std::size_t at = first_difference(seen, full);
    return ::testing::AssertionFailure()
           << "the " << seen.size() << " bytes on disk are not the start of the " << full.size()
           << "-byte receipt; first difference at byte " << at << ": seen " << excerpt(seen, at)
           << ", expected " << excerpt(full, at);
}

#endif
