#include "concorda/phrase_positions.h"

#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <span>
#include <string_view>

#include "concorda/word_tokenizer.h"
#include "platform/cp1250.h"

namespace concorda {

namespace {

// What a phrase byte matches among the upper-cased bytes of the words: the
// bytes every one of whose sources matches it (decided), and those that
// only some sources match (undecided: a small letter behind a capital).
struct ByteRule {
  bool usable = false;
  BYTE decided = 0;
  BYTE undecided = 0;
  bool hasUndecided = false;
};

struct ByteRules {
  std::array<ByteRule, 256> rule;
  ByteRules() {
    // How many word bytes have each upper-case byte: the same for every
    // phrase byte, so counted once (this runs on the first phrase of a
    // process, inside its query).
    std::array<int, 256> sources{};
    for (int c = 0; c < 256; ++c)
      if (IsWordChar(static_cast<BYTE>(c))) ++sources[cp1250::ToUpper(static_cast<BYTE>(c))];
    for (int p = 0; p < 256; ++p) {
      const auto pb = static_cast<BYTE>(p);
      if (!IsWordChar(pb)) continue;
      const BYTE partner = PhrasePartner(pb);
      // A partner that is no word byte would let a phrase match across
      // what the positions see as a word's end.
      if (partner != pb && !IsWordChar(partner)) continue;
      // The word bytes a phrase byte matches are itself and its partner:
      // per upper-case byte, how many of them have it.
      std::array<std::pair<BYTE, int>, 2> matching{};
      std::size_t kinds = 0;
      const BYTE matched[2] = {pb, partner};
      for (std::size_t j = 0; j < (partner == pb ? 1u : 2u); ++j) {  // the micro sign is its own partner
        const BYTE u = cp1250::ToUpper(matched[j]);
        std::size_t k = 0;
        while (k < kinds && matching[k].first != u) ++k;
        if (k == kinds) matching[kinds++] = {u, 0};
        ++matching[k].second;
      }
      ByteRule r;
      int decided = 0, undecided = 0;
      for (std::size_t k = 0; k < kinds; ++k) {
        const auto [u, count] = matching[k];
        if (count == sources[u]) {
          r.decided = u;
          ++decided;
        } else {
          r.undecided = u;
          r.hasUndecided = true;
          ++undecided;
        }
      }
      r.usable = decided == 1 && undecided <= 1;
      rule[p] = r;
    }
  }
};

const ByteRules& Rules() {
  static const ByteRules rules;
  return rules;
}

// At most this many spellings of one phrase word are looked up (a word with
// more digits is left to the scan).
constexpr std::size_t kMaxSpellings = 1024;

// The spellings of a phrase word among upper-cased words: each with whether
// it is decided (every byte decided) or not.
std::vector<std::pair<std::string, bool>> Spellings(const std::string& word) {
  std::vector<std::pair<std::string, bool>> out{{std::string(), true}};
  for (unsigned char c : word) {
    const ByteRule& r = Rules().rule[c];
    const std::size_t n = out.size();
    if (r.hasUndecided)
      for (std::size_t i = 0; i < n; ++i) out.push_back({out[i].first + char(r.undecided), false});
    for (std::size_t i = 0; i < n; ++i) out[i].first += char(r.decided);
  }
  return out;
}

enum class Role { kEnd, kWhole, kStart, kInside };

struct WordRef {
  std::size_t word;
  bool undecided;
};

// The words of the file a phrase word stands for in its role. With
// `exact`, only the words that are the phrase word itself.
void RoleWords(const CPositionsFile& file, const std::string& phraseWord, Role role, bool exact,
               CQueryBudget& budget, std::vector<WordRef>& out) {
  out.clear();
  for (const auto& [spelling, decided] : Spellings(phraseWord)) {
    if (exact || role == Role::kWhole) {
      std::size_t w = file.Find(spelling);
      if (w != CPositionsFile::npos) out.push_back({w, !decided});
      continue;
    }
    if (role == Role::kStart) {
      auto [first, last] = file.PrefixRange(spelling);
      for (std::size_t w = first; w < last; ++w) out.push_back({w, !decided});
    } else if (role == Role::kEnd) {
      auto [first, last] = file.SuffixRange(spelling);
      for (std::size_t k = first; k < last; ++k) out.push_back({file.WordEnd(k), !decided});
    } else {
      budget.ChargeTableScan();
      for (std::size_t w = 0; w < file.WordCount(); ++w) {
        if (w % 4096 == 4095) budget.CheckTime();
        if (file.Word(w).find(spelling) != std::string_view::npos) out.push_back({w, !decided});
      }
    }
  }
  // One word found through two spellings is decided when either decides it.
  std::sort(out.begin(), out.end(), [](const WordRef& a, const WordRef& b) {
    return a.word != b.word ? a.word < b.word : a.undecided < b.undecided;
  });
  out.erase(std::unique(out.begin(), out.end(), [](const WordRef& a, const WordRef& b) { return a.word == b.word; }),
            out.end());
  budget.ChargeExpandedWords(out.size());
}

// A place of a phrase word: its ordinal, the word of the file that stands
// there and whether that word leaves the phrase undecided. Eight bytes: the
// lists of common words run to hundreds of thousands of places, and every
// page of them is memory touched for the first time (DecidePhrase refuses a
// file of 2^31 words or more, which no file that opens holds).
struct Occurrence {
  Occurrence(DWORD place, bool undecided, std::size_t word)
      : ordinal(place), wordAndUndecided(static_cast<DWORD>(word) << 1 | (undecided ? 1u : 0u)) {}
  DWORD ordinal;
  DWORD wordAndUndecided;  // the word number times two, plus one when undecided
  bool Undecided() const { return wordAndUndecided & 1; }
  std::size_t Word() const { return wordAndUndecided >> 1; }
  bool operator<(const Occurrence& o) const { return ordinal < o.ordinal; }
};
static_assert(sizeof(Occurrence) == 8);
using Occurrences = std::span<const Occurrence>;

// The occurrences of one phrase word's file words in the documents still
// open: one flat list, document i's part at range[i], ordered by ordinal.
struct RoleOccurrences {
  std::vector<Occurrence> list;
  std::vector<std::pair<std::size_t, std::size_t>> range;
  Occurrences Of(std::size_t i) const {
    return Occurrences(list.data() + range[i].first, range[i].second - range[i].first);
  }
};

// An anchor for gathering a phrase word: the occurrences of another phrase
// word gathered before, `shift` places before this one in the phrase. Only
// the places that stand `shift` after one of the anchor's can be part of
// the phrase; the others are decoded but not kept (a short word such as "Z"
// holds ten times the places of the words around it).
struct Anchor {
  const RoleOccurrences* role = nullptr;
  long long shift = 0;
};

// Keeps of `ordinals` (ascending) those that stand `shift` after one of the
// anchor's (ascending).
void KeepAligned(std::vector<DWORD>& ordinals, Occurrences anchor, long long shift) {
  std::size_t kept = 0, a = 0;
  for (DWORD o : ordinals) {
    const long long want = static_cast<long long>(o) - shift;
    while (a < anchor.size() && static_cast<long long>(anchor[a].ordinal) < want) ++a;
    if (a == anchor.size()) break;
    if (static_cast<long long>(anchor[a].ordinal) == want) ordinals[kept++] = o;
  }
  ordinals.resize(kept);
}

// With several words, a document's occurrences come from several lists:
// gathered tagged by document, then put in order.
using TaggedOccurrences = std::vector<std::pair<DWORD, Occurrence>>;  // (document's place in `slots`, place)

// The working memory of the phrases a thread decides, kept from phrase to
// phrase: with common words the occurrence lists run to hundreds of
// thousands of entries, and memory fresh from the system is faulted in page
// by page (about 12 us a page on the virtual machines we run on) and copied
// at every doubling. Memory beyond kKeptBytes is given back after the
// phrase that needed it.
struct PhraseScratch {
  std::vector<RoleOccurrences> occ;
  TaggedOccurrences tagged;
  std::vector<DWORD> ordinals;
  std::vector<std::vector<Occurrence>> places;  // per phrase word, in one document (DecideStreamed)
  DocRecord doc;
  bool inUse = false;

