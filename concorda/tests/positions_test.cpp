// The positions file beside a base: phrases decided from it give exactly
// what the byte scan of the documents gives (thousands of random phrases
// over a generated corpus with case partners, words inside words, stop
// words, digits, markup inside and around words, phrases at a document's
// first and last word); proximity gives what a scan of the documents' words
// gives, with and without the file; a damaged, cut or stale file changes
// no result; the file follows the base through add, remove, compact and
// merge.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>

#include <unistd.h>

#include "concorda/positions_format.h"
#include "concorda/query_budget.h"
#include "concorda/system_files.h"
#include "concorda/term_words.h"
#include "concorda/word_query.h"
#include "doc_fixture.h"
#include "file_bytes.h"
#include "platform/message_box.h"

using namespace doctest;

namespace {

// Documents over a small vocabulary made to trip a phrase search.
class Corpus {
 public:
  explicit Corpus(unsigned seed) : m_random(seed) {}

  std::string Document() {
    static const char* const kWords[] = {
        "kodeks", "Kodeks", "KODEKS", "kodeksy", "dekodeks", "pracy", "Pracy", "współpracy", "sąd", "Sąd", "SĄD",
        "sądu", "w", "W", "i", "z", "o", "na", "oraz", "art", "ustawa", "ustawy", "1997", "5", "5a", "u5", "U5",
        "żółw", "ŻÓŁW", "lub", "nie", "skargi", "kasacyjnej", "Skargi", "kasacyjnej", "odpowiedzialności", "karnej"};
    static const char* const kBetween[] = {" ", " ", " ", " ", " ", ", ", ". ", "  ", "\r\n", "@", " <B>", "</B> ",
                                           "<BR>", "-", " <A NAME=\"kodeks pracy\">", "<I>", "</I>"};
    std::string out;
    if (Pick(3) == 0) out += "<P>";
    const int n = 4 + Pick(30);
    for (int i = 0; i < n; ++i) {
      if (i) out += kBetween[Pick(std::size(kBetween))];
      std::string w = kWords[Pick(std::size(kWords))];
      if (Pick(12) == 0 && w.size() > 3) w.insert(2, "<B>");  // a tag between the letters
      out += w;
    }
    switch (Pick(5)) {
      case 0: out += "</P>"; break;
      case 1: out += " <br"; break;  // a tag never closed
      case 2: out += " <META CONTENT=\"sąd w kodeks\">"; break;
      default: break;  // the document ends with its last word
    }
    return out;
  }
  std::size_t Pick(std::size_t n) { return m_random() % n; }

 private:
  std::mt19937 m_random;
};

// The words of a document as the index tokenizer cuts them (upper case).
std::vector<std::string> Tokens(std::string text) {
  cp1250::UpperCase(text.data(), text.size());
  std::vector<std::string> out;
  concorda::CGrowBlock scratch;
  char* p = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  char* word = nullptr;
  DWORD n = 0;
  while (char* next = concorda::NextWordIn(p, left, &word, &n, scratch)) {
    out.emplace_back(word, n);
    left -= static_cast<DWORD>(next - p);
    p = next;
  }
  return out;
}

class PositionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Corpus corpus(7);
    {
      CDocServer writer(path.c_str(), &guid, kCreate);
      for (int i = 0; i < 150; ++i) {
        docs.push_back(corpus.Document());
        AddDoc(writer, "d" + std::to_string(i), docs.back());
      }
    }
    // The scan: the same base without its positions file.
    ASSERT_TRUE(CopyFileReplace(path, scanPath));
    ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
    ASSERT_TRUE(scan.Init(scanPath.c_str(), nullptr, kRead));
    ASSERT_EQ(base.PositionsState(), concorda::CPositionsFile::State::kUsable);
    ASSERT_EQ(scan.PositionsState(), concorda::CPositionsFile::State::kMissing);
  }

  // Phrase queries of two to five words, most taken from the documents'
  // words (so that they are found), with letter case changed, words cut at
  // the front or back, stop words and digits as they come, some alone and
  // some with a word beside them that widens what the phrase filters.
  std::vector<std::string> PhraseQueries(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::string> out;
    while (out.size() < count) {
      const std::vector<std::string> words = Tokens(docs[random() % docs.size()]);
      if (words.empty()) continue;
      const std::size_t n = 1 + random() % 5;
      const std::size_t first = random() % words.size();  // the first and last words come up too
      std::string phrase;
      for (std::size_t k = 0; k < n && first + k < words.size(); ++k) {
        std::string w = words[first + k];
        if (random() % 10 == 0) w = Tokens(docs[random() % docs.size()]).empty() ? w : "SĄD";
        if (k == 0 && w.size() > 2 && random() % 5 == 0) w = w.substr(random() % (w.size() - 1));
        if (k + 1 == n && w.size() > 2 && random() % 5 == 0) w = w.substr(0, 1 + random() % (w.size() - 1));
        for (char& c : w)
          if (random() % 3 == 0) c = static_cast<char>(cp1250::ToLower(static_cast<unsigned char>(c)));
        phrase += (k ? " " : "") + w;
      }
      std::string query = "\"" + phrase + "\"";
      if (random() % 3 == 0) query += " LUB kodeks";
      if (random() % 7 == 0) query = "sąd " + query;
      out.push_back(query);
    }
    return out;
  }

  TempDir dir;
  std::string path = dir.File("p.vq");
  std::string scanPath = dir.File("scan.vq");
  GUID guid = TestGuid();
  std::vector<std::string> docs;
  CDocServer base, scan;
};

}  // namespace

