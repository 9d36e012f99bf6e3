// CFileServer::Verify: every inconsistency the container format lets a
// reader see. Each check compares two things the file states independently
// (the header's slot count and the chain, a record's lengths and its stream,
// the table's entries and the names), so that damage to any one of them shows.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "kasten/container_header.h"
#include "kasten/file_server.h"
#include "platform/coding.h"

namespace {

std::string Hex(DWORD v) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) s += digits[(v >> shift) & 15];
  return s;
}

// A destination that counts the bytes a read delivers and keeps none.
class CountingFile : public CMemFile {
 public:
  ULONGLONG written = 0;
  void Write(const void*, UINT count) override { written += count; }
};

}  // namespace

class CFileServer::Verifier {
 public:
  Verifier(CFileServer& fs, bool contents) : m_fs(fs), m_contents(contents), m_length(fs.FileLength()) {}

  Report Run() {
    m_report.slots = m_fs.m_dwSize;
    CheckHeader();
    CheckChain();
    CheckRecords();
    CheckTable();
    CheckOverlaps();
    return std::move(m_report);
  }

 private:
  // A piece of the file something claims: the header, a run of slot words,
  // a record, the table.
  struct Extent {
    ULONGLONG start, end;
    std::string what;
    DWORD slot;
  };

  void Add(DWORD slot, const std::string& what) { m_report.findings.push_back({slot, NameOf(slot), what}); }
  std::string NameOf(DWORD slot) const {
    auto it = m_names.find(slot);
    return it == m_names.end() ? std::string() : it->second;
  }

  void CheckHeader() {
    BYTE raw[ContainerHeader::kSize];
    if (!m_fs.ReadAt(0, raw, sizeof raw)) {
      Add(kNoItem, "the header cannot be read");
      return;
    }
    m_header = ContainerHeader::Decode(raw);
    m_extents.push_back({0, ContainerHeader::kSize, "the header", kNoItem});
    if (m_header.layout > 1) Add(kNoItem, "layout flag " + std::to_string(m_header.layout) + " (0 or 1 expected)");
    if (m_header.writeMark == ContainerHeader::kWriteMark) {
      // A writable container has rebuilt what the mark announces; Close writes it.
      if (!m_fs.m_bWriting)
        Add(kNoItem,
            "the last write did not finish (write mark set): the slot count and name table on disk may lag "
            "behind the items; opening the base for writing rebuilds them");
    } else {
      if (m_header.writeMark != 0) Add(kNoItem, "header bytes 32-35 hold " + Hex(m_header.writeMark) + " (0 expected)");
      if (m_header.redoOffset != 0)
        Add(kNoItem, "header bytes 36-39 hold " + Hex(m_header.redoOffset) + " (0 expected)");
    }
  }

  void CheckChain() {
    // A container as created: the header and nothing else.
    if (m_fs.m_dwSize == 0 && m_length == kHeaderSize) return;
    const SlotChain chain = m_fs.WalkChain(kNoItem);
    for (const auto& run : chain.blocks) m_extents.push_back({run.first, run.second, "the slot words", kNoItem});
    const DWORD count = m_fs.m_dwSize;
    if (chain.end == SlotChain::End::Outside)
      Add(kNoItem, "the slot chain leaves the file at offset " + std::to_string(chain.endOffset) + " (after " +
                       std::to_string(chain.slots.size()) + " slots)");
    if (chain.end == SlotChain::End::Loop)
      Add(kNoItem, "the slot chain runs back into itself at offset " + std::to_string(chain.endOffset) + " (after " +
                       std::to_string(chain.slots.size()) + " slots)");
    if (chain.slots.size() != count)
      Add(kNoItem, "the slot chain holds " + std::to_string(chain.slots.size()) + " slots, the header counts " +
                       std::to_string(count));
    m_slotWords.assign(chain.slots.begin(), chain.slots.begin() + std::min<std::size_t>(count, chain.slots.size()));
    if (m_fs.m_dwLayout == 1) {
      // Contiguous: slot i at 40 + 4i, then a marker and a link of 0.
      bool contiguous = chain.end == SlotChain::End::Terminated && chain.endOffset == kHeaderSize + 4ull * count;
      for (std::size_t i = 0; i < m_slotWords.size() && contiguous; ++i)
        contiguous = m_slotWords[i] == kHeaderSize + 4 * i;
      if (!contiguous) Add(kNoItem, "the layout flag says contiguous, but the slot words are not 40 + 4 x slot, ended by 0, 0");
    }
  }

