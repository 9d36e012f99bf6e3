#include "kasten/file_item.h"

#include <cstdlib>
#include <string>

_FILEITEM* MakeFileItem(const char* name, std::size_t size) {
  std::size_t needed = 2 + std::strlen(name) + 1;
  if (size == 0) size = needed;
  if (size < needed || size > 0xFFFF) return nullptr;
  auto* item = static_cast<_FILEITEM*>(std::calloc(1, size));
  if (!item) return nullptr;
  item->wSize = static_cast<WORD>(size);
  std::memcpy(item->szName, name, needed - 2);
  return item;
}

void FileItemFree::operator()(_FILEITEM* item) const { std::free(item); }

std::string CXException::CodeText() const {
  return m_dwError == damaged ? "damaged container" : "container error " + std::to_string(m_dwError);
}

std::string CXException::Place() const {
  std::string text;
  for (const std::string* part : {&m_strFile, &m_strItem})
    if (!part->empty()) text += *part + ": ";
  return text;
}

std::string CXException::GetErrorMessage() const { return Place() + (m_strWhat.empty() ? CodeText() : m_strWhat); }

std::string CZLibException::GetErrorMessage() const {
  return Place() + CodeText() + (m_strWhat.empty() ? "" : ": " + m_strWhat);
}

UINT CZLibException::MessageId() const {
  switch (m_dwError) {
    case streamError: return 27660;
    case dataError: return 27661;
    case bufferError: return 27662;
    default: return 27658;
  }
}

std::string CZLibException::CodeText() const {
  switch (m_dwError) {
    case streamError: return "compressed stream error";
    case dataError: return "compressed data damaged";
    case bufferError: return "compressed data incomplete";
    default: return "compression library error";
  }
}