TEST_F(PositionsTest, PhrasesFromThePositionsAreThePhrasesOfTheScan) {
  std::size_t found = 0, foundReadingNothing = 0;
  const std::vector<std::string> queries = PhraseQueries(3000, 11);
  for (const std::string& q : queries) {
    const std::vector<DWORD> expected = Query(scan, q.c_str());
    ASSERT_EQ(Query(base, q.c_str()), expected) << q;
    found += !expected.empty();
    // How many needed no document read at all.
    concorda::CQueryBudget::Limits limits;
    limits.documentsRead = 0;
    concorda::CQueryBudget budget(limits);
    CWordQuery query(q.c_str(), budget);
    std::vector<DWORD> items;
    if (base.FindDocs(query, items)) {
      foundReadingNothing += !items.empty();
      EXPECT_EQ(items, expected) << q;
    } else if (!expected.empty() && getenv("SHOW_READS")) {
      std::printf("reads: %s\n", q.c_str());
    }
  }
  // The test means something: many phrases are found, and most of those
  // were found from the positions alone (from the bytes, each would read).
  EXPECT_GT(found, queries.size() / 5);
  EXPECT_GT(foundReadingNothing, found * 3 / 4);
}

TEST_F(PositionsTest, PhrasesAgreeWithTheBytesOfEveryDocument) {
  // Directly against the bytes: the documents whose words select them and
  // whose raw text holds the phrase in either case.
  for (const char* phrase : {"KODEKS PRACY", "SĄD W", "W SĄD", "ODEKS PRAC", "ART 5", "5A U5", "KODEKS", "X Y",
                             "SĄD W KODEKS", "ŻÓŁW", "ÓŁW ODEKS"}) {
    std::vector<DWORD> expected;
    const std::string q = std::string("\"") + phrase + "\" LUB kodeks LUB sąd LUB w";
    const std::vector<DWORD> candidates = Query(scan, "kodeks LUB sąd");
    std::vector<std::string> words;
    for (DWORD d : candidates)
      if (concorda::ContainsPhrase(reinterpret_cast<const BYTE*>(docs[d].data()), docs[d].size(), phrase))
        expected.push_back(d);
    // The phrase's own words select documents too.
    std::vector<DWORD> got = Query(base, q.c_str());
    std::vector<DWORD> inCandidates;
    std::set_intersection(got.begin(), got.end(), candidates.begin(), candidates.end(),
                          std::back_inserter(inCandidates));
    EXPECT_EQ(inCandidates, expected) << phrase;
    EXPECT_EQ(got, Query(scan, q.c_str())) << phrase;
  }
}

namespace {

// Proximity by brute force over the documents' words.
bool Near(const std::vector<std::string>& tokens, const concorda::Proximity& p) {
  auto occurrences = [&](const concorda::ProximityOperand& op) {
    std::vector<std::size_t> starts;
    for (std::size_t s = 0; s + op.words.size() <= tokens.size(); ++s) {
      bool all = true;
      for (std::size_t k = 0; k < op.words.size() && all; ++k) {
        const std::string& t = tokens[s + k];
        const std::string& w = op.words[k];
        const bool star = !w.empty() && w.back() == '*';
        all = star ? t.compare(0, w.size() - 1, w, 0, w.size() - 1) == 0 : t == w;
        if (!op.phrase) all = all && concorda::IsAdmitted(t);
      }
      if (all) starts.push_back(s);
    }
    return starts;
  };
  const auto a = occurrences(p.left), b = occurrences(p.right);
  const std::size_t la = p.left.words.size(), lb = p.right.words.size();
  for (std::size_t x : a)
    for (std::size_t y : b) {
      if (x + la <= y && y - (x + la) <= p.distance) return true;
      if (y + lb <= x && x - (y + lb) <= p.distance) return true;
    }
  return false;
}

}  // namespace

TEST_F(PositionsTest, ProximityIsTheProximityOfTheDocumentsWords) {
  std::mt19937 random(3);
  const std::vector<std::string> operands = {"kodeks", "pracy", "sąd", "ustawa", "1997", "kod*", "sąd*",
                                             "\"skargi kasacyjnej\"", "\"kodeks pracy\"", "\"sąd w\"", "\"w sąd\"",
                                             "\"art 5\"", "odpowiedzialności", "\"karnej\""};
  std::size_t found = 0;
  for (int round = 0; round < 600; ++round) {
    const std::string q = operands[random() % operands.size()] + " BLISKO/" + std::to_string(random() % 6) + " " +
                          operands[random() % operands.size()];
    concorda::PreparedQuery prepared = concorda::PrepareQuery(q.c_str());
    ASSERT_EQ(prepared.proximities.size(), 1u) << q;
    std::vector<DWORD> expected;
    for (DWORD d = 0; d < docs.size(); ++d)
      if (Near(Tokens(docs[d]), prepared.proximities[0])) expected.push_back(d);
    ASSERT_EQ(Query(base, q.c_str()), expected) << q;
    ASSERT_EQ(Query(scan, q.c_str()), expected) << q;
    found += !expected.empty();
  }
  EXPECT_GT(found, 200u);
}

