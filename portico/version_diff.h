// What changed between two versions of an act: their articles (or, in an
// act without articles, their top-level paragraphs) matched by number
// ("22(1)" is its own article), the text of each that differs compared word
// by word with the kept diff library (dtl), and the articles added and
// removed. Works on the texts as ActText reads them (windows-1250).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "portico/act_text.h"

namespace portico {

struct ArticleChange {
  enum class Kind { kChanged, kAdded, kRemoved };
  Kind kind = Kind::kChanged;
  Provision unit;       // the article (or paragraph)
  std::string oldText;  // plain text, lines joined by "\n"; empty when added
  std::string newText;  // empty when removed
  std::string oldHtml;  // escaped text with the removed words in <del>, lines split by <br>
  std::string newHtml;  // escaped text with the added words in <ins>
};

struct VersionComparison {
  std::vector<ArticleChange> changes;  // in the order of the newer text; removed ones where they stood
  std::size_t unchanged = 0;           // articles in both, with the same text
};

VersionComparison CompareVersions(const ActText& older, const ActText& newer);

// The text of a unit as compared: the plain text of its lines, joined by "\n".
std::string UnitText(const ActText& act, const ActText::Unit& unit);
// The words of a text as compared: runs of bytes between blanks; each line
// end is a word of its own ("\n").
std::vector<std::string> Words(std::string_view text);

}  // namespace portico
