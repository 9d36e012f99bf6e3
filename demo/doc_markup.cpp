#include "demo/doc_markup.h"

#include <cctype>

#include "platform/cp1250.h"

namespace vamucorpus {
namespace {

constexpr const char* kHeadStart = "<HTML><HEAD><TITLE>";
constexpr const char* kCharset = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1250\">\r\n";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Text for the reader: escaped, "^N" (superscript numbers of the corpus) raised.
std::string Display(const std::string& text) {
  std::string e = Escape(text), out;
  for (std::size_t i = 0; i < e.size(); ++i) {
    if (e[i] == '^' && i + 1 < e.size() && cp1250::IsDigit(static_cast<unsigned char>(e[i + 1]))) {
      std::size_t j = i + 1;
      while (j < e.size() && cp1250::IsDigit(static_cast<unsigned char>(e[j]))) ++j;
      out += "<SUP>" + e.substr(i + 1, j - i - 1) + "</SUP>";
      i = j - 1;
    } else {
      out += e[i];
    }
  }
  return out;
}

// The article number as its heading writes it: a superscript number in
// brackets, which is how ruling references (art. 22(1)) find it: "22^1" -> "22[1]".
std::string HeadingNumber(const std::string& number) {
  std::string out = number;
  if (auto caret = out.find('^'); caret != std::string::npos) out = out.substr(0, caret) + "[" + out.substr(caret + 1) + "]";
  return Escape(out);
}

std::string Anchor(const char* kind, const std::string& number) {
  std::string a = kind;
  for (unsigned char c : number) a += std::isalnum(c) ? static_cast<char>(std::toupper(c)) : '_';
  return a;
}

// How far a unit line is indented: points "1)" one step, letters "a)" two.
int Indent(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && cp1250::IsDigit(static_cast<unsigned char>(line[i]))) ++i;
  if (i > 0 && i < line.size() && line[i] == ')') return 1;
  if (line.size() > 1 && line[1] == ')' && std::islower(static_cast<unsigned char>(line[0]))) return 2;
  return 0;
}

std::string UnitParagraph(const std::string& line) {
  // Every unit starts right behind "<P>", where the ruling markers look for "2." and "2)".
  int indent = Indent(line);
  if (indent == 0) return "<P>" + Display(line) + "\r\n";
  return std::string("<DIV STYLE=\"margin-left:") + (indent == 1 ? "2em" : "4em") + "\"><P>" + Display(line) +
         "</DIV>\r\n";
}

struct TocEntry {
  int level;
  std::string anchor;
  std::string caption;
};

std::string TocPage(const std::vector<TocEntry>& entries) {
  std::string t = "<HTML><HEAD><TITLE>Spis treści</TITLE></HEAD><BODY><B>Spis treści</B>\r\n<UL>\r\n";
  int depth = 1;
  for (const auto& e : entries) {
    for (; depth < e.level; ++depth) t += "<UL>\r\n";
    for (; depth > e.level; --depth) t += "</UL>\r\n";
    t += "<LI><A HREF=\"portico.dll?Topic&x#" + e.anchor + "\" TARGET=VAMUTEXT>" + e.caption + "</A>\r\n";
  }
  for (; depth > 0; --depth) t += "</UL>\r\n";
  return t + "</BODY></HTML>";
}

std::string Joined(const std::vector<std::string>& lines, const char* separator) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? separator : "") + lines[i];
  return out;
}

// The table of contents: headings with their articles nested below them; an
// act without headings (or with very many articles) gets runs of 25 articles.
std::vector<TocEntry> TocEntries(const ActText& act) {
  std::vector<TocEntry> out;
  bool headings = false;
  for (const auto& b : act.blocks) headings |= b.kind == ActBlock::Heading;
  const bool listArticles = headings && act.ArticleCount() <= 400;
  if (!headings) {
    std::size_t n = 0;
    std::string first;
    for (std::size_t i = 0; i < act.blocks.size(); ++i) {
      const auto& b = act.blocks[i];
      if (b.kind != ActBlock::Article) continue;
      if (n % 25 == 0) out.push_back({1, Anchor("A", b.number), "Art. " + Display(b.number)});
      else out.back().caption = out.back().caption.substr(0, out.back().caption.find(" \x96 ")) + " \x96 " + Display(b.number);
      ++n;
    }
    return out;
  }
  int division = 0, chapter = 1, current = 0, count = 0;
  for (const auto& b : act.blocks) {
    if (b.kind == ActBlock::Heading) {
      int level;
      if (StartsWith(b.lines[0], "DZIAŁ") || StartsWith(b.lines[0], "Dział") || StartsWith(b.lines[0], "KSIĘGA") ||
          StartsWith(b.lines[0], "Księga") || StartsWith(b.lines[0], "TYTUŁ") || StartsWith(b.lines[0], "Tytuł")) {
        division = 1;
        level = 1;
        chapter = 2;
      } else if (StartsWith(b.lines[0], "Rozdział") || StartsWith(b.lines[0], "ROZDZIAŁ")) {
        level = division + 1;
        chapter = level;
      } else {
        level = chapter + 1;
      }
      current = level;
      out.push_back({level, Anchor("H", std::to_string(++count)), Display(Joined(b.lines, " "))});
    } else if (b.kind == ActBlock::Article && listArticles) {
      out.push_back({current + 1, Anchor("A", b.number), "Art. " + Display(b.number) + "."});
    }
  }
  return out;
}