  // A server runs 8 request threads by default: at most 16 MB kept in all.
  static constexpr std::size_t kKeptBytes = 2u << 20;
  std::size_t Bytes() const {
    std::size_t bytes = tagged.capacity() * sizeof(tagged[0]) + ordinals.capacity() * sizeof(DWORD);
    for (const RoleOccurrences& r : occ)
      bytes += r.list.capacity() * sizeof(Occurrence) + r.range.capacity() * sizeof(r.range[0]);
    for (const std::vector<Occurrence>& p : places) bytes += p.capacity() * sizeof(Occurrence);
    return bytes;
  }
};

// The calling thread's scratch for one phrase; a phrase decided while
// another is (which nothing does now) gets scratch of its own.
class CPhraseScratchUse {
 public:
  CPhraseScratchUse() : m_scratch(Thread().inUse ? m_own : Thread()) { m_scratch.inUse = true; }
  ~CPhraseScratchUse() {
    m_scratch.inUse = false;
    if (m_scratch.Bytes() > PhraseScratch::kKeptBytes) m_scratch = PhraseScratch();
  }
  CPhraseScratchUse(const CPhraseScratchUse&) = delete;
  CPhraseScratchUse& operator=(const CPhraseScratchUse&) = delete;
  PhraseScratch& operator*() { return m_scratch; }