TEST_F(PositionsTest, ADamagedCutOrStaleFileChangesNoResult) {
  std::vector<std::string> queries = PhraseQueries(40, 5);
  for (const char* q : {"kodeks BLISKO/2 pracy", "\"sąd w\" BLISKO/4 kod*", "sąd BLISKO/0 sąd"}) queries.push_back(q);
  std::vector<std::vector<DWORD>> expected;
  for (const std::string& q : queries) expected.push_back(Query(scan, q.c_str()));
  std::ifstream in(path + "p", std::ios::binary);
  const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(good.size(), 1000u);

  std::mt19937 random(99);
  std::vector<std::string> messages;
  MessageSink previous = SetMessageSink([&](const std::string& text, const std::string&) { messages.push_back(text); });
  for (int variant = 0; variant < 160; ++variant) {
    std::string bad = good;
    switch (variant % 4) {
      case 0: bad.resize(random() % bad.size()); break;
      case 1:
        for (int k = 1 + random() % 4; k > 0; --k) bad[random() % bad.size()] ^= static_cast<char>(1 + random() % 255);
        break;
      case 2: {
        std::size_t from = random() % bad.size(), n = 1 + random() % 64;
        for (std::size_t k = from; k < std::min(bad.size(), from + n); ++k) bad[k] = 0;
        break;
      }
      default:
        // The stamp of another state of the base.
        bad[32 + random() % 8] ^= 1;
        break;
    }
    if (bad == good) continue;
    std::ofstream(path + "p", std::ios::binary | std::ios::trunc) << bad;
    CDocServer damaged;
    ASSERT_TRUE(damaged.Init(path.c_str(), nullptr, kRead));
    for (std::size_t i = 0; i < queries.size(); ++i)
      ASSERT_EQ(Query(damaged, queries[i].c_str()), expected[i]) << "variant " << variant << ": " << queries[i];
  }
  SetMessageSink(previous);
  // Each variant whose damage a query met said so once, naming what is read instead.
  EXPECT_FALSE(messages.empty());
  for (const std::string& m : messages)
    EXPECT_TRUE(m.find("read the documents") != std::string::npos ||
                m.find("read from the index files") != std::string::npos)
        << m;
}

TEST_F(PositionsTest, DocumentRecordsThatFailTheirChecksumAreReadFromTheDocuments) {
  // The phrases found in some document, and what the scan finds for them.
  std::vector<std::string> queries;
  std::vector<std::vector<DWORD>> expected;
  std::set<DWORD> hit;
  for (const std::string& q : PhraseQueries(300, 21)) {
    std::vector<DWORD> found = Query(scan, q.c_str());
    if (found.empty() || q.find(' ') == std::string::npos) continue;
    hit.insert(found.begin(), found.end());
    queries.push_back(q);
    expected.push_back(std::move(found));
  }
  ASSERT_GT(queries.size(), 50u);
  // Every join of the records of those documents turned over, their CRCs
  // left as they were: read as they stand, the phrases would miss.
  std::vector<BYTE> file = FileBytes(path + "p");
  const std::size_t table = SectionEntry(file, concorda::kSectionDocTable);
  const std::size_t records = SectionEntry(file, concorda::kSectionDocRecords);
  ASSERT_NE(table, 0u);
  ASSERT_NE(records, 0u);
  const std::size_t tableAt = Dword(file, table + 8), recordsAt = Dword(file, records + 8);
  int spoiled = 0;
  for (DWORD slot : hit) {
    const std::size_t entry = tableAt + 16 * std::size_t(slot);
    std::size_t at = recordsAt + Dword(file, entry), end = at + Dword(file, entry + 8);
    ASSERT_LT(at, end) << "slot " << slot;
    DWORD counts[2] = {0, 0};  // words and markup pieces: varints
    for (DWORD& c : counts)
      for (int shift = 0;; shift += 7) {
        const BYTE b = file[at++];
        c |= DWORD(b & 0x7F) << shift;
        if (!(b & 0x80)) break;
      }
    const std::size_t joins = (counts[0] + counts[1] + 7) / 8;
    ASSERT_LE(at + joins, end);
    for (std::size_t k = 0; k < joins; ++k) file[at + k] ^= 0xFF;
    ++spoiled;
  }
  WriteBytes(path + "p", file);

  std::vector<std::string> messages;
  MessageSink previous = SetMessageSink([&](const std::string& text, const std::string&) { messages.push_back(text); });
  CDocServer damaged;
  ASSERT_TRUE(damaged.Init(path.c_str(), nullptr, kRead));
  // Opened as usable: the damage shows when a query reads a record.
  EXPECT_EQ(damaged.PositionsState(), concorda::CPositionsFile::State::kUsable);
  for (std::size_t i = 0; i < queries.size(); ++i)
    EXPECT_EQ(Query(damaged, queries[i].c_str()), expected[i]) << queries[i];
  SetMessageSink(previous);
  EXPECT_GT(spoiled, 10);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("the record of a document is damaged"), std::string::npos) << messages[0];
}

// --- the documents of a word from its postings ---

namespace {

// Spoils, in place, the middle of the stored stream of every record of the
// named items: the records stay where they are, so the positions file stays
// tied to the base, but the items no longer inflate. The number spoiled.
int SpoilItems(const std::string& path, const std::vector<std::string>& names) {
  std::vector<BYTE> bytes = FileBytes(path);
  int spoiled = 0;
  for (const std::string& name : names) {
    const std::string key = name + '\0';  // "...Word1" is the start of "...Word10"
    for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), key.begin(), key.end())) != bytes.end(); ++at) {
      const std::size_t descriptor = static_cast<std::size_t>(at - bytes.begin()) - 2;
      const std::size_t header = descriptor + (bytes[descriptor] | bytes[descriptor + 1] << 8);
      const DWORD stored = Dword(bytes, header + 8);
      for (std::size_t k = header + 12 + stored / 4; k < header + 12 + 3 * stored / 4; ++k) bytes[k] ^= 0x5A;
      ++spoiled;
    }
  }
  WriteBytes(path, bytes);
  return spoiled;
}

