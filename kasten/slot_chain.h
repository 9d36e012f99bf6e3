// The walk of a container's slot chain: which words of the file are slots,
// in slot order, and how the walk ended. The store walks it to find slots,
// the recovery of an interrupted write to count them, the verifier to say how
// a chain is damaged. docs/formats.md describes the chain.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/windows_types.h"

struct SlotChain {
  enum class End {
    Terminated,  // an end-of-block marker whose link is 0: the chain is complete
    Limit,       // the walk stopped after the number of slots asked for
    Outside,     // a word or a link lies outside the file
    Loop,        // a link or a block leads back into words already walked
  };

  std::vector<DWORD> slots;  // offsets of the slot words, in slot order
  std::vector<DWORD> values;  // the word read at each of them (a record offset, or kNoItem)
  End end = End::Terminated;
  DWORD endOffset = 0;  // the word at which the walk stopped
  // The runs of words walked, markers and links included, as [start, end).
  std::vector<std::pair<DWORD, DWORD>> blocks;
};

// Reads the word at an offset; false when it cannot be read.
using WordReader = std::function<bool(DWORD offset, DWORD& value)>;

// Walks from offset 40 of a file of `length` bytes and collects at most
// `limit` slots. Every word is read at most once, so a damaged chain costs
// at most one read per word of the file and never loops.
SlotChain WalkSlotChain(const WordReader& readWord, DWORD length, DWORD limit);