 private:
  static PhraseScratch& Thread() {
    thread_local PhraseScratch scratch;
    return scratch;
  }
  PhraseScratch m_own;
  PhraseScratch& m_scratch;
};

// Gathers the occurrences of a set of words in each of the documents `slots`
// (ascending). Only the ordinals of those documents are decoded, and with an
// anchor only those that line up with it are kept.
void Gather(const CPositionsFile& file, const std::vector<WordRef>& words, const std::vector<DWORD>& slots,
            const Anchor& anchor, CQueryBudget& budget, PhraseScratch& scratch, RoleOccurrences& out) {
  out.list.clear();
  out.range.assign(slots.size(), {0, 0});
  std::vector<DWORD>& ordinals = scratch.ordinals;
  TaggedOccurrences& tagged = scratch.tagged;
  tagged.clear();
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (k % 256 == 255) budget.CheckTime();
    const CKept<BYTE> bytes = file.Postings(words[k].word);
    // A word has fewer places than its postings have bytes: room for all of
    // them at once, so that the list is never copied as it grows (only the
    // pages written to are memory the list takes).
    if (words.size() == 1) out.list.reserve(bytes.size());
    CPostingReader reader(bytes.data(), bytes.size());
    Posting p;
    std::size_t i = 0;
    while (i < slots.size() && reader.Next(p)) {
      while (i < slots.size() && slots[i] < p.slot) ++i;
      if (i == slots.size() || slots[i] != p.slot) continue;
      DecodeOrdinals(p, ordinals);
      if (anchor.role) KeepAligned(ordinals, anchor.role->Of(i), anchor.shift);
      if (words.size() == 1) {
        out.range[i].first = out.list.size();
        for (DWORD o : ordinals) out.list.push_back({o, words[k].undecided, words[k].word});
        out.range[i].second = out.list.size();
      } else {
        for (DWORD o : ordinals) tagged.push_back({static_cast<DWORD>(i), {o, words[k].undecided, words[k].word}});
      }
    }
  }
  if (words.size() == 1) return;
  // A place holds one word: the lists of several words only need ordering.
  std::sort(tagged.begin(), tagged.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.ordinal < b.second.ordinal;
  });
  for (std::size_t t = 0; t < tagged.size(); ++t) {
    const std::size_t i = tagged[t].first;
    if (t == 0 || tagged[t - 1].first != i) out.range[i].first = out.list.size();
    out.list.push_back(tagged[t].second);
    out.range[i].second = out.list.size();
  }
}

const Occurrence* Find(Occurrences list, DWORD ordinal) {
  auto it = std::lower_bound(list.begin(), list.end(), Occurrence(ordinal, false, 0));
  return it == list.end() || it->ordinal != ordinal ? nullptr : &*it;
}

