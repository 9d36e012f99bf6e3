#include "portico/version_diff.h"

#include <map>
#include <utility>

#include <dtl/dtl.hpp>

#include "portico/text.h"

namespace portico {

namespace {

// Appends a word to one side; runs of marked words share one element.
class SideWriter {
 public:
  explicit SideWriter(const char* tag) : m_tag(tag) {}
  void Add(const std::string& word, bool marked) {
    if (word == "\n") {
      Close();
      m_html += "<br>";
      m_lineStart = true;
      return;
    }
    const char* separator = m_lineStart ? "" : " ";
    if (marked && !m_open) {
      m_html += separator;
      m_html += std::string("<") + m_tag + ">";
      m_open = true;
    } else if (!marked && m_open) {
      Close();
      m_html += separator;
    } else {
      m_html += separator;
    }
    m_html += HtmlEscape(word);
    m_lineStart = false;
  }
  std::string Take() {
    Close();
    return std::move(m_html);
  }

 private:
  void Close() {
    if (m_open) m_html += std::string("</") + m_tag + ">";
    m_open = false;
  }
  const char* m_tag;
  std::string m_html;
  bool m_open = false;
  bool m_lineStart = true;
};

// A short run of common words between larger changes ("z", "o") reads
// better as part of the change: such a run of at most this many words is
// marked removed and added when the changes around it hold at least four
// times as many words (a removed and an added word counting half each).
constexpr std::size_t kShortCommonRun = 2;

// Both sides of one changed unit, marked word by word.
void MarkWords(ArticleChange& change) {
  const std::vector<std::string> a = Words(change.oldText), b = Words(change.newText);
  dtl::Diff<std::string, std::vector<std::string>> diff(a, b);
  diff.compose();
  std::vector<std::pair<std::string, dtl::edit_t>> edits;
  for (const auto& [word, info] : diff.getSes().getSequence()) edits.emplace_back(word, info.type);
  // The changed words in a row from i on, forwards or backwards.
  auto changedRun = [&](std::size_t i, int step) {
    std::size_t n = 0;
    for (long k = static_cast<long>(i); k >= 0 && k < static_cast<long>(edits.size()) &&
                                        edits[static_cast<std::size_t>(k)].second != dtl::SES_COMMON;
         k += step)
      ++n;
    return n;
  };
  std::vector<bool> absorbed(edits.size(), false);
  for (std::size_t i = 0; i < edits.size();) {
    if (edits[i].second != dtl::SES_COMMON) {
      ++i;
      continue;
    }
    std::size_t end = i;
    bool lineEnd = false;
    while (end < edits.size() && edits[end].second == dtl::SES_COMMON) lineEnd |= edits[end++].first == "\n";
    const std::size_t run = end - i;
    if (!lineEnd && run <= kShortCommonRun && i > 0 && end < edits.size() &&
        changedRun(i - 1, -1) + changedRun(end, 1) >= 2 * 4 * run)
      for (std::size_t k = i; k < end; ++k) absorbed[k] = true;
    i = end;
  }
  SideWriter oldSide("del"), newSide("ins");
  for (std::size_t i = 0; i < edits.size(); ++i) {
    const auto& [word, type] = edits[i];
    if (type == dtl::SES_COMMON) {
      oldSide.Add(word, absorbed[i]);
      newSide.Add(word, absorbed[i]);
    } else if (type == dtl::SES_DELETE) {
      oldSide.Add(word, true);
    } else {
      newSide.Add(word, true);
    }
  }
  change.oldHtml = oldSide.Take();
  change.newHtml = newSide.Take();
}

// Units by kind and number; a number that occurs again gets a count behind it.
std::map<std::string, std::size_t> Keyed(const std::vector<ActText::Unit>& units) {
  std::map<std::string, std::size_t> keyed;
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::string key = std::string(ProvisionWord(units[i].provision.kind)) + " " + units[i].provision.number;
    while (keyed.count(key)) key += "+";
    keyed[key] = i;
  }
  return keyed;
}

std::vector<std::string> KeysInOrder(const std::vector<ActText::Unit>& units) {
  std::map<std::string, int> seen;
  std::vector<std::string> keys;
  for (const ActText::Unit& u : units) {
    std::string key = std::string(ProvisionWord(u.provision.kind)) + " " + u.provision.number;
    for (int n = seen[key]++; n > 0; --n) key += "+";
    keys.push_back(key);
  }
  return keys;
}

}  // namespace

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\n') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
      if (c == '\n') words.emplace_back("\n");
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::string UnitText(const ActText& act, const ActText::Unit& unit) {
  std::string text;
  for (std::size_t i : unit.lines) {
    if (!text.empty()) text += '\n';
    text += act.lines[i].text;
  }
  return text;
}

VersionComparison CompareVersions(const ActText& older, const ActText& newer) {
  VersionComparison result;
  const std::vector<ActText::Unit> oldUnits = older.TopUnits(), newUnits = newer.TopUnits();
  const std::map<std::string, std::size_t> oldByKey = Keyed(oldUnits);
  const std::vector<std::string> oldKeys = KeysInOrder(oldUnits), newKeys = KeysInOrder(newUnits);
  const std::map<std::string, std::size_t> newByKey = Keyed(newUnits);

  // Removed units are listed where they stood: before the first unit of the
  // newer text that followed them in the older one.
  std::size_t oldNext = 0;
  auto flushRemoved = [&](std::size_t upTo) {
    for (; oldNext < upTo; ++oldNext) {
      if (newByKey.count(oldKeys[oldNext])) continue;
      ArticleChange c;
      c.kind = ArticleChange::Kind::kRemoved;
      c.unit = oldUnits[oldNext].provision;
      c.oldText = UnitText(older, oldUnits[oldNext]);
      MarkWords(c);
      result.changes.push_back(std::move(c));
    }
  };
  for (std::size_t i = 0; i < newUnits.size(); ++i) {
    auto old = oldByKey.find(newKeys[i]);
    ArticleChange c;
    c.unit = newUnits[i].provision;
    c.newText = UnitText(newer, newUnits[i]);
    if (old == oldByKey.end()) {
      c.kind = ArticleChange::Kind::kAdded;
    } else {
      flushRemoved(old->second + 1);
      c.oldText = UnitText(older, oldUnits[old->second]);
      if (c.oldText == c.newText) {
        ++result.unchanged;
        continue;
      }
    }
    MarkWords(c);
    result.changes.push_back(std::move(c));
  }
  flushRemoved(oldUnits.size());
  return result;
}

}  // namespace portico
