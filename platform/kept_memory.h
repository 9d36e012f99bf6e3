// Memory for what a reader keeps from query to query (the postings of the
// words queries asked for, and what was worked out from them), carved from
// blocks of 2 MB of huge pages instead of taken from the heap.
//
// Why not the heap: on the virtual machines we run on, memory touched for the
// first time costs about 10 us a 4 KB page. Kept items taken from the heap
// lie between the scratch of the queries, so that the heap grows with every
// new word and a query's scratch keeps landing on pages never touched: a
// phrase's first run paid a dozen or two such faults (a third of its time).
// Kept apart, the heap's freed scratch serves the next query, and the kept
// items fault once per 2 MB (where the kernel gives huge pages; otherwise
// per page, as before).
//
// A block lives while any item carved from it does: an item is a shared
// pointer that shares ownership of its block. StartAfresh, called when the
// owner empties its cache, makes the next item open a new block, so that the
// old ones go once the last query holding their items ends.
//
// Not thread-safe: the owner calls Take under the lock of its cache.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <type_traits>

#include "platform/large_buffer.h"

// A kept array: a view of `size` items that keeps their memory alive.
template <class T>
class CKept {
 public:
  CKept() = default;
  CKept(std::shared_ptr<const T> data, std::size_t size) : m_data(std::move(data)), m_size(size) {}

  const T* data() const { return m_data.get(); }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + m_size; }
  const T& operator[](std::size_t i) const { return data()[i]; }
  const T& back() const { return data()[m_size - 1]; }
  std::span<const T> span() const { return {data(), m_size}; }
  // Whether it holds an array at all (an empty one does).
  explicit operator bool() const { return m_data != nullptr; }

 private:
  std::shared_ptr<const T> m_data;
  std::size_t m_size = 0;
};

class CKeptMemory {
 public:
  static constexpr std::size_t kBlockBytes = 2u << 20;
  // Items larger than this get a block of their own (mapped on its own when
  // it is a megabyte or more), so that a block is not left mostly empty.
  static constexpr std::size_t kOwnBlockFrom = kBlockBytes / 4;

  // Memory for `count` items of T (trivially copyable), uninitialised
  // except that a fresh block is zero. Throws std::bad_alloc.
  template <class T>
  std::shared_ptr<T> Take(std::size_t count) {
    static_assert(alignof(T) <= kAlign && std::is_trivially_copyable_v<T>);
    std::shared_ptr<BYTE> bytes = Bytes(count * sizeof(T));
    T* const items = reinterpret_cast<T*>(bytes.get());
    return std::shared_ptr<T>(std::move(bytes), items);
  }
  // The next item opens a new block.
  void StartAfresh() {
    m_block.reset();
    m_used = 0;
  }

 private:
  static constexpr std::size_t kAlign = 8;
  // `bytes` new bytes, sharing the ownership of their block.
  std::shared_ptr<BYTE> Bytes(std::size_t bytes);

  std::shared_ptr<CLargeBuffer> m_block;  // the block items are carved from now
  std::size_t m_used = 0;                 // bytes of it given out
};