// Whether a one-word phrase lies inside one piece of a split word: the
// verdict over the phrase's spellings found in the word's text.
PhraseVerdict InsideOnePiece(std::string_view text, std::span<const DWORD> pieces,
                             const std::vector<std::pair<std::string, bool>>& spellings) {
  PhraseVerdict best = PhraseVerdict::kNo;
  for (const auto& [spelling, decided] : spellings)
    for (std::size_t at = text.find(spelling); at != std::string_view::npos; at = text.find(spelling, at + 1)) {
      std::size_t start = 0;
      for (DWORD length : pieces) {
        if (at >= start && at + spelling.size() <= start + length) {
          if (decided) return PhraseVerdict::kYes;
          best = PhraseVerdict::kUndecided;
        }
        start += length;
      }
    }
  return best;
}

// A candidate's record (joins, split words), read when a place first asks
// for it: most documents are decided without.
class CLazyRecord {
 public:
  CLazyRecord(const CPositionsFile& file, DWORD slot, DocRecord& doc) : m_file(file), m_slot(slot), m_doc(doc) {}
  DocRecord& operator()() {
    if (!m_read && !m_file.ReadDocument(m_slot, m_doc))
      throw CPositionsDamaged("a document of the postings has no record");
    m_read = true;
    return m_doc;
  }

 private:
  const CPositionsFile& m_file;
  DWORD m_slot;
  DocRecord& m_doc;
  bool m_read = false;
};

// The verdict for a phrase whose words stand at the following places from
// `first` on in the document of `d`: each must be joined to the next by one
// blank, and a word with tags between its letters must hold its part of the
// phrase in one piece (`undecided`: some word there leaves the phrase
// undecided).
PhraseVerdict PlaceVerdict(DocRecord& d, DWORD first, const std::vector<std::string>& words, bool undecided) {
  if (const std::span<const DWORD> pieces = d.SplitAt(first); !pieces.empty() && words[0].size() > pieces.back())
    return PhraseVerdict::kNo;
  for (std::size_t k = 1; k < words.size(); ++k) {
    const DWORD t = first + static_cast<DWORD>(k);
    if (!d.IsJoined(t - 1)) return PhraseVerdict::kNo;
    if (const std::span<const DWORD> pieces = d.SplitAt(t);
        !pieces.empty() && !(k + 1 == words.size() && words[k].size() <= pieces.front()))
      return PhraseVerdict::kNo;
  }
  return undecided ? PhraseVerdict::kUndecided : PhraseVerdict::kYes;
}

// The verdict for one document from the occurrences of each phrase word.
// A word with tags between its letters is several pieces: the first phrase
// word must lie in its last piece, the last phrase word in its first, a
// middle word cannot be one, and a phrase of one word lies in one piece.
// The document's record (joins, split words) is read only when the words
// stand at following places somewhere: most documents are decided without.
PhraseVerdict Check(const CPositionsFile& file, const std::vector<Occurrences>& roles, DWORD slot, DocRecord& doc,
                    const std::vector<std::string>& words) {
  const std::size_t n = roles.size();
  CLazyRecord record(file, slot, doc);
  PhraseVerdict best = PhraseVerdict::kNo;
  std::vector<const Occurrence*> at(n);
  for (const Occurrence& first : roles[0]) {
    bool undecided = first.Undecided();
    if (n == 1) {
      const std::span<const DWORD> pieces = record().SplitAt(first.ordinal);
      const PhraseVerdict v = pieces.empty() ? (undecided ? PhraseVerdict::kUndecided : PhraseVerdict::kYes)
                                             : InsideOnePiece(file.Word(first.Word()), pieces, Spellings(words[0]));
      if (v == PhraseVerdict::kYes) return v;
      if (v == PhraseVerdict::kUndecided) best = v;
      continue;
    }
    // The words at the following places first: no record needed to miss.
    bool fits = true;
    for (std::size_t k = 1; k < n && fits; ++k) {
      const DWORD t = first.ordinal + static_cast<DWORD>(k);
      fits = t > first.ordinal && (at[k] = Find(roles[k], t)) != nullptr;
    }
    if (!fits) continue;
    for (std::size_t k = 1; k < n; ++k) undecided = undecided || at[k]->Undecided();
    const PhraseVerdict v = PlaceVerdict(record(), first.ordinal, words, undecided);
    if (v == PhraseVerdict::kYes) return v;
    if (v == PhraseVerdict::kUndecided) best = v;
  }
  return best;
}

