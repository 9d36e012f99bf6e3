// Whole-item zlib streams (RFC 1950) through libdeflate: one call compresses
// or inflates an item held whole in memory, two to three times as fast as
// zlib's streaming interface. The streams are ordinary zlib streams; zlib
// inflates what these write and these inflate what zlib wrote. Used by
// ZlibCodec for whole items; prefix reads stay with zlib, which can stop early.
#pragma once

#include <cstddef>

#include "platform/windows_types.h"

namespace whole_deflate {

// The level of every item written. On the acts, libdeflate's level 4 makes
// streams 2-3% larger than zlib's default level 6 (which earlier versions
// wrote) at 2.3 times its speed; its own level 6 matches zlib's size at
// only 1.8 times, and adding documents is mostly compressing them.
constexpr int kLevel = 4;

// Room a stream of `length` input bytes needs at most.
std::size_t Bound(std::size_t length);

// Compresses `length` bytes into `out` (room for Bound(length)); returns the
// stream's length. Throws CMemoryException when no compressor can be made.
std::size_t Compress(const BYTE* in, std::size_t length, BYTE* out, std::size_t room);

// Inflates the zlib stream at the start of `in` into `out`. True when a
// complete stream with a sound Adler-32 was found that fits `room`; then
// `used` is its length and `produced` the bytes it inflated to. False for
// anything else (damage, too little room, cut short): the caller learns why
// from zlib, which reports the kind of damage.
bool Inflate(const BYTE* in, std::size_t length, BYTE* out, std::size_t room, std::size_t& used,
             std::size_t& produced);

// The CRC-32 of zlib (the same polynomial and values as zlib's crc32),
// continued from `crc`; libdeflate computes it several times as fast with
// the processor's carry-less multiplication, which the files beside the
// bases, checked whenever they are opened or read, profit from.
DWORD Crc32(const void* data, std::size_t length, DWORD crc = 0);

}  // namespace whole_deflate
