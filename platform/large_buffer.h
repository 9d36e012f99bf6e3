// Memory for a large block that is read once and then kept (a section of a
// file held in memory for queries), zero-filled. A block of a megabyte or
// more is mapped on its own, aligned to 2 MB and offered to the kernel for
// huge pages (transparent huge pages in "madvise" mode): on the virtual
// machines we run on a first touch costs about 10 us a 4 KB page, so a few
// megabytes read at open took tens of milliseconds in faults alone, and a
// query that reads such a block all over (the records of its candidates)
// needs a TLB entry for every 4 KB it touches. With huge pages a block
// faults once per 2 MB and stays in a few TLB entries. A smaller block comes
// from the heap. Where the kernel has no huge page to give, the mapping is
// an ordinary one: only slower, never wrong.
#pragma once

#include <cstddef>

#include "platform/windows_types.h"

class CLargeBuffer {
 public:
  // Blocks of at least this many bytes are mapped on their own.
  static constexpr std::size_t kMappedFrom = 1u << 20;

  // Whether a mapped block asks for huge pages. Ordinary pages for memory
  // that grows while queries run: on our virtual machines the first touch
  // of a huge page the machine has never used costs up to 5-6 ms (the host
  // backs its 2 MB then), against about 2 us for each ordinary page.
  enum class Pages { kHuge, kOrdinary };

  CLargeBuffer() = default;
  // `size` bytes, zero-filled. Throws std::bad_alloc when there is no memory.
  explicit CLargeBuffer(std::size_t size, Pages pages = Pages::kHuge);
  ~CLargeBuffer() { Release(); }
  CLargeBuffer(CLargeBuffer&& other) noexcept { Take(other); }
  CLargeBuffer& operator=(CLargeBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      Take(other);
    }
    return *this;
  }
  CLargeBuffer(const CLargeBuffer&) = delete;
  CLargeBuffer& operator=(const CLargeBuffer&) = delete;

  BYTE* data() { return m_data; }
  const BYTE* data() const { return m_data; }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  // Whether the block is a mapping of its own (for tests and statistics).
  bool IsMapped() const { return m_mapped != 0; }
  void clear() { Release(); }

 private:
  void Release() noexcept;
  void Take(CLargeBuffer& other) noexcept {
    m_data = other.m_data;
    m_size = other.m_size;
    m_mapped = other.m_mapped;
    other.m_data = nullptr;
    other.m_size = other.m_mapped = 0;
  }

  BYTE* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_mapped = 0;  // the length of the mapping, 0 when from the heap
};