// A document's verdict over both passes: yes stays, undecided beats no.
void Merge(PhraseVerdict v, PhraseVerdict& into) {
  if (v == PhraseVerdict::kYes || (v == PhraseVerdict::kUndecided && into == PhraseVerdict::kNo)) into = v;
}

// A file word a phrase word stands for, its postings walked in step with
// the candidates: SeekTo(slot) for ascending slots finds the word's posting
// of that document, if it has one.
struct WordCursor {
  WordCursor(CKept<BYTE> postings, const WordRef& of)
      : bytes(std::move(postings)), reader(bytes.data(), bytes.size()), ref(of) {
    more = reader.Next(at);
  }
  bool SeekTo(DWORD slot) {
    while (more && at.slot < slot) more = reader.Next(at);
    return more && at.slot == slot;
  }
  CKept<BYTE> bytes;  // what `reader` walks
  CPostingReader reader;
  Posting at;
  bool more = false;
  WordRef ref;
};

// A phrase word of at most this many file words is walked by cursors, one a
// word, all of whose postings are held at once; one of more (the words that
// end with "Z", say) is gathered word by word.
constexpr std::size_t kStreamedRoleWords = 16;

// The common case, every phrase word of a few file words: the candidates
// are decided one at a time, each phrase word's places read from its
// cursors, so that only one document's places are ever held. Gathering
// them all first (Gather) held every place of the rarest word in every
// candidate, and memory written for the first time costs a page fault a
// page (about 12 us on our virtual machines): two thirds of the faults of
// a phrase's first run in a fresh process.
void DecideStreamed(const CPositionsFile& file, const std::vector<std::vector<WordRef>>& sets,
                    const std::vector<std::size_t>& order, const std::vector<std::string>& words,
                    const std::vector<DWORD>& slots, const std::vector<std::size_t>& index, CQueryBudget& budget,
                    PhraseScratch& scratch, std::vector<PhraseVerdict>& verdicts) {
  const std::size_t n = words.size();
  std::vector<std::vector<WordCursor>> cursors(n);
  for (std::size_t k = 0; k < n; ++k)
    for (const WordRef& w : sets[k]) cursors[k].emplace_back(file.Postings(w.word), w);
  std::vector<std::vector<Occurrence>>& places = scratch.places;
  if (places.size() < n) places.resize(n);
  std::vector<DWORD>& ordinals = scratch.ordinals;
  const std::size_t anchor = order[0];
  std::vector<Occurrences> roles(n);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (i % 256 == 255) budget.CheckTime();
    file.PrefetchAhead(slots, i);
    // The word fewest documents hold first; the others keep only the places
    // that stand where the phrase puts them from one of its places.
    bool all = true;
    for (std::size_t k : order) {
      std::vector<Occurrence>& list = places[k];
      list.clear();
      for (WordCursor& c : cursors[k]) {
        if (!c.SeekTo(slots[i])) continue;
        DecodeOrdinals(c.at, ordinals);
        if (k != anchor)
          KeepAligned(ordinals, Occurrences(places[anchor]),
                      static_cast<long long>(k) - static_cast<long long>(anchor));
        for (DWORD o : ordinals) list.push_back({o, c.ref.undecided, c.ref.word});
      }
      // A place holds one word: the places of several words only need ordering.
      if (cursors[k].size() > 1) std::sort(list.begin(), list.end());
      if (list.empty()) {
        all = false;
        break;
      }
      roles[k] = Occurrences(list);
    }
    if (!all) continue;
    Merge(Check(file, roles, slots[i], scratch.doc, words), verdicts[index[i]]);
  }
}

