// The text of an act as the reader pages see it: the body of a stored
// document read into lines (headings and paragraphs), each with its safe
// inline markup, its plain text and the provision it belongs to (article,
// paragraph "§", section "ust.", point "pkt", letter "lit."). The page
// without frames writes the lines, the API gives the text of a provision,
// the comparison of versions matches articles by number.
//
// The documents are the site's own HTML in windows-1250 ("<P>Art. 5. 1. ...",
// "<P>2. ...", "<P>1) ...", "<H3>Rozdział I</H3>"); anything else in them is
// read as text. What a line keeps of the markup is a fixed set of inline
// tags (b, strong, i, em, u, sup, sub, small, br), balanced within the line,
// and escaped text: nothing of a document reaches a reader page unescaped.
// Everything stays windows-1250; the pages convert when they write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "portico/eli_address.h"

namespace portico {

struct ActLine {
  int heading = 0;                   // 1-6 for a heading, 0 for a paragraph
  std::string html;                  // inline markup, safe to write into a page
  std::string text;                  // plain text, blanks collapsed; "^" before a superscript
  std::vector<std::string> anchors;  // the document's anchor names that lead to this line
  ProvisionPath path;                // the provision the line belongs to; empty outside them
  std::size_t firstNew = 0;          // path[firstNew..] begin on this line (path.size(): none)
  std::size_t markerLength = 0;      // bytes of `text` that are the markers ("Art. 5. 1.")
  std::size_t articleLength = 0;     // bytes of `text` that are the article's marker ("Art. 5. ")
  std::vector<std::uint32_t> htmlAt; // where in `html` each of the first kMarkerWindow bytes of `text` begins

  // The markup of the line from a byte of its text on (blanks there
  // skipped): balanced as the whole line is, or the escaped text when the
  // cut would split an element.
  std::string HtmlFrom(std::size_t textOffset) const;
};

// Markers are read within the first this many bytes of a line.
constexpr std::size_t kMarkerWindow = 48;

struct ActText {
  std::vector<ActLine> lines;
  // The lines of a provision (the provision and everything below it), in
  // order; empty when the act has no such provision.
  std::vector<std::size_t> LinesOf(const ProvisionPath& path) const;
  // The provisions that begin in the text, in order of their first line.
  std::vector<ProvisionPath> Provisions() const;
  // The articles (or, in an act without articles, its top-level paragraphs)
  // with their lines, in document order.
  struct Unit {
    Provision provision;
    std::vector<std::size_t> lines;
  };
  std::vector<Unit> TopUnits() const;
};

// Reads the body of a document (the text between its body tag and its
// closing body tag, or the whole text when it has none; comments already
// removed). Never reads outside the text; bounded by its length.
ActText ReadActText(std::string_view document);

// The provision a reference location of a ruling names ("B5UST2PKT3",
// "B22(1)", "B5§2", "C3"; location keys, see ruling_markers.h); empty for
// the whole act ("A") and for keys it cannot read.
ProvisionPath ProvisionOfLocationKey(std::string_view key);

// Text decoded from HTML: entities replaced by their windows-1250 bytes
// ("?" for a character windows-1250 has not), tags left as they are.
std::string DecodeEntities(std::string_view text);

}  // namespace portico
