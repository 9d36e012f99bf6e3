// Helpers shared by the source files of CDocServer; not part of its interface.
#pragma once

#include <cstring>

#include "concorda/doc_server.h"

namespace concorda {

// Storage method of the system files (zlib).
constexpr DWORD kSystemMethod = 2;
// The reference of a word that has no topics at all (none stored, none in memory).
constexpr DWORD kNoTopicsRef = 0xFFFFFFFF;
// Items beyond this index cannot be named by a topic.
constexpr DWORD kMaxTopicItem = kItemMask;

// True when the descriptor's name ends inside the descriptor.
inline bool NameFits(const _FILEITEM* item) {
  return item->wSize > 2 && std::memchr(item->szName, 0, item->wSize - 2u) != nullptr;
}

}  // namespace concorda

// While alive, the hooks record nothing: the index's own system files are
// being stored, and they are never named by a topic or a key.
class CDocServer::CHookPause {
 public:
  explicit CHookPause(CDocServer& s) : m_s(s) { ++m_s.m_nHookPause; }
  ~CHookPause() { --m_s.m_nHookPause; }
  CHookPause(const CHookPause&) = delete;
  CHookPause& operator=(const CHookPause&) = delete;

 private:
  CDocServer& m_s;
};