std::string ActBody(const ActText& act, const ActRef& version) {
  std::string h = "<BODY>\r\n<H1>" + Escape(act.title) + "</H1>\r\n<P ALIGN=CENTER><SMALL>" +
                  Escape(act.ref.LongCitation());
  if (!(version == act.ref)) h += " (zmiana: " + Escape(version.LongCitation()) + ")";
  if (!act.textVersion.empty()) h += "<BR>" + Escape(act.textVersion);
  h += "</SMALL>\r\n";
  bool first = true;
  int headings = 0;
  for (const auto& b : act.blocks) {
    switch (b.kind) {
      case ActBlock::Text:
        h += first ? "<P ALIGN=CENTER><B>" + Display(Joined(b.lines, "\x01")) + "</B>\r\n"
                   : "<P>" + Display(Joined(b.lines, "\x01")) + "\r\n";
        break;
      case ActBlock::Heading:
        h += "<A NAME=\"" + Anchor("H", std::to_string(++headings)) + "\"></A><H3 ALIGN=CENTER>" +
             Display(Joined(b.lines, "\x01")) + "</H3>\r\n";
        break;
      case ActBlock::Article: {
        // "<P>Art. 5." with the first unit on the same line: the ruling markers
        // find an article heading right behind "<P>" and its first paragraph
        // right behind the heading's ".".
        h += "<A NAME=\"" + Anchor("A", b.number) + "\"></A><P>Art. " + HeadingNumber(b.number) + ".";
        if (b.lines.empty()) {
          h += "\r\n";
          break;
        }
        h += " " + Display(b.lines[0]) + "\r\n";
        for (std::size_t i = 1; i < b.lines.size(); ++i) h += UnitParagraph(b.lines[i]);
        break;
      }
    }
    first = false;
  }
  // Line breaks inside a block were kept apart as \x01 so escaping could not touch them.
  std::string out;
  out.reserve(h.size() + 1024);
  for (char c : h) {
    if (c == '\x01') out += "<BR>\r\n";
    else out += c;
  }
  return out + "</BODY></HTML>\r\n";
}

}  // namespace

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ActTitle(const ActText& act, const ActRef& version) {
  std::string t = act.ref.Citation() + " - " + act.title;
  if (!(version == act.ref)) t += " (zmiana: " + version.Citation() + ")";
  return t;
}

Document ActDocument(const ActText& act, const ActRef& version, const std::string& relatedKey) {
  Document d;
  const std::string name = act.ref.DocName(version);
  d.name = name + ".HTM";
  d.keys = act.ref.Prefix() + (relatedKey.empty() ? "" : ";" + relatedKey);
  std::string& h = d.data;
  h = kHeadStart + Escape(ActTitle(act, version)) + "</TITLE>\r\n" + kCharset + "</HEAD>\r\n";
  h += "<!--LINE Search@ Home@ Notes=" + name + "@" + (relatedKey.empty() ? "" : " LinkedDoc=" + relatedKey + "@") +
       " -->\r\n";
  h += "<!--TOC" + TocPage(TocEntries(act)) + "-->\r\n";
  h += "<!--FOOT<HTML><BODY><CENTER><B>" + Escape(act.ref.LongCitation()) + "</B> " + Escape(act.title);
  if (!(version == act.ref)) h += "<BR>po zmianie: " + Escape(version.LongCitation());
  if (!act.textVersion.empty()) h += "<BR><SMALL>" + Escape(act.textVersion) + "</SMALL>";
  h += "</CENTER></BODY></HTML>-->\r\n";
  h += ActBody(act, version);
  return d;
}

