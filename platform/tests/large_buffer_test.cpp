// Large buffers: zero-filled, every byte usable, owned by one object at a
// time, and mapped on their own (aligned for huge pages) from a megabyte up.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/large_buffer.h"

namespace {

// Every byte zero, then every byte written and read back (an overrun or a
// short block fails here or under the address sanitizer).
void ExpectZeroedAndWritable(CLargeBuffer& b, std::size_t size) {
  ASSERT_EQ(b.size(), size);
  ASSERT_NE(b.data(), nullptr);
  for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(b.data()[i], 0) << "byte " << i;
  for (std::size_t i = 0; i < size; ++i) b.data()[i] = static_cast<BYTE>(i * 7 + 3);
  for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(b.data()[i], static_cast<BYTE>(i * 7 + 3)) << "byte " << i;
}

}  // namespace

TEST(LargeBuffer, BlocksOfEverySizeAreZeroedAndWhollyUsable) {
  constexpr std::size_t kMb = 1u << 20;
  // Below, at and above the size from which a block is mapped, and past
  // whole huge pages (the mapping is rounded up; the size is not).
  for (std::size_t size : {std::size_t(1), std::size_t(4095), kMb - 1, kMb, kMb + 1, 2 * kMb, 5 * kMb + 12345}) {
    CLargeBuffer b(size);
    ExpectZeroedAndWritable(b, size);
    EXPECT_EQ(b.IsMapped(), size >= CLargeBuffer::kMappedFrom) << size;
    if (b.IsMapped()) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.data()) % (2 * kMb), 0u) << size;
    }
  }
  CLargeBuffer none(0);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.data(), nullptr);
}

TEST(LargeBuffer, OneOwnerAtATime) {
  CLargeBuffer a(3u << 20);
  a.data()[0] = 42;
  a.data()[a.size() - 1] = 43;
  const BYTE* block = a.data();
  CLargeBuffer b(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(b.data(), block);
  EXPECT_EQ(b.data()[0], 42);
  EXPECT_EQ(b.data()[b.size() - 1], 43);
  // Assigned over a block it holds: that one is given back, the new one kept.
  CLargeBuffer c(100);
  c.data()[99] = 7;
  b = std::move(c);
  EXPECT_EQ(b.size(), 100u);
  EXPECT_FALSE(b.IsMapped());
  EXPECT_EQ(b.data()[99], 7);
  EXPECT_TRUE(c.empty());
  b.clear();
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.data(), nullptr);
}
