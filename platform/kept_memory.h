// Memory for what a reader keeps from query to query (the postings of the
// words queries asked for, and what was worked out from them), carved from
// blocks of 2 MB mapped on their own instead of taken from the heap.
//
// Why not the heap: kept items taken from the heap lie between the scratch
// of the queries, so that the heap grows with every new word and a query's
// scratch keeps landing on pages never touched, each a page fault (a
// phrase's first run in a fresh process met 10-24). Kept apart, the heap's
// freed scratch serves the next query.
//
// The first block is made by Prepare, called when the reader opens, of a
// huge page touched there: the words of the first queries fault nothing.
// Later blocks, made while queries run, are of ordinary pages (see
// CLargeBuffer::Pages: a fresh huge page can stall a query for milliseconds
// on a virtual machine).
//
// A block lives while any item carved from it does: an item is a shared
// pointer that shares ownership of its block. StartAfresh, called when the
// owner empties its cache, makes the next item open a new block, so that the
// old ones go once the last query holding their items ends.
//
// Not thread-safe: the owner calls it under the lock of its cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
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
  // it is a megabyte or more, of ordinary pages like every block made while
  // queries run), so that a block is not left mostly empty.
  static constexpr std::size_t kOwnBlockFrom = kBlockBytes / 4;

  // Memory for `count` items of T (trivially copyable), uninitialised
  // except that a fresh block is zero. Throws std::bad_alloc.
  template <class T>
  std::shared_ptr<T> Take(std::size_t count) {
    static_assert(alignof(T) <= kAlign && std::is_trivially_copyable_v<T>);
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    std::shared_ptr<BYTE> bytes = Bytes(count * sizeof(T));
    T* const items = reinterpret_cast<T*>(bytes.get());
    return std::shared_ptr<T>(std::move(bytes), items);
  }
  // Makes the block the next items are carved from now, of a huge page
  // where the kernel gives one, and touches it.
  void Prepare();
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
