// Kept memory: every item holds what was written into it for as long as it
// is held, whatever is taken or let go around it and however often the owner
// starts afresh or prepares a block; items never overlap and are aligned for the arrays they
// hold; a fresh block is zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "platform/kept_memory.h"

namespace {

struct Held {
  CKept<BYTE> item;
  std::vector<BYTE> copy;  // what was written into it, kept apart
};

}  // namespace

TEST(KeptMemory, ItemsKeepTheirBytesApartWhileOthersComeAndGo) {
  std::mt19937 random(5);
  CKeptMemory memory;
  std::vector<Held> held;
  for (int step = 0; step < 2000; ++step) {
    const unsigned what = random() % 100;
    if (what < 60) {
      // Mostly small items, some near the size that gets a block of its
      // own, a few past it.
      std::size_t size = random() % 5000;
      if (what < 3) size = CKeptMemory::kOwnBlockFrom - 8 + random() % 16;
      if (what == 7) size = CKeptMemory::kBlockBytes + random() % 100000;
      std::shared_ptr<BYTE> bytes = memory.Take<BYTE>(size);
      ASSERT_NE(bytes, nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bytes.get()) % 8, 0u);
      Held h{CKept<BYTE>(bytes, size), std::vector<BYTE>(size)};
      const std::uint32_t seed = random();
      for (std::size_t i = 0; i < size; ++i) h.copy[i] = static_cast<BYTE>((seed + i * 2654435761u) >> 13);
      std::copy(h.copy.begin(), h.copy.end(), bytes.get());
      held.push_back(std::move(h));
    } else if (what < 90 && !held.empty()) {
      held.erase(held.begin() + random() % held.size());
    } else if (what < 97) {
      memory.StartAfresh();
    } else {
      memory.Prepare();
    }
    if (step % 200 == 199) {
      std::map<const BYTE*, std::size_t> ranges;
      for (const Held& h : held) {
        ASSERT_TRUE(std::equal(h.copy.begin(), h.copy.end(), h.item.begin())) << "step " << step;
        if (!h.item.empty()) ranges[h.item.data()] = h.item.size();
      }
      const BYTE* end = nullptr;
      for (const auto& [start, size] : ranges) {
        ASSERT_TRUE(end == nullptr || start >= end) << "step " << step << ": items overlap";
        end = start + size;
      }
    }
  }
}

TEST(KeptMemory, ABlockIsZeroAndArraysOfWordsFitInIt) {
  CKeptMemory memory;
  // An odd number of bytes first: what follows is still aligned.
  std::shared_ptr<BYTE> odd = memory.Take<BYTE>(3);
  std::shared_ptr<DWORD> words = memory.Take<DWORD>(1000);
  std::shared_ptr<ULONGLONG> wide = memory.Take<ULONGLONG>(7);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(words.get()) % alignof(DWORD), 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide.get()) % alignof(ULONGLONG), 0u);
  EXPECT_GE(reinterpret_cast<const BYTE*>(words.get()), odd.get() + 3);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(words.get()[i], 0u) << i;
  for (int i = 0; i < 7; ++i) ASSERT_EQ(wide.get()[i], 0u) << i;
  // A view reports what it was given.
  for (int i = 0; i < 1000; ++i) words.get()[i] = 3 * i + 1;
  const CKept<DWORD> view(words, 1000);
  ASSERT_TRUE(view);
  EXPECT_EQ(view.size(), 1000u);
  EXPECT_EQ(view[10], 31u);
  EXPECT_EQ(view.back(), 2998u);
  EXPECT_EQ(view.span().size(), 1000u);
  EXPECT_FALSE(CKept<DWORD>());
}
