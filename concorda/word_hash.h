// The hash of a word for the indexer's hash tables. A document's words are
// hashed once, where they are cut out of it (CDocPositions, on the threads
// that read the documents); the tables that the writing thread keeps (the
// word table's index, the positions of the session) are then searched with
// that hash instead of hashing every word again on the one thread that all
// documents pass through.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/windows_types.h"

namespace concorda {

// FNV-1a: words are short, and it needs no table.
inline DWORD WordHash(std::string_view w) {
  DWORD h = 2166136261u;
  for (char c : w) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

// A word with its hash, as a key to look up.
struct HashedWord {
  std::string_view text;
  DWORD hash;
};

}  // namespace concorda