std::vector<std::string> IndexFileNames(int count) {
  std::vector<std::string> names;
  for (int n = 0; n < count; ++n) names.push_back(concorda::IndexFileName(n));
  return names;
}

}  // namespace

TEST_F(PositionsTest, AWordsDocumentsAndOccurrencesFromItsPostingsAreThoseOfTheDocuments) {
  // The reference: the words of the documents, counted by a scan.
  const auto scanned = ScanDocuments(scan);
  ASSERT_GT(base.GetWordCount(), 20u);
  for (DWORD i = 0; i < base.GetWordCount(); ++i) {
    const std::string word = base.GetWordAt(i);
    const auto found = scanned.find(word);
    ASSERT_NE(found, scanned.end()) << word;
    std::vector<DWORD> items, topics;
    for (const auto& [item, n] : found->second) {
      items.push_back(item);
      topics.push_back(concorda::MakeTopic(item, n));
    }
    EXPECT_EQ(Query(base, word.c_str()), items) << word;
    // Asked once, the word holds the topics it was answered from.
    EXPECT_EQ(base.GetWordTopics(i), topics) << word;
    EXPECT_EQ(scan.GetWordTopics(i), topics) << word;
  }
}

TEST_F(PositionsTest, WordQueriesAnswerFromThePostingsWithoutTheIndexFiles) {
  // A copy whose index files no longer inflate: its words can only be
  // answered from the positions file.
  const std::string spoiled = dir.File("spoiled.vq");
  ASSERT_TRUE(CopyFileReplace(path, spoiled));
  ASSERT_TRUE(CopyFileReplace(path + "p", spoiled + "p"));
  ASSERT_GT(SpoilItems(spoiled, IndexFileNames(64)), 0);
  CDocServer answered;
  ASSERT_TRUE(answered.Init(spoiled.c_str(), nullptr, kRead));
  ASSERT_EQ(answered.PositionsState(), concorda::CPositionsFile::State::kUsable);
  // Patterns and marked words too: the few words each stands for are read
  // from their postings.
  std::vector<std::string> queries = {"kodeks I pracy", "sąd LUB ustawa", "kodeks NIE pracy", "\"kodeks pracy\"",
                                      "(sądu LUB ustawy) I 1997", "żółw", "kod*", "*pracy", "s?d*", "*o*",
                                      "kod* I pra*", "ustaw* NIE sąd", "~kodeks", "^sad", "^ZOLW LUB u5*",
                                      "\"kodeks pracy\" I wsp*", "kodeks* BLISKO/3 pracy"};
  for (DWORD i = 0; i < base.GetWordCount(); ++i) queries.push_back(base.GetWordAt(i));
  for (const std::string& q : queries) EXPECT_EQ(Query(answered, q.c_str()), Query(scan, q.c_str())) << q;
  // The same copy without its positions file reads the spoiled index files.
  DeleteFileAt(spoiled + "p");
  CDocServer blind;
  ASSERT_TRUE(blind.Init(spoiled.c_str(), nullptr, kRead));
  EXPECT_TRUE(Query(blind, "kodeks").empty());
  EXPECT_FALSE(Query(scan, "kodeks").empty());
}

TEST_F(PositionsTest, WithoutSoundWordCountsTheIndexFilesAreRead) {
  const std::string spoiled = dir.File("spoiled.vq");
  ASSERT_TRUE(CopyFileReplace(path, spoiled));
  ASSERT_GT(SpoilItems(spoiled, IndexFileNames(64)), 0);
  const std::vector<BYTE> sound = FileBytes(path + "p");
  const std::size_t entry = SectionEntry(sound, concorda::kSectionWordCounts);
  ASSERT_NE(entry, 0u);
  std::vector<std::string> lines;
  MessageSink previous = SetMessageSink([&lines](const std::string& text, const std::string&) { lines.push_back(text); });
  auto answer = [&](const std::vector<BYTE>& file) {
    WriteBytes(spoiled + "p", file);
    CDocServer s;
    EXPECT_TRUE(s.Init(spoiled.c_str(), nullptr, kRead));
    EXPECT_EQ(s.PositionsState(), concorda::CPositionsFile::State::kUsable);
    return Query(s, "kodeks");
  };
  // Sound: from the postings.
  EXPECT_EQ(answer(sound), Query(scan, "kodeks"));
  EXPECT_TRUE(lines.empty());
  // A file written before the word counts (the section unknown to it):
  // the spoiled index files are read, and find nothing; nothing to report.
  std::vector<BYTE> older = sound;
  older[entry] = 99;
  Rechecksum(older);
  EXPECT_TRUE(answer(older).empty());
  EXPECT_TRUE(lines.empty());
  // Damaged word counts are not trusted, with one line that says so.
  std::vector<BYTE> damaged = sound;
  damaged[Dword(sound, entry + 8) + 1] ^= 0x10;
  EXPECT_TRUE(answer(damaged).empty());
  SetMessageSink(previous);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("read from the index files"), std::string::npos) << lines[0];
}

