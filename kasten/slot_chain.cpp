#include "kasten/slot_chain.h"

#include <iterator>
#include <map>

#include "kasten/container_header.h"

SlotChain WalkSlotChain(const WordReader& readWord, DWORD length, DWORD limit) {
  SlotChain chain;
  // Runs already walked, by start; a link into one of them, or a run that
  // reaches the start of one, would walk words twice.
  std::map<DWORD, DWORD> walked;
  auto finish = [&](SlotChain::End end, DWORD at) {
    chain.end = end;
    chain.endOffset = at;
    for (const auto& run : walked) chain.blocks.push_back(run);
    return chain;
  };
  DWORD start = ContainerHeader::kSize;
  for (;;) {
    // The first run starting behind this one bounds how far this one may go.
    auto next = walked.upper_bound(start);
    const ULONGLONG stop = next == walked.end() ? ULONGLONG(length) : next->first;
    DWORD pos = start;
    DWORD value = 0;
    auto close = [&](DWORD end) { walked.emplace(start, end); };
    for (;;) {
      if (chain.slots.size() >= limit) {
        close(pos);
        return finish(SlotChain::End::Limit, pos);
      }
      if (ULONGLONG(pos) + 4 > stop) {
        close(pos);
        return finish(pos + 4ull > length ? SlotChain::End::Outside : SlotChain::End::Loop, pos);
      }
      if (!readWord(pos, value)) {
        close(pos);
        return finish(SlotChain::End::Outside, pos);
      }
      if (value == 0) break;
      chain.slots.push_back(pos);
      chain.values.push_back(value);
      pos += 4;
    }
    // An end-of-block marker at pos; its link follows.
    DWORD link = 0;
    if (ULONGLONG(pos) + 8 > stop || !readWord(pos + 4, link)) {
      close(pos + 4);
      return finish(ULONGLONG(pos) + 8 > length ? SlotChain::End::Outside : SlotChain::End::Loop, pos);
    }
    close(pos + 8);
    if (link == 0) return finish(SlotChain::End::Terminated, pos);
    if (link < ContainerHeader::kSize || ULONGLONG(link) + 4 > length) return finish(SlotChain::End::Outside, pos + 4);
    auto before = walked.upper_bound(link);
    if (before != walked.begin() && link < std::prev(before)->second) return finish(SlotChain::End::Loop, pos + 4);
    start = link;
  }
}