// The commonest case, a phrase of several words each of which is one word of
// the file: a candidate's places are read in step, each word's as far as
// the others' ask, and the document is decided at the first place where all
// of them stand in order and the record agrees. Most documents that hold a
// phrase hold it at the first such place, and their other places are never
// decoded (deciding from lists of all places spent a fifth of a phrase on
// decoding and aligning them).
void DecideInStep(const CPositionsFile& file, const std::vector<std::vector<WordRef>>& sets,
                  const std::vector<std::string>& words, const std::vector<DWORD>& slots,
                  const std::vector<std::size_t>& index, CQueryBudget& budget, PhraseScratch& scratch,
                  std::vector<PhraseVerdict>& verdicts) {
  const std::size_t n = words.size();
  std::vector<WordCursor> cursors;
  cursors.reserve(n);
  bool undecided = false;  // the same at every place: each phrase word is one word
  for (std::size_t k = 0; k < n; ++k) {
    cursors.emplace_back(file.Postings(sets[k][0].word), sets[k][0]);
    undecided = undecided || sets[k][0].undecided;
  }
  std::vector<COrdinalReader> readers(n);
  std::vector<DWORD> at(n);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (i % 256 == 255) budget.CheckTime();
    file.PrefetchAhead(slots, i);
    bool all = true;
    for (std::size_t k = 0; k < n && all; ++k) {
      all = cursors[k].SeekTo(slots[i]);
      if (all) {
        readers[k] = COrdinalReader(cursors[k].at);
        all = readers[k].Next(at[k]);
      }
    }
    if (!all) continue;
    CLazyRecord record(file, slots[i], scratch.doc);
    PhraseVerdict best = PhraseVerdict::kNo;
    // The phrase can start at `start` only when word k stands at start + k
    // for every k: each word is read up to its place for the latest start
    // any word allows, until all agree or one runs out.
    for (;;) {
      ULONGLONG start = 0;
      for (std::size_t k = 0; k < n; ++k) start = std::max<ULONGLONG>(start, ULONGLONG(at[k]) < k ? 0 : at[k] - k);
      bool more = true, agree = true;
      for (std::size_t k = 0; k < n && more; ++k) {
        while (more && ULONGLONG(at[k]) < start + k) more = readers[k].Next(at[k]);
        agree = agree && ULONGLONG(at[k]) == start + k;
      }
      if (!more) break;
      if (!agree) continue;
      best = PlaceVerdict(record(), static_cast<DWORD>(start), words, undecided);
      // The words are the same at every place, so every place the record
      // does not refuse gives the same verdict: the first one decides.
      if (best != PhraseVerdict::kNo || !readers[0].Next(at[0])) break;
    }
    Merge(best, verdicts[index[i]]);
  }
}

// Any phrase word: each word's places in every candidate gathered first,
// the rarest word's first, and the documents without one of them dropped
// before the next is read; then each document decided.
void DecideGathered(const CPositionsFile& file, const std::vector<std::vector<WordRef>>& sets,
                    const std::vector<std::size_t>& order, const std::vector<std::string>& words,
                    std::vector<DWORD> slots, std::vector<std::size_t> index, CQueryBudget& budget,
                    PhraseScratch& scratch, std::vector<PhraseVerdict>& verdicts) {
  const std::size_t n = words.size();
  std::vector<RoleOccurrences>& occ = scratch.occ;
  if (occ.size() < n) occ.resize(n);
  std::vector<bool> gathered(n, false);
  for (std::size_t k : order) {
    // The word gathered first, the one fewest documents hold, anchors the
    // others: a place of the phrase has all its words at their distances.
    Anchor anchor;
    if (k != order[0]) anchor = {&occ[order[0]], static_cast<long long>(k) - static_cast<long long>(order[0])};
    Gather(file, sets[k], slots, anchor, budget, scratch, occ[k]);
    gathered[k] = true;
    // Keep the documents that hold the word.
    std::size_t out = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (occ[k].range[i].first == occ[k].range[i].second) continue;
      if (out != i) {
        slots[out] = slots[i];
        index[out] = index[i];
        for (std::size_t r = 0; r < n; ++r)
          if (gathered[r]) occ[r].range[out] = occ[r].range[i];
      }
      ++out;
    }
    slots.resize(out);
    index.resize(out);
    for (std::size_t r = 0; r < n; ++r)
      if (gathered[r]) occ[r].range.resize(out);
  }
  std::vector<Occurrences> roles(n);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (i % 256 == 255) budget.CheckTime();
    file.PrefetchAhead(slots, i);
    for (std::size_t k = 0; k < n; ++k) roles[k] = occ[k].Of(i);
    Merge(Check(file, roles, slots[i], scratch.doc, words), verdicts[index[i]]);
  }
}

}  // namespace