namespace {

// The address space the process has mapped, in megabytes (/proc/self/statm).
double MappedMegabytes() {
  std::ifstream statm("/proc/self/statm");
  double pages = 0;
  statm >> pages;
  return pages * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

}  // namespace

TEST_F(PositionsTest, WrongDocumentCountsOfTheWordsChangeNoResult) {
  // Every word's count of documents rewritten, the section's and the
  // header's checksums made right again: the count only sizes memory and
  // orders a phrase's words, so no answer may change, and a count far too
  // large must not ask for memory beyond the postings it counts.
  std::vector<std::string> queries = PhraseQueries(40, 11);
  for (const char* q : {"kodeks BLISKO/2 pracy", "\"sąd w\" BLISKO/4 kod*", "kod*", "sąd I pracy"})
    queries.push_back(q);
  for (DWORD i = 0; i < base.GetWordCount(); ++i) queries.push_back(base.GetWordAt(i));
  std::vector<std::vector<DWORD>> expected;
  for (const std::string& q : queries) expected.push_back(Query(scan, q.c_str()));
  std::vector<std::vector<DWORD>> expectedTopics;
  for (DWORD i = 0; i < scan.GetWordCount(); ++i) expectedTopics.push_back(scan.GetWordTopics(i));

  const std::vector<BYTE> sound = FileBytes(path + "p");
  const std::size_t entry = SectionEntry(sound, concorda::kSectionWords);
  ASSERT_NE(entry, 0u);
  const std::size_t words = Dword(sound, entry + 8), length = Dword(sound, entry + 16);
  const DWORD n = Dword(sound, words);
  ASSERT_GT(n, 10u);
  std::vector<std::string> lines;
  MessageSink previous = SetMessageSink([&lines](const std::string& text, const std::string&) { lines.push_back(text); });
  for (int variant = 0; variant < 4; ++variant) {
    std::vector<BYTE> bad = sound;
    for (DWORD i = 0; i < n; ++i) {
      const std::size_t at = words + 8 + 24 * std::size_t(i) + 12;
      const DWORD count = Dword(sound, at);
      const DWORD wrong = variant == 0 ? 0 : variant == 1 ? count - 1 : variant == 2 ? 0xFFFFFFFFu : count * 3 + 7;
      for (int k = 0; k < 4; ++k) bad[at + k] = static_cast<BYTE>(wrong >> (8 * k));
    }
    const DWORD crc = concorda::Crc32(bad.data() + words, length);
    for (int k = 0; k < 4; ++k) bad[entry + 4 + k] = static_cast<BYTE>(crc >> (8 * k));
    Rechecksum(bad);
    WriteBytes(path + "p", bad);
    lines.clear();
    const double mappedBefore = MappedMegabytes();
    CDocServer counted;
    ASSERT_TRUE(counted.Init(path.c_str(), nullptr, kRead));
    ASSERT_EQ(counted.PositionsState(), concorda::CPositionsFile::State::kUsable) << "variant " << variant;
    for (std::size_t i = 0; i < queries.size(); ++i)
      ASSERT_EQ(Query(counted, queries[i].c_str()), expected[i]) << "variant " << variant << ": " << queries[i];
    for (DWORD i = 0; i < counted.GetWordCount(); ++i)
      ASSERT_EQ(counted.GetWordTopics(i), expectedTopics[i]) << "variant " << variant << ", word " << i;
    // What the file's caches hold is still there: the address space taken
    // is that of a small base, not of the counts.
    EXPECT_LT(MappedMegabytes() - mappedBefore, 512.0) << "variant " << variant;
    // Fewer documents than the postings hold is damage, found and said
    // once; more only wastes a little memory.
    if (variant < 2) {
      ASSERT_EQ(lines.size(), 1u) << "variant " << variant;
      EXPECT_NE(lines[0].find("more documents than its entry counts"), std::string::npos) << lines[0];
    } else {
      EXPECT_TRUE(lines.empty()) << "variant " << variant << ": " << lines[0];
    }
  }
  SetMessageSink(previous);
}

namespace {

// Opens the base at `path` with its positions file, and a copy of it at
// `scanPath` without one (phrases there are found by reading the documents).
void OpenWithAndWithoutPositions(const std::string& path, const std::string& scanPath, CDocServer& base,
                                 CDocServer& scan) {
  ASSERT_TRUE(CopyFileReplace(path, scanPath));
  ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
  ASSERT_TRUE(scan.Init(scanPath.c_str(), nullptr, kRead));
  ASSERT_EQ(base.PositionsState(), concorda::CPositionsFile::State::kUsable);
}

}  // namespace

TEST(PositionsFile, PhrasesOfWordsWithHundredsOfThousandsOfPlacesAgreeWithTheScan) {
  // Forty documents of 30,000 words from a vocabulary of four: the places
  // of one word run past what a thread keeps from phrase to phrase, so
  // phrases of them alternate with small ones, each compared with the scan.
  TempDir dir;
  const std::string path = dir.File("big.vq"), scanPath = dir.File("bigscan.vq");
  GUID guid = TestGuid();
  std::mt19937 random(11);
  {
    static const char* const kWords[] = {"kodeks", "pracy", "sąd", "z"};
    CDocServer writer(path.c_str(), &guid, kCreate);
    for (int d = 0; d < 40; ++d) {
      std::string text;
      // Some documents never put "sąd" before "pracy".
      const bool plain = d % 5 == 0;
      for (int k = 0; k < 30000; ++k) {
        const char* w = kWords[random() % 4];
        if (plain && !text.empty() && std::string(w) == "pracy" && text.ends_with("sąd ")) w = "kodeks";
        text += w;
        text += random() % 50 ? " " : ", ";
      }
      AddDoc(writer, "d" + std::to_string(d), text);
    }
  }
  CDocServer base, scan;
  OpenWithAndWithoutPositions(path, scanPath, base, scan);
  if (HasFatalFailure()) return;
  const std::vector<std::string> queries = {"\"kodeks kodeks\"",       "\"sąd pracy\"",  "\"kodeks pracy sąd\"",
                                            "\"pracy z kodeks kodeks\"", "\"sąd pracy\"",  "\"kodeks\"",
                                            "\"sąd pracy kodeks\" LUB \"pracy pracy\"", "\"sąd pracy\""};
  for (const std::string& q : queries) {
    const std::vector<DWORD> expected = Query(scan, q.c_str());
    EXPECT_EQ(Query(base, q.c_str()), expected) << q;
    if (q == "\"sąd pracy\"") {
      EXPECT_EQ(expected.size(), 32u) << "every document but the plain ones";
    }
  }
}

TEST(PositionsFile, PhraseWordsThatStandForManyWordsAgreeWithTheScan) {
  // Thirty words end with "kodeks" and thirty begin with "prac": a phrase
  // word cut at the front or back stands for dozens of the file's words
  // ("odeks" for every word that ends so), which are gathered word by word
  // rather than walked side by side; whole words are walked side by side.
  TempDir dir;
  const std::string path = dir.File("many.vq"), scanPath = dir.File("manyscan.vq");
  GUID guid = TestGuid();
  std::vector<std::string> vocabulary = {"sąd", "w", "z", "Kodeks", "pracy"};
  for (const char* front : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
                            "p", "r", "s", "t", "u", "w", "y", "z", "ą", "ę", "ł", "ó", "ś", "ż", "ź"}) {
    vocabulary.push_back(std::string(front) + "kodeks");
    vocabulary.push_back("prac" + std::string(front));
  }
  std::mt19937 random(5);
  std::vector<std::vector<std::string>> docs;
  {
    CDocServer writer(path.c_str(), &guid, kCreate);
    for (int d = 0; d < 120; ++d) {
      std::vector<std::string> words;
      std::string text;
      for (int k = 0, n = 5 + random() % 60; k < n; ++k) {
        words.push_back(vocabulary[random() % vocabulary.size()]);
        text += (k ? (random() % 9 ? " " : ", ") : "") + words.back();
      }
      docs.push_back(words);
      AddDoc(writer, "d" + std::to_string(d), text);
    }
  }
  CDocServer base, scan;
  OpenWithAndWithoutPositions(path, scanPath, base, scan);
  if (HasFatalFailure()) return;
  std::vector<std::string> queries = {"\"odeks prac\"", "\"kodeks prac\"", "\"odeks sąd prac\"", "\"kodeks pracy\"",
                                      "\"sąd w\"", "\"odeks\"", "\"prac\"", "\"dek\""};
  // Two to four following words of a document, the first cut at the front
  // and the last at the back now and then.
  while (queries.size() < 400) {
    const std::vector<std::string>& words = docs[random() % docs.size()];
    const std::size_t n = 2 + random() % 3, first = random() % words.size();
    std::string phrase;
    for (std::size_t k = 0; k < n && first + k < words.size(); ++k) {
      std::string w = words[first + k];
      if (k == 0 && w.size() > 4 && random() % 2) w = w.substr(1 + random() % 2);
      else if (k + 1 == n && w.size() > 4 && random() % 2) w = w.substr(0, 3 + random() % 2);
      phrase += (k ? " " : "") + w;
    }
    queries.push_back("\"" + phrase + "\"");
  }
  // A phrase filters what the rest of its query selects: here nearly every
  // document, so that phrases of cut words are looked for too (their own
  // words select nothing).
  for (std::string& q : queries) q += " LUB *kodeks LUB prac*";
  std::size_t found = 0;
  for (const std::string& q : queries) {
    const std::vector<DWORD> expected = Query(scan, q.c_str());
    ASSERT_EQ(Query(base, q.c_str()), expected) << q;
    found += !expected.empty();
  }
  EXPECT_GT(found, queries.size() / 2);
}

