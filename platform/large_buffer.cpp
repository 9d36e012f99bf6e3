#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHugePage = 2u << 20;

std::size_t RoundUp(std::size_t n, std::size_t step) { return (n + step - 1) / step * step; }

}  // namespace

CLargeBuffer::CLargeBuffer(std::size_t size, Pages pages) {
  if (size == 0) return;
  if (size < kMappedFrom) {
    m_data = static_cast<BYTE*>(std::calloc(size, 1));
    if (!m_data) throw std::bad_alloc();
    m_size = size;
    return;
  }
  // Whole huge pages: the last one is all or nothing anyway. The mapping is
  // made a huge page longer and trimmed, so that its start is aligned.
  if (size > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  const std::size_t length = RoundUp(size, kHugePage);
  void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = RoundUp(start, kHugePage);
  if (aligned > start) ::munmap(raw, aligned - start);
  if (const std::size_t tail = start + length + kHugePage - (aligned + length); tail > 0)
    ::munmap(reinterpret_cast<void*>(aligned + length), tail);
  // A hint: refused (a kernel without transparent huge pages) it leaves
  // ordinary pages.
  if (pages == Pages::kHuge) ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  m_data = reinterpret_cast<BYTE*>(aligned);
  m_size = size;
  m_mapped = length;
}

void CLargeBuffer::Release() noexcept {
  if (m_mapped) ::munmap(m_data, m_mapped);
  else std::free(m_data);
  m_data = nullptr;
  m_size = m_mapped = 0;
}
