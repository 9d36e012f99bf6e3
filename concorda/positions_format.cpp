#include "concorda/positions_format.h"

#include "kasten/whole_deflate.h"

namespace concorda {

DWORD Crc32(const void* data, std::size_t length, DWORD crc) { return whole_deflate::Crc32(data, length, crc); }

CStateStamp::CStateStamp(const GUID& guid, DWORD slots) {
  BYTE g[16];
  for (int i = 0; i < 4; ++i) g[i] = static_cast<BYTE>(guid.Data1 >> (8 * i));
  g[4] = static_cast<BYTE>(guid.Data2);
  g[5] = static_cast<BYTE>(guid.Data2 >> 8);
  g[6] = static_cast<BYTE>(guid.Data3);
  g[7] = static_cast<BYTE>(guid.Data3 >> 8);
  for (int i = 0; i < 8; ++i) g[8 + i] = guid.Data4[i];
  Add(g, 16);
  AddSlot(slots);
}

void CStateStamp::AddSlot(DWORD recordOffset) {
  const BYTE b[4] = {static_cast<BYTE>(recordOffset), static_cast<BYTE>(recordOffset >> 8),
                     static_cast<BYTE>(recordOffset >> 16), static_cast<BYTE>(recordOffset >> 24)};
  Add(b, 4);
}

void CStateStamp::Add(const BYTE* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) m_h = (m_h ^ p[i]) * 1099511628211ull;
}

}  // namespace concorda