TEST(PositionsFile, ADocumentWithoutARecordLeavesTheWordsToTheIndex) {
  TempDir dir;
  const std::string path = dir.File("r.vq");
  GUID guid = TestGuid();
  {
    CDocServer writer(path.c_str(), &guid, kCreate);
    AddDoc(writer, "first", "kodeks pracy");
    AddDoc(writer, "unreadable-later", "kodeks sąd sąd");
    AddDoc(writer, "third", "sąd pracy");
  }
  // The second document's stream spoiled, then the positions written anew
  // from the documents: it has no record in the file.
  ASSERT_EQ(SpoilItems(path, {"unreadable-later"}), 1);
  {
    CDocServer reader(path.c_str(), nullptr, kRead);
    ASSERT_TRUE(reader.WritePositions());
  }
  CDocServer reader(path.c_str(), nullptr, kRead);
  ASSERT_EQ(reader.PositionsState(), concorda::CPositionsFile::State::kUsable);
  // The index still knows the words of the unreadable document.
  EXPECT_EQ(Query(reader, "kodeks"), (std::vector<DWORD>{0, 1}));
  EXPECT_EQ(Query(reader, "sąd"), (std::vector<DWORD>{1, 2}));
  EXPECT_EQ(Query(reader, "pracy"), (std::vector<DWORD>{0, 2}));
}