  void CheckRecords() {
    for (DWORD i = 0; i < m_slotWords.size(); ++i) {
      DWORD value = 0;
      BYTE b[4];
      if (!m_fs.ReadAt(m_slotWords[i], b, 4)) continue;  // the chain walk read it; cannot happen
      value = DecodeLe32(b);
      if (value == kNoItem) {
        ++m_report.empty;
        if (m_fs.m_dwLayout == 1) Add(i, "empty slot in a contiguous (compacted) base");
        continue;
      }
      CheckRecord(i, value);
    }
  }

  void CheckRecord(DWORD slot, DWORD at) {
    if (at < kHeaderSize || at > m_length - 2) {
      Add(slot, "the slot points outside the file (offset " + std::to_string(at) + ")");
      return;
    }
    BYTE head[2];
    m_fs.ReadAt(at, head, 2);
    const WORD size = DecodeLe16(head);
    if (size < 3 || ULONGLONG(at) + size + 12 > m_length) {
      Add(slot, "the descriptor at offset " + std::to_string(at) + " claims " + std::to_string(size) +
                    " bytes, which do not fit");
      return;
    }
    std::vector<BYTE> record(size + 12u);
    m_fs.ReadAt(at, record.data(), static_cast<UINT>(record.size()));
    const char* name = reinterpret_cast<const char*>(record.data() + 2);
    const BYTE* nul = static_cast<const BYTE*>(std::memchr(name, 0, size - 2u));
    if (!nul) {
      Add(slot, "the item name is not terminated inside its descriptor");
      return;
    }
    m_names[slot] = name;
    ++m_report.items;
    const DWORD method = DecodeLe32(&record[size]);
    const DWORD contents = DecodeLe32(&record[size + 4]);
    const DWORD stored = DecodeLe32(&record[size + 8]);
    const ULONGLONG end = ULONGLONG(at) + size + 12 + stored;
    m_extents.push_back({at, std::min<ULONGLONG>(end, m_length), "the record", slot});
    bool sound = true;
    auto fail = [&](const std::string& what) {
      Add(slot, what);
      sound = false;
    };
    if (method > 2) fail("unknown storage method " + std::to_string(method));
    if (end > m_length)
      fail(std::to_string(stored) + " stored bytes run past the end of the file (" + std::to_string(end - m_length) +
           " bytes)");
    if (method == 0 && contents != stored)
      fail("stored item declares " + std::to_string(contents) + " bytes of contents but holds " + std::to_string(stored));
    if ((method == 1 || method == 2) && contents > ULONGLONG(stored) * 1032 + 64)
      fail("contents length " + std::to_string(contents) + " is more than " + std::to_string(stored) +
           " stored bytes can inflate to");
    if (sound && m_contents) ReadWhole(slot);
  }

  void ReadWhole(DWORD slot) {
    try {
      CountingFile sink;
      FileItemPtr item(m_fs.GetFile(slot, sink, 0, FALSE));
      if (!item) Add(slot, "the item cannot be read");
    } catch (const CException& e) {
      Add(slot, "the stored contents are damaged: " + e.GetErrorMessage());
    }
  }