Document RulingDocument(const RulingDoc& r) {
  Document d;
  d.name = r.name + ".HTM";
  std::string refs;
  for (const auto& a : r.acts) {
    if (!d.keys.empty()) d.keys += ";";
    d.keys += a.ref.RulingsKey();
    // "D97483 O=SENT" (the whole act), then one line per place.
    refs += a.ref.Prefix() + " O=" + kRulingAnchor + "\r\n";
    for (const auto& l : a.locations) refs += a.ref.Prefix() + " " + l + "=" + kRulingAnchor + "\r\n";
  }
  std::string& h = d.data;
  h = kHeadStart + Escape(r.title) + "</TITLE>\r\n" + kCharset + "<META KEYS=\"" + refs + "\">\r\n</HEAD>\r\n";
  h += "<!--LINE Search@ Home@ Notes=" + r.name + "@ -->\r\n";
  h += "<!--FOOT<HTML><BODY><CENTER><B>" + Escape(r.title) + "</B>";
  if (!r.source.empty()) h += "<BR><SMALL>" + Escape(r.source) + "</SMALL>";
  h += "</CENTER></BODY></HTML>-->\r\n";
  h += "<BODY>\r\n<H2>" + Escape(r.title) + "</H2>\r\n<P><SMALL>";
  for (std::size_t i = 0; i < r.details.size(); ++i) h += (i ? "<BR>" : "") + Escape(r.details[i]);
  h += "</SMALL>\r\n";
  if (!r.acts.empty()) {
    h += "<P>Dotyczy:\r\n<UL>\r\n";
    for (const auto& a : r.acts) {
      h += "<LI><A HREF=\"portico.dll?Topic&" + a.docName + "\">" + Escape(a.title) + "</A>";
      if (!a.cited.empty()) h += ": " + Escape(Joined(a.cited, ", "));
      h += "\r\n";
    }
    h += "</UL>\r\n";
  }
  h += std::string("<A NAME=\"") + kRulingAnchor + "\"></A><!--BEGIN-->\r\n<P><B>" + Escape(r.title) + "</B>\r\n";
  for (const auto& l : r.sentence)
    if (!l.empty()) h += "<P>" + Escape(l) + "\r\n";
  h += "<P><A HREF=\"portico.dll?Topic&" + r.name + "\" TARGET=VAMUTEXT>Pełny tekst orzeczenia</A>\r\n<!--END-->\r\n";
  for (const auto& l : r.reasons)
    if (!l.empty()) h += "<P>" + Escape(l) + "\r\n";
  h += "</BODY></HTML>\r\n";
  return d;
}

Document RulingsListDocument(const ActRef& act, const std::string& actTitle,
                             const std::vector<RulingsListEntry>& rulings) {
  Document d;
  d.name = act.RulingsListName() + ".HTM";
  std::string& h = d.data;
  // The citation in the title gives the list the act's number in the table of acts.
  h = kHeadStart + act.Citation() + " - Orzeczenia: " + Escape(actTitle) + "</TITLE>\r\n" + kCharset + "</HEAD>\r\n";
  h += "<BODY>\r\n<H3>Orzeczenia dotyczące aktu: " + Escape(actTitle) + " (" + Escape(act.LongCitation()) + ")</H3>\r\n";
  h += "<UL>\r\n";
  for (const auto& r : rulings) {
    h += "<LI><A HREF=\"portico.dll?Topic&" + r.name + "\" TARGET=VAMUTEXT>" + Escape(r.title) + "</A>";
    if (!r.places.empty()) h += "<BR><SMALL>" + Escape(r.places) + "</SMALL>";
    h += "\r\n";
  }
  h += "</UL>\r\n</BODY></HTML>\r\n";
  return d;
}

std::string ContentsGroupLines(const std::string& caption, const std::string& childFile) {
  std::string c;
  for (char ch : caption) {
    if (ch == '"') c += '\\';
    c += ch;
  }
  return "1 -id \"" + c + "\"\r\n2 -t portico.dll?TreeToc&Publ=VamuSpis&Name=" + childFile + " \"Ładuje...\"\r\n";
}

std::string ContentsActLines(const ActRef& act) { return "1 -dd\r\nNAME=" + act.Prefix() + "\r\n"; }

}  // namespace vamucorpus