TEST(PositionsFile, FollowsTheBaseThroughItsWritingCommands) {
  TempDir dir;
  const std::string path = dir.File("w.vq");
  GUID guid = TestGuid();
  Corpus corpus(21);
  std::vector<std::string> docs;
  const std::vector<std::string> queries = {"\"kodeks pracy\"", "\"sąd w\" LUB ustawa", "kodeks BLISKO/1 sąd",
                                            "\"skargi kasacyjnej\" BLISKO/3 sąd*", "\"w sąd\""};
  auto check = [&](const std::string& basePath, const char* step) {
    CDocServer withFile, withoutFile;
    const std::string copy = basePath + ".scan";
    ASSERT_TRUE(CopyFileReplace(basePath, copy));
    DeleteFileAt(copy + "p");
    ASSERT_TRUE(withFile.Init(basePath.c_str(), nullptr, kRead));
    ASSERT_TRUE(withoutFile.Init(copy.c_str(), nullptr, kRead));
    EXPECT_EQ(withFile.PositionsState(), concorda::CPositionsFile::State::kUsable) << step;
    for (const std::string& q : queries)
      EXPECT_EQ(Query(withFile, q.c_str()), Query(withoutFile, q.c_str())) << step << ": " << q;
  };
  {
    CDocServer writer(path.c_str(), &guid, kCreate);
    for (int i = 0; i < 40; ++i) AddDoc(writer, "d" + std::to_string(i), corpus.Document());
  }
  check(path, "build");
  {
    CDocServer writer(path.c_str(), nullptr, kWrite);
    for (int i = 0; i < 10; ++i) AddDoc(writer, "e" + std::to_string(i), corpus.Document(), nullptr, 3 * i);
    AddDoc(writer, "d5", corpus.Document(), nullptr, writer.GetItemIndex("d5"), true);
  }
  check(path, "add, insert and replace");
  {
    CDocServer writer(path.c_str(), nullptr, kWrite);
    for (const char* name : {"d1", "e3", "d39"}) writer.RemoveFile(writer.GetItemIndex(name));
  }
  check(path, "remove");
  {
    CDocServer writer(path.c_str(), nullptr, kWrite);
    ASSERT_TRUE(writer.Compact());
  }
  check(path, "compact");
  // A base written by a program that knows no positions file: its file is
  // stale, and the next writing command writes it anew.
  {
    CFileServer plain(path.c_str(), nullptr, kWrite);
    CMemFile file(64);
    const std::string text = "kodeks pracy w sąd";
    file.Write(text.data(), static_cast<UINT>(text.size()));
    file.SeekToBegin();
    _FILEITEM* item = MakeFileItem("plain");
    plain.AddFile(file, item, 2);
    CFileServer::FreeFileItem(item);
  }
  {
    CDocServer stale(path.c_str(), nullptr, kRead);
    EXPECT_EQ(stale.PositionsState(), concorda::CPositionsFile::State::kStale);
  }
  {
    CDocServer reader(path.c_str(), nullptr, kRead);
    std::string why;
    EXPECT_TRUE(reader.WritePositions(&why)) << why;
  }
  check(path, "positions made for a base");
  // Merge of two compacted bases.
  const std::string second = dir.File("s.vq"), merged = dir.File("m.vq");
  {
    CDocServer writer(second.c_str(), &guid, kCreate);
    for (int i = 0; i < 20; ++i) AddDoc(writer, "s" + std::to_string(i), corpus.Document());
    ASSERT_TRUE(writer.Compact());
  }
  {
    CDocServer writer(path.c_str(), nullptr, kWrite);
    ASSERT_TRUE(writer.Compact());
  }
  {
    CDocServer first(path.c_str(), nullptr, kRead), other(second.c_str(), nullptr, kRead);
    GUID g = guid;
    g.Data1 ^= 1;
    CDocServer target(merged.c_str(), &g, kCreate);
    ASSERT_TRUE(target.Union(&first, &other));
  }
  check(merged, "merge");
}

namespace {

// A word's postings as a positions file holds them, read from its bytes:
// the documents it names (by item name) with their ordinals, and the count
// of documents the word's entry gives.
struct WordPostings {
  DWORD count = 0;
  std::map<std::string, std::vector<DWORD>> ordinals;
  bool operator==(const WordPostings&) const = default;
};

DWORD Varint(const std::vector<BYTE>& b, std::size_t& at) {
  DWORD v = 0;
  for (int shift = 0;; shift += 7) {
    const BYTE c = b.at(at++);
    v |= static_cast<DWORD>(c & 0x7F) << shift;
    if (!(c & 0x80)) return v;
  }
}

std::map<std::string, WordPostings> PostingsOfTheFile(const std::string& basePath) {
  const std::vector<BYTE> file = FileBytes(basePath + "p");
  auto section = [&](DWORD id) {
    const std::size_t entry = SectionEntry(file, id);
    EXPECT_NE(entry, 0u) << id;
    return Dword(file, entry + 8);  // the files of these tests are far below 4 GB
  };
  const std::size_t words = section(concorda::kSectionWords), postings = section(concorda::kSectionPostings);
  CDocServer base(basePath.c_str(), nullptr, kRead);
  std::map<std::string, WordPostings> out;
  const DWORD n = Dword(file, words);
  const std::size_t offsets = words + 8 + 24 * std::size_t{n}, text = offsets + 4 * (std::size_t{n} + 1);
  for (DWORD w = 0; w < n; ++w) {
    const std::size_t entry = words + 8 + 24 * std::size_t{w};
    const std::string word(reinterpret_cast<const char*>(file.data()) + text + Dword(file, offsets + 4 * w),
                           Dword(file, offsets + 4 * (w + 1)) - Dword(file, offsets + 4 * w));
    WordPostings& p = out[word];
    p.count = Dword(file, entry + 12);
    std::size_t at = postings + Dword(file, entry);
    const std::size_t end = at + Dword(file, entry + 8);
    DWORD slot = 0;
    for (bool first = true; at < end; first = false) {
      slot = first ? Varint(file, at) : slot + Varint(file, at);
      const std::size_t ordinalsEnd = at + Varint(file, at);
      _FILEITEM* item = base.GetItem(slot);
      EXPECT_NE(item, nullptr) << word << " names slot " << slot;
      std::vector<DWORD>& ordinals = p.ordinals[item ? item->szName : "?"];
      CFileServer::FreeFileItem(item);
      for (DWORD o = 0; at < ordinalsEnd;) ordinals.push_back(o += Varint(file, at));
    }
  }
  return out;
}

}  // namespace

