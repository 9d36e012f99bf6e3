// A heap block that only grows: the word scratch buffer and the document text
// buffer of CDocServer. Growth failure is reported to the caller (which shows
// its own message) instead of throwing, so the index can skip one word or one
// document and go on.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace concorda {

class CGrowBlock {
 public:
  CGrowBlock() = default;
  CGrowBlock(const CGrowBlock&) = delete;
  CGrowBlock& operator=(const CGrowBlock&) = delete;
  ~CGrowBlock() { Free(); }

  // Makes the block hold at least `size` bytes (never shrinks). False when the
  // memory is not there; the old block is then kept as it was.
  bool Reserve(std::size_t size) {
    if (size <= m_size) return true;
    void* p = std::realloc(m_p, size);
    if (!p) return false;
    m_p = static_cast<char*>(p);
    m_size = size;
    return true;
  }
  void Free() {
    std::free(m_p);
    m_p = nullptr;
    m_size = 0;
  }
  char* Data() { return m_p; }
  std::size_t Size() const { return m_size; }
  bool Exists() const { return m_p != nullptr; }

 private:
  char* m_p = nullptr;
  std::size_t m_size = 0;
};

}  // namespace concorda