  // The table a reader uses: the one the file holds, or while a writer's
  // rebuilt table is not yet written, the one in memory.
  void CheckTable() {
    const DWORD count = m_fs.m_dwSize;
    std::vector<HashEntry> entries;
    if (m_fs.m_bWriting) {
      m_fs.SettleHash();
      entries = m_fs.m_aHash;
    } else if (m_header.hashOffset == 0) {
      if (count > 0) Add(kNoItem, "the base has no name table (header offset 28 is 0): no item can be found by name");
      // A base that held items keeps a table when it is emptied; with neither
      // slots nor table, the bytes behind the header belong to nothing (a
      // header zeroed with the first slot words looks like this).
      else if (m_length > kHeaderSize + 8)
        Add(kNoItem, "the base counts no slots and names no name table, yet its file holds " +
                         std::to_string(m_length - kHeaderSize) + " bytes behind the header: its header looks lost");
      return;
    } else {
      const ULONGLONG start = m_header.hashOffset, bytes = 8ull * count;
      if (start + bytes > m_length)
        Add(kNoItem, "the name table at offset " + std::to_string(start) + " runs " +
                         std::to_string(start + bytes - m_length) + " bytes past the end of the file");
      const ULONGLONG fits = std::min<ULONGLONG>(bytes, m_length - std::min<ULONGLONG>(start, m_length)) / 8;
      std::vector<BYTE> raw(static_cast<std::size_t>(fits) * 8);
      if (!raw.empty()) m_fs.ReadAt(static_cast<DWORD>(start), raw.data(), static_cast<UINT>(raw.size()));
      for (std::size_t k = 0; k < fits; ++k) entries.push_back({DecodeLe32(&raw[8 * k]), DecodeLe32(&raw[8 * k + 4])});
      m_extents.push_back({start, start + raw.size(), "the name table", kNoItem});
      for (std::size_t k = 1; k < entries.size(); ++k)
        if (entries[k].dwHash < entries[k - 1].dwHash) {
          Add(kNoItem, "the name table is out of order at entry " + std::to_string(k));
          break;
        }
    }
    std::map<DWORD, std::vector<DWORD>> bySlot;  // slot -> hashes of its entries
    for (std::size_t k = 0; k < entries.size(); ++k) {
      const HashEntry& e = entries[k];
      if (e.dwIndex < count) bySlot[e.dwIndex].push_back(e.dwHash);
      else if (e.dwIndex != kNoItem || e.dwHash != 0xFFFFFFFF)
        Add(kNoItem, "name table entry " + std::to_string(k) + " names slot " + std::to_string(e.dwIndex) +
                         ", beyond the slot count");
    }
    for (const auto& [slot, hashes] : bySlot)
      if (hashes.size() > 1) Add(slot, "the slot has " + std::to_string(hashes.size()) + " name table entries");
    for (const auto& [slot, name] : m_names) {
      const DWORD want = MakeHash(LastComponent(name.c_str()));
      auto it = bySlot.find(slot);
      if (it == bySlot.end()) {
        Add(slot, "the item has no name table entry");
        continue;
      }
      if (std::find(it->second.begin(), it->second.end(), want) == it->second.end()) {
        Add(slot, "its name table entry holds hash " + Hex(it->second.front()) + ", the name hashes to " + Hex(want));
        continue;
      }
      // Found by its name: this slot, or an earlier one of the same name.
      const DWORD found = m_fs.GetItemIndex(name.c_str());
      if (found != slot && NameOf(found) != name) Add(slot, "the item is not found by its name");
    }
  }

  // No byte of the file may belong to two of the things that claim it.
  void CheckOverlaps() {
    std::sort(m_extents.begin(), m_extents.end(),
              [](const Extent& a, const Extent& b) { return a.start != b.start ? a.start < b.start : a.end < b.end; });
    ULONGLONG reach = 0;
    const Extent* last = nullptr;
    for (const Extent& e : m_extents) {
      if (e.start == e.end) continue;
      if (last && e.start < reach) {
        std::string a = last->what + (last->slot != kNoItem ? " of slot " + std::to_string(last->slot) : "");
        std::string b = e.what + (e.slot != kNoItem ? " of slot " + std::to_string(e.slot) : "");
        Add(e.slot != kNoItem ? e.slot : last->slot, b + " shares bytes with " + a + " (from offset " + std::to_string(e.start) + ")");
      }
      if (e.end > reach) {
        reach = e.end;
        last = &e;
      }
    }
  }

  CFileServer& m_fs;
  const bool m_contents;
  const DWORD m_length;
  ContainerHeader m_header;
  std::vector<DWORD> m_slotWords;        // the counted slots' words, in slot order
  std::map<DWORD, std::string> m_names;  // slots whose descriptor can be read
  std::vector<Extent> m_extents;
  Report m_report;
};

CFileServer::Report CFileServer::Verify(bool contents) {
  CSingleLock lock(m_mutexFile);
  if (!m_pFile) return Report{};
  return Verifier(*this, contents).Run();
}