bool PositionalPhraseWords(const std::string& phrase, std::vector<std::string>& words) {
  words.clear();
  std::size_t start = 0;
  for (std::size_t i = 0; i <= phrase.size(); ++i) {
    if (i < phrase.size() && phrase[i] != ' ') {
      const ByteRule& r = Rules().rule[static_cast<unsigned char>(phrase[i])];
      if (!r.usable) {
        words.clear();
        return false;
      }
      continue;
    }
    if (i == start) {  // an empty word: a leading, trailing or second blank
      words.clear();
      return false;
    }
    words.emplace_back(phrase.substr(start, i - start));
    start = i + 1;
  }
  for (const std::string& w : words) {
    std::size_t spellings = 1;
    for (unsigned char c : w)
      if (Rules().rule[c].hasUndecided && (spellings *= 2) > kMaxSpellings) {
        words.clear();
        return false;
      }
  }
  return !words.empty();
}

void DecidePhrase(const CPositionsFile& file, const std::vector<std::string>& words, const ItemSet& candidates,
                  CQueryBudget& budget, std::vector<PhraseVerdict>& verdicts) {
  const std::size_t n = words.size();
  verdicts.assign(candidates.size(), PhraseVerdict::kNo);
  if (file.WordCount() >= 0x80000000u) throw CPositionsDamaged("more words than a place can name");
  auto roleOf = [n](std::size_t k) {
    if (n == 1) return Role::kInside;
    return k == 0 ? Role::kEnd : k + 1 == n ? Role::kStart : Role::kWhole;
  };
  // First the phrase words as whole words, which decides most documents;
  // then, for the others, each word in its whole role (the end of a word,
  // the beginning of one, any part of one), unless that adds no word.
  std::vector<std::vector<WordRef>> exact(n), full(n);
  for (std::size_t k = 0; k < n; ++k) RoleWords(file, words[k], roleOf(k), true, budget, exact[k]);
  std::vector<std::size_t> open(candidates.size());
  std::iota(open.begin(), open.end(), 0);
  CPhraseScratchUse scratchUse;
  PhraseScratch& scratch = *scratchUse;
  for (int pass = 0; pass < 2 && !open.empty(); ++pass) {
    std::vector<std::vector<WordRef>>& sets = pass == 0 ? exact : full;
    if (pass == 1) {
      bool more = false;
      for (std::size_t k = 0; k < n; ++k) {
        RoleWords(file, words[k], roleOf(k), false, budget, full[k]);
        more = more || full[k].size() > exact[k].size();
      }
      if (!more) break;
    }
    // The words in order of how few documents hold them; documents without
    // one of them are out before the next is read.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::vector<ULONGLONG> weight(n, 0);
    for (std::size_t k = 0; k < n; ++k)
      for (const WordRef& w : sets[k]) weight[k] += file.DocumentCount(w.word);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return weight[a] < weight[b]; });
    std::vector<DWORD> slots;
    std::vector<std::size_t> index = open;  // into candidates
    for (std::size_t i : index) slots.push_back(candidates[i]);
    const bool fewWords = std::all_of(sets.begin(), sets.end(), [](const std::vector<WordRef>& role) {
      return role.size() <= kStreamedRoleWords;
    });
    const bool oneWordEach = n > 1 && std::all_of(sets.begin(), sets.end(), [](const std::vector<WordRef>& role) {
      return role.size() == 1;
    });
    if (oneWordEach) DecideInStep(file, sets, words, slots, index, budget, scratch, verdicts);
    else if (fewWords) DecideStreamed(file, sets, order, words, slots, index, budget, scratch, verdicts);
    else DecideGathered(file, sets, order, words, std::move(slots), std::move(index), budget, scratch, verdicts);
    std::vector<std::size_t> still;
    for (std::size_t i : open)
      if (verdicts[i] != PhraseVerdict::kYes) still.push_back(i);
    open.swap(still);
  }
}

}  // namespace concorda