TEST(PositionsFile, ABaseBuiltInOneSessionHoldsThePostingsOfOneBuiltInTwo) {
  // Built in one session, a word's postings are the session's own; built in
  // two, the second copies the first's file and adds its documents behind
  // the index files of the first. The same documents give the same places,
  // and each word's count of documents is the number its postings name.
  TempDir dir;
  const std::string once = dir.File("once.vq"), twice = dir.File("twice.vq");
  GUID guid = TestGuid();
  Corpus corpus(33);
  std::vector<std::string> docs;
  for (int i = 0; i < 90; ++i) docs.push_back(corpus.Document());
  {
    CDocServer writer(once.c_str(), &guid, kCreate);
    for (int i = 0; i < 90; ++i) AddDoc(writer, "d" + std::to_string(i), docs[i]);
  }
  {
    CDocServer writer(twice.c_str(), &guid, kCreate);
    for (int i = 0; i < 50; ++i) AddDoc(writer, "d" + std::to_string(i), docs[i]);
  }
  {
    CDocServer writer(twice.c_str(), nullptr, kWrite);
    for (int i = 50; i < 90; ++i) AddDoc(writer, "d" + std::to_string(i), docs[i]);
  }
  const auto fromOne = PostingsOfTheFile(once), fromTwo = PostingsOfTheFile(twice);
  ASSERT_GT(fromOne.size(), 30u);
  EXPECT_EQ(fromOne, fromTwo);
  for (const auto& [word, p] : fromOne) EXPECT_EQ(p.count, p.ordinals.size()) << word;
  // A word's places worked out by hand: "kodeks pracy w sąd" has them all once.
  const std::string last = dir.File("small.vq");
  {
    CDocServer writer(last.c_str(), &guid, kCreate);
    AddDoc(writer, "a", "kodeks pracy w sąd kodeks");
    AddDoc(writer, "b", "sąd <B>pracy</B>");
  }
  const auto small = PostingsOfTheFile(last);
  EXPECT_EQ(small.at("KODEKS").ordinals, (std::map<std::string, std::vector<DWORD>>{{"a", {0, 4}}}));
  EXPECT_EQ(small.at("SĄD").ordinals, (std::map<std::string, std::vector<DWORD>>{{"a", {3}}, {"b", {0}}}));
  EXPECT_EQ(small.at("PRACY").count, 2u);
}

// A split word's pieces are found at its place whichever order the places
// are asked in (a phrase asks ascending; anything else starts the list again).
TEST(PositionsFile, ASplitWordIsFoundWhicheverOrderItsPlacesAreAskedIn) {
  TempDir dir;
  const std::string path = dir.File("s.vq");
  GUID guid = TestGuid();
  CDocServer base(path.c_str(), &guid, kCreate);
  // Words 0 to 4; 0, 2 and 4 have tags between their letters.
  AddDoc(base, "d", "ko<B>deks pracy u<B>st</B>awa sąd sk<I>argi");
  base.Close();
  ASSERT_TRUE(base.Init(path.c_str(), nullptr, kRead));
  concorda::CPositionsFile file;
  ASSERT_EQ(file.Open(concorda::PositionsPath(path), guid, CDocServerProbe::StateStamp(base), base.GetSize()),
            concorda::CPositionsFile::State::kUsable);
  concorda::DocRecord record;
  ASSERT_TRUE(file.ReadDocument(0, record));
  EXPECT_EQ(record.textTokens, 5u);
  using Pieces = std::vector<DWORD>;
  const std::map<DWORD, Pieces> expected{{0, {2, 4}}, {1, {}}, {2, {1, 2, 3}}, {3, {}}, {4, {2, 4}}};
  for (DWORD at : {4u, 0u, 2u, 1u, 3u, 2u, 0u, 0u, 4u, 3u, 2u}) {
    const std::span<const DWORD> got = record.SplitAt(at);
    EXPECT_EQ(Pieces(got.begin(), got.end()), expected.at(at)) << "word " << at;
  }
  // A record read again starts from its first split word.
  ASSERT_TRUE(file.ReadDocument(0, record));
  const std::span<const DWORD> again = record.SplitAt(2);
  EXPECT_EQ(Pieces(again.begin(), again.end()), (Pieces{1, 2, 3}));
}
