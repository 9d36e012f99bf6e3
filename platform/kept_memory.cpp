#include "platform/kept_memory.h"

#include <cstdint>
#include <new>

std::shared_ptr<BYTE> CKeptMemory::Bytes(std::size_t bytes) {
  if (bytes > SIZE_MAX - kAlign) throw std::bad_alloc();
  if (bytes >= kOwnBlockFrom) {
    auto own = std::make_shared<CLargeBuffer>(bytes, CLargeBuffer::Pages::kOrdinary);
    BYTE* const data = own->data();
    return std::shared_ptr<BYTE>(std::move(own), data);
  }
  const std::size_t rounded = (bytes + kAlign - 1) / kAlign * kAlign;
  if (!m_block || kBlockBytes - m_used < rounded) {
    m_block = std::make_shared<CLargeBuffer>(kBlockBytes, CLargeBuffer::Pages::kOrdinary);
    m_used = 0;
  }
  BYTE* const data = m_block->data() + m_used;
  m_used += rounded;
  return std::shared_ptr<BYTE>(m_block, data);
}

void CKeptMemory::Prepare() {
  m_block = std::make_shared<CLargeBuffer>(kBlockBytes, CLargeBuffer::Pages::kHuge);
  m_used = 0;
  // One write per 2 MB: the fault of the huge page (or of the first
  // ordinary page, where there is none) happens here.
  *static_cast<volatile BYTE*>(m_block->data()) = 0;
}
