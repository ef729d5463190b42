// read_ahead.h - the size of the read-ahead through which the tool reads the
// layout, for tests that place rows, NUL bytes and long reads at its ends.

#ifndef GEN_XML_TESTS_READ_AHEAD_H
#define GEN_XML_TESTS_READ_AHEAD_H

#include <cstddef>

#include "layout.h"

// The layout is read through a fixed read-ahead that is filled from the
// start of the file, a whole read-ahead at a time, so one fill ends and the
// next begins at every multiple of this size. It is the one place where the
// tests learn the size (256 KiB in the release build; a test build may make
// it tens of bytes); every layout that aims at a read-ahead's end derives
// its offsets from it.
constexpr std::size_t read_ahead = static_cast<std::size_t>(read_ahead_size);
static_assert(read_ahead >= 16 && read_ahead <= (std::size_t{1} << 20),
              "the read-ahead tests are laid out for 16 bytes to 1 MiB");

#endif
