// CDocServer: the words a marked query word stands for ("~umowa": its forms,
// "^lodz": the words that read alike without marks), from the lemma and fold
// tables of the base's words (word_forms.h). A query takes them from the
// positions file when it can (read-only base, file current, sections sound,
// made with the same dictionary); otherwise they are built in memory from the
// word table when a query first needs them, and again when the base changes.
#include <algorithm>

#include "concorda/doc_server.h"
#include "concorda/lemmatizer.h"
#include "concorda/marked_phrase.h"
#include "concorda/positions_format.h"
#include "concorda/query.h"
#include "concorda/query_markers.h"
#include "concorda/term_words.h"
#include "platform/message_box.h"

using namespace concorda;

namespace {

WordList TableWords(const CWordTable& table) {
  return {table.Size(), [&table](std::size_t i) { return std::string_view(table[i].m_pWord); }};
}

}  // namespace

bool CDocServer::LoadStoredForms(DWORD id, CWordForms& table) {
  const CPositionsFile* file = QueryPositions();
  if (!file) return false;
  std::vector<BYTE> section;
  std::string why;
  const WordList words{file->WordCount(), [file](std::size_t i) { return file->Word(i); }};
  const char* what = id == kSectionLemmas ? "lemma table" : "fold table";
  bool loaded = false;
  if (file->ReadOptionalSection(id, section, &why)) {
    loaded = id == kSectionLemmas ? table.LoadLemmas(std::move(section), words, &why)
                                  : table.LoadFolds(std::move(section), words, &why);
    const CLemmatizer* dictionary = CLemmatizer::Shared();
    if (loaded && id == kSectionLemmas && (!dictionary || table.DictionaryIdentity() != dictionary->Identity())) {
      why = "it was made with another dictionary";
      loaded = false;
    }
  } else if (why.empty()) {
    why = "the positions file has none (written by an older program)";
  }
  if (!loaded)
    MessageBox(PositionsPath(GetFilePath()) + ": " + what + " not used (" + why + "); it is built in memory",
               "DocServer");
  return loaded;
}

const CWordForms& CDocServer::LemmaTable() {
  if (!m_bLemmasCurrent.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(m_mutexForms);
    if (!m_bLemmasCurrent.load(std::memory_order_relaxed)) {
      m_pLemmasFile = LoadStoredForms(kSectionLemmas, m_lemmaTable) ? QueryPositions() : nullptr;
      if (!m_pLemmasFile) {
        const WordList words = TableWords(Words());
        std::vector<BYTE> section;
        if (const CLemmatizer* dictionary = CLemmatizer::Shared()) section = BuildLemmaSection(words, *dictionary);
        std::string why;
        if (!m_lemmaTable.LoadLemmas(std::move(section), words, &why)) MessageBox(why, "DocServer");
      }
      m_bLemmasCurrent.store(true, std::memory_order_release);
    }
  }
  return m_lemmaTable;
}

const CWordForms& CDocServer::FoldTable() {
  if (!m_bFoldsCurrent.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(m_mutexForms);
    if (!m_bFoldsCurrent.load(std::memory_order_relaxed)) {
      m_pFoldsFile = LoadStoredForms(kSectionFolds, m_foldTable) ? QueryPositions() : nullptr;
      if (!m_pFoldsFile) {
        const WordList words = TableWords(Words());
        std::string why;
        if (!m_foldTable.LoadFolds(BuildFoldSection(words), words, &why)) MessageBox(why, "DocServer");
      }
      m_bFoldsCurrent.store(true, std::memory_order_release);
    }
  }
  return m_foldTable;
}

void CDocServer::ToWordTable(const CPositionsFile* file, std::vector<DWORD>& numbers, std::size_t from) const {
  if (!file) return;  // the table was built from the word table itself
  // The file's words are every word and markup piece of the base; only the
  // words of the word table are found by queries.
  std::size_t out = from;
  for (std::size_t k = from; k < numbers.size(); ++k) {
    const std::string word(file->Word(numbers[k]));
    const std::size_t i = Words().Find(word.c_str());
    if (i != CWordTable::npos) numbers[out++] = static_cast<DWORD>(i);
  }
  numbers.resize(out);
}

