// The damage campaign: a base as the tools make it (documents indexed, one
// kept stored, the index's system files), compacted and chained, damaged in
// every region of the file: truncated, bytes flipped, ranges zeroed. For each
// damaged variant, what a reader gets from it (every slot's name and
// contents, every document found by its name, the word index) is compared
// with the original, and the variant is checked the way `vamubase verify
// --index` checks it. No variant whose reading changed may be reported
// sound, except in the classes the format gives no way to tell from valid
// data (named below); the table of regions is printed for the notes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "concorda/doc_server.h"
#include "concorda/index_verify.h"
#include "kasten/tests/container_fixture.h"
#include "kasten/slot_chain.h"
#include "platform/coding.h"
#include "platform/file.h"

namespace {

// What a reader gets from a base.
struct Reading {
  std::vector<std::string> slots;                  // "descriptor\ncontents", "<none>" or "<error>"
  std::map<std::string, DWORD> byName;             // each original document's name -> GetItemIndex
  std::map<std::string, std::vector<DWORD>> words;  // the word index: word -> topics
  bool operator==(const Reading& o) const { return slots == o.slots && byName == o.byName && words == o.words; }
};

Reading Read(const std::string& path, const std::vector<std::string>& names) {
  Reading r;
  CDocServer base;
  if (!base.Init(path.c_str(), nullptr, CFile::modeRead)) {
    r.slots.push_back("<cannot open>");
    return r;
  }
  for (DWORD i = 0; i < base.GetSize(); ++i) {
    CMemFile contents(4096);
    try {
      _FILEITEM* item = base.GetFile(i, contents, 0, FALSE);
      if (!item) {
        r.slots.push_back("<none>");
        continue;
      }
      // The whole descriptor: the name and what follows it.
      std::string entry(reinterpret_cast<const char*>(item), item->wSize);
      CFileServer::FreeFileItem(item);
      entry += '\n';
      entry.append(reinterpret_cast<const char*>(contents.GetBuffer()), static_cast<std::size_t>(contents.GetLength()));
      r.slots.push_back(entry);
    } catch (const CException&) {
      r.slots.push_back("<error>");
    }
  }
  for (const auto& n : names) r.byName[n] = base.GetItemIndex(n.c_str());
  for (DWORD w = 0; w < base.GetWordCount(); ++w) r.words[base.GetWordAt(w)] = base.GetWordTopics(w);
  return r;
}

// What `vamubase verify --index` says: true when it reports the base sound.
bool ReportedSound(const std::string& path) {
  CDocServer base;
  if (!base.Init(path.c_str(), nullptr, CFile::modeRead)) return false;
  if (!base.Verify(true).Sound()) return false;
  return concorda::VerifyIndex(base).empty();
}

std::string Bytes(const std::string& path) {
  CFile f(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
  std::string s(static_cast<std::size_t>(f.GetLength()), '\0');
  f.Read(s.data(), static_cast<UINT>(s.size()));
  return s;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone);
  f.Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

DWORD Word(const std::string& b, std::size_t at) { return DecodeLe32(reinterpret_cast<const BYTE*>(b.data() + at)); }

// The regions of a base's file, byte by byte, from its own structures.
struct Layout {
  std::vector<std::string> region;  // per byte
  void Mark(ULONGLONG from, ULONGLONG to, const std::string& what) {
    for (ULONGLONG i = from; i < to && i < region.size(); ++i) region[i] = what;
  }
};

Layout Map(const std::string& path) {
  const std::string b = Bytes(path);
  Layout l;
  l.region.assign(b.size(), "dead space");
  l.Mark(0, 40, "header");
  const DWORD count = Word(b, 0);
  auto word = [&](DWORD at, DWORD& v) {
    if (at + 4ull > b.size()) return false;
    v = Word(b, at);
    return true;
  };
  const SlotChain chain = WalkSlotChain(word, static_cast<DWORD>(b.size()), 0xFFFFFFFF);
  for (const auto& run : chain.blocks) l.Mark(run.first, run.second, "slot words");
  CDocServer base(path.c_str(), nullptr, CFile::modeRead);
  for (DWORD i = 0; i < count; ++i) {
    CFileServer::ItemInfo info;
    if (!base.GetItemInfo(i, info)) continue;
    const DWORD at = info.recordOffset;
    const WORD size = static_cast<WORD>(static_cast<BYTE>(b[at]) | static_cast<BYTE>(b[at + 1]) << 8);
    const bool system = base.IsSystemFile(i);
    const std::string kind = system ? "system file " : info.method == 0 ? "stored document " : "document ";
    l.Mark(at, at + size, kind + "descriptor");
    const std::size_t slash = info.name.rfind('\\');
    if (slash != std::string::npos) l.Mark(at + 2, at + 2 + slash, kind + "name's directory part");
    l.Mark(at + 2 + info.name.size() + 1, at + size, kind + "descriptor caller data");
    l.Mark(at + size, at + size + 12, kind + "record fields");
    l.Mark(at + size + 12, at + size + 12ull + info.storedLength,
           system ? "index system file data" : info.method == 0 ? "stored document contents" : "compressed document");
  }
  const DWORD table = Word(b, 28);
  if (table) l.Mark(table, table + 8ull * count, "name table");
  return l;
}

// Damage the format cannot tell from valid data, and what it changes:
// - the contents of an item kept stored (method 0) carry no checksum;
// - the directory part of an item name ("DU" in "DU\D97000.HTM"): the name
//   table holds the hash of the last component only, so another directory
//   reads as another valid name;
// - a descriptor's caller data (the bytes behind the name, in the system
//   files' 275-byte descriptors): opaque to the store, checked by nothing.
bool Indistinguishable(const std::string& region) {
  return region == "stored document contents" || region.find("name's directory part") != std::string::npos ||
         region.find("caller data") != std::string::npos;
}

struct Tally {
  int variants = 0, changed = 0, reported = 0, silent = 0, accepted = 0;
};

// The container tests' scratch directory (on /dev/shm when there is one:
// thousands of files are written).
class DamageCampaign : public kasten_test::ContainerTest {
 protected:
  // Ten documents indexed with keys, one kept stored; then compacted.
  std::string MakeBase(const std::string& name) {
    const std::string path = dir + "/" + name;
    GUID guid{0x0BADF00D, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    CDocServer base(path.c_str(), &guid, CFile::modeCreate | CFile::modeReadWrite);
    for (int i = 0; i < 11; ++i) {
      std::string text = "<HTML><P>Art. " + std::to_string(i) + ". ";
      for (int k = 0; k < 40 + 13 * i; ++k)
        text += std::string(k % 5 ? "przepis " : "ustawa ") + "nr " + std::to_string((k * 7 + i) % 50) + " ";
      text += "</HTML>";
      CMemFile file(4096);
      file.Write(text.data(), static_cast<UINT>(text.size()));
      file.SeekToBegin();
      const std::string itemName = "DU\\D" + std::to_string(97000 + i) + ".HTM";
      _FILEITEM* item = MakeFileItem(itemName.c_str());
      base.AddFile(file, item, i % 2 ? "K1" : "K2", i == 4 ? 0 : 1);
      CFileServer::FreeFileItem(item);
      names.push_back(itemName.substr(3));
    }
    base.Compact();
    return path;
  }

  // The compacted base changed by the writers: an insertion (the chain
  // splits), a replacement and a removal leave dead space and a chained table.
  void Rework(const std::string& path) {
    CDocServer base(path.c_str(), nullptr, CFile::modeReadWrite);
    auto store = [&](const std::string& itemName, const std::string& text, DWORD at, bool replace) {
      CMemFile file(4096);
      file.Write(text.data(), static_cast<UINT>(text.size()));
      file.SeekToBegin();
      _FILEITEM* item = MakeFileItem(itemName.c_str());
      if (replace) base.ReplaceFile(file, item, at, "K3", 1);
      else base.InsertFile(file, item, at, "K3", 1);
      CFileServer::FreeFileItem(item);
    };
    store("DU\\NOWY.HTM", "<HTML><P>nowy przepis o podatkach</HTML>", 3, false);
    store("DU\\D97006.HTM", "<HTML><P>tekst jednolity ustawy nr 6</HTML>", 7, true);
    base.RemoveFile(9);
    names.push_back("NOWY.HTM");
  }

  // Runs every variant of the base at `path`, counting by region.
  void Campaign(const std::string& path, std::map<std::string, Tally>& tally) {
    const std::string original = Bytes(path);
    const Reading want = Read(path, names);
    ASSERT_TRUE(ReportedSound(path));
    const Layout layout = Map(path);
    const std::string damaged = dir + "/damaged.vq";
    // VAMU_CAMPAIGN_DUMP=DIR keeps every variant there, with a list of what
    // each is, to run another build's verify over them.
    const char* dump = std::getenv("VAMU_CAMPAIGN_DUMP");
    auto run = [&](const std::string& bytes, const std::string& region, const std::string& what) {
      WriteBytes(damaged, bytes);
      Tally& t = tally[region];
      ++t.variants;
      const bool changed = !(Read(damaged, names) == want);
      const bool sound = ReportedSound(damaged);
      if (dump) {
        static int serial = 0;
        const std::string file = std::string(dump) + "/" + std::to_string(++serial) + ".vq";
        WriteBytes(file, bytes);
        std::FILE* list = std::fopen((std::string(dump) + "/variants.txt").c_str(), "a");
        if (list) {
          std::fprintf(list, "%s\t%d\t%d\t%s\t%s\n", file.c_str(), changed, sound, region.c_str(), what.c_str());
          std::fclose(list);
        }
      }
      t.changed += changed;
      t.reported += !sound;
      if (changed && sound) {
        if (Indistinguishable(region)) ++t.accepted;
        else {
          ++t.silent;
          ADD_FAILURE() << "reported sound although its reading changed: " << what << " (" << region << ")";
        }
      }
    };
    // The first byte of every run of a region, and a few inside each run.
    std::vector<std::size_t> points;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < original.size(); ++i) {
      if (i == 0 || layout.region[i] != layout.region[i - 1]) runStart = i;
      const std::size_t into = i - runStart;
      if (into < 8 || into % 61 == 0 || layout.region[i] == "header" || layout.region[i] == "slot words")
        points.push_back(i);
    }
    for (std::size_t at : points) {
      const std::string& region = layout.region[at];
      for (int bit : {0, 7}) {
        std::string b = original;
        b[at] = static_cast<char>(b[at] ^ (1 << bit));
        run(b, region, "bit " + std::to_string(bit) + " of byte " + std::to_string(at) + " flipped");
      }
    }
    for (std::size_t i = 0; i < points.size(); i += 5) {
      const std::size_t at = points[i];
      for (std::size_t n : {4u, 64u}) {
        std::string b = original;
        const std::size_t end = std::min(original.size(), at + n);
        if (b.compare(at, end - at, std::string(end - at, '\0')) == 0) continue;  // zero already
        std::fill(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(end), '\0');
        run(b, layout.region[at], std::to_string(n) + " bytes zeroed from " + std::to_string(at));
      }
    }
    for (std::size_t i = 0; i < points.size(); i += 3)
      run(original.substr(0, points[i]), "truncation", "cut to " + std::to_string(points[i]) + " bytes");
  }

  std::vector<std::string> names;  // of the documents, as GetItemIndex takes them
};

TEST_F(DamageCampaign, NoDamageThatChangesTheReadingIsReportedSound) {
  std::map<std::string, Tally> tally;
  const std::string compacted = MakeBase("compacted.vq");
  Campaign(compacted, tally);
  const std::string chained = dir + "/chained.vq";
  ASSERT_TRUE(CopyFileReplace(compacted, chained));
  Rework(chained);
  Campaign(chained, tally);

  Tally total;
  std::string table = "region | variants | reading changed | reported damaged | changed, reported sound\n";
  for (const auto& [region, t] : tally) {
    table += region + " | " + std::to_string(t.variants) + " | " + std::to_string(t.changed) + " | " +
             std::to_string(t.reported) + " | " + std::to_string(t.silent + t.accepted) +
             (t.accepted ? " (indistinguishable)" : "") + "\n";
    total.variants += t.variants;
    total.changed += t.changed;
    total.reported += t.reported;
    total.silent += t.silent;
    total.accepted += t.accepted;
  }
  table += "all | " + std::to_string(total.variants) + " | " + std::to_string(total.changed) + " | " +
           std::to_string(total.reported) + " | " + std::to_string(total.silent + total.accepted) + "\n";
  std::printf("%s", table.c_str());
  RecordProperty("variants", total.variants);
  EXPECT_GE(total.variants, 500);
  EXPECT_EQ(total.silent, 0);
}

}  // namespace