std::vector<DWORD> CDocServer::FormsOf(std::string_view lemma) {
  std::vector<DWORD> forms;
  LemmaTable().AppendForms(lemma, forms);
  ToWordTable(m_pLemmasFile, forms, 0);
  std::sort(forms.begin(), forms.end());
  return forms;
}

std::vector<std::string> CDocServer::LemmasOf(std::string_view word, bool fold, const CQueryBudget* budget) {
  std::vector<std::string> lemmas;
  const CLemmatizer* dictionary = CLemmatizer::Shared();
  if (!dictionary || word.empty()) return lemmas;
  lemmas = dictionary->Lemmas(word);
  // Folded, the word may be written without its marks ("~^umowe"): the
  // lemmas of the words of the base that read alike count too, and the
  // lemmas that read alike ("~^lodz": ŁÓDŹ, whose form ŁODZI the base holds).
  if (fold) {
    std::vector<DWORD> alike;
    FoldTable().AppendFolded(word, alike);
    ToWordTable(m_pFoldsFile, alike, 0);
    for (std::size_t k = 0; k < alike.size(); ++k) {
      if (budget && k % 256 == 255) budget->CheckTime();
      for (std::string& lemma : dictionary->Lemmas(Words()[alike[k]].m_pWord)) lemmas.push_back(std::move(lemma));
    }
    LemmaTable().AppendFoldedLemmas(word, lemmas);
  }
  std::sort(lemmas.begin(), lemmas.end());
  lemmas.erase(std::unique(lemmas.begin(), lemmas.end()), lemmas.end());
  return lemmas;
}

void CDocServer::FindMarkedWords(std::string_view term, std::vector<std::size_t>& out, const CQueryBudget* budget) {
  const MarkedTerm t = SplitMarkers(term);
  const std::string word(t.word);
  if (word.empty()) return;
  const bool pattern = HasWildcard(word);
  std::vector<DWORD> found;
  if (t.fold) {
    if (pattern) FoldTable().AppendFoldedPattern(word, found);
    else FoldTable().AppendFolded(word, found);
    ToWordTable(m_pFoldsFile, found, 0);
  } else {
    std::vector<std::size_t> written;
    FindTermWords(Words(), [this]() -> const std::vector<DWORD>& { return SuffixIndex(); }, word, written, budget);
    found.assign(written.begin(), written.end());
  }
  // A pattern stands for the words it matches and no more; a word the
  // dictionary does not know matches as written (or folded).
  if (t.forms && !pattern) {
    const CWordForms& table = LemmaTable();
    const std::size_t written = found.size();
    for (const std::string& lemma : LemmasOf(word, t.fold, budget)) table.AppendForms(lemma, found);
    ToWordTable(m_pLemmasFile, found, written);
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  out.insert(out.end(), found.begin(), found.end());
}

std::vector<std::unique_ptr<CMarkedPhrase>> CDocServer::MarkedPhrases(const PreparedQuery& query,
                                                                      CQueryBudget& budget) {
  std::vector<std::unique_ptr<CMarkedPhrase>> marked(query.phrases.size());
  for (std::size_t p = 0; p < marked.size(); ++p) {
    if (!HasMarkedWord(query.phrases[p])) continue;
    marked[p] = std::make_unique<CMarkedPhrase>(
        query.phrases[p], [this, &budget](std::string_view w, std::vector<std::string>& out) {
          std::vector<std::size_t> positions;
          FindMarkedWords(w, positions, &budget);
          budget.ChargeExpandedWords(positions.size());
          for (std::size_t k : positions) out.emplace_back(Words()[k].m_pWord);
        });
  }
  return marked;
}

Proximity CDocServer::ExpandMarkedOperands(const Proximity& p, CQueryBudget& budget) {
  Proximity out = p;
  for (ProximityOperand* op : {&out.left, &out.right}) {
    op->expanded.assign(op->words.size(), std::nullopt);
    for (std::size_t k = 0; k < op->words.size(); ++k) {
      if (!SplitMarkers(op->words[k]).Marked()) continue;
      std::vector<std::size_t> positions;
      FindMarkedWords(op->words[k], positions, &budget);
      auto& words = op->expanded[k].emplace();
      for (std::size_t w : positions) words.emplace_back(Words()[w].m_pWord);
      std::sort(words.begin(), words.end());
    }
  }
  return out;
}
