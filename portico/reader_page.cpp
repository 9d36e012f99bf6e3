// The page without frames: one version of an act (or one provision of it)
// as a self-contained HTML5 page: title and citation, the versions, the
// table of contents, the text with the rulings of each provision in place,
// and the related acts.
#include <algorithm>
#include <map>
#include <set>

#include "biblion/srv_srv.h"
#include "portico/extension.h"
#include "portico/page_cache.h"
#include "portico/reader_html.h"
#include "portico/reader_page.h"
#include "portico/request.h"
#include "portico/text.h"
#include "portico/utf8.h"

namespace portico {

namespace {

// What is written beside the text for the rulings of one place.
struct Place {
  std::vector<const ReaderRuling*> rulings;
};

class CActPageWriter {
 public:
  CActPageWriter(const ReaderAct& act, std::size_t version, const ReaderDocument& document,
                 const std::vector<ReaderRuling>& rulings, const ProvisionPath& only)
      : m_act(act), m_version(version), m_doc(document), m_rulings(rulings), m_only(only) {
    for (const ProvisionPath& p : document.text.Provisions()) m_present.insert(ProvisionFragment(p));
    for (const ReaderRuling& r : rulings) {
      bool located = false;
      for (const ProvisionPath& p : r.places) {
        const std::string fragment = ProvisionFragment(p);
        if (!m_present.count(fragment)) continue;
        m_places[fragment].rulings.push_back(&r);
        located = true;
      }
      if (!located) m_general.push_back(&r);
    }
  }

  std::string Page(const std::vector<RelatedAct>& related) {
    const std::string title = Title();
    std::string b = SiteHeader("/default.htm?" + Decimal(m_act.versions[m_version].index));
    b += "<h1>" + (m_only.empty() ? HtmlEscape(title) : HtmlEscape(Capitalised(ProvisionCitation(m_only))) + " &ndash; " + HtmlEscape(title)) + "</h1>\n";
    b += "<p class=\"cite\">" + HtmlEscape(Citation(m_act.first));
    if (m_act.versions[m_version].after) b += ", " + HtmlEscape(VersionLabel(m_act.versions[m_version]));
    else b += ", tekst pierwotny";
    b += "</p>\n";
    if (!m_only.empty())
      b += "<p><a href=\"" + HtmlEscape(VersionPath(m_act, m_version)) + "#" + ProvisionFragment(m_only) +
           "\">Cały akt</a></p>\n";
    b += "</header>\n";
    b += Versions();
    if (m_only.empty()) b += Contents();
    b += "<main id=\"tresc\">\n<h2>Tekst</h2>\n";
    if (m_only.empty() && !m_general.empty())
      b += RulingsBlock("o-akt", "Orzeczenia dotyczące całego aktu", m_general);
    b += Text();
    b += "</main>\n";
    if (m_only.empty()) b += Related(related);
    b += "<footer>\n<p>Adres stały: <a href=\"" + HtmlEscape(Canonical()) + "\">" + HtmlEscape(Canonical()) +
         "</a>. Dane: <a href=\"/api/v1" + HtmlEscape(Canonical()) + "\">/api/v1" + HtmlEscape(Canonical()) +
         "</a>.</p>\n</footer>\n";
    std::string head = "<link rel=\"canonical\" href=\"" + HtmlEscape(Canonical()) + "\">\n";
    std::string pageTitle = m_only.empty() ? title : Capitalised(ProvisionCitation(m_only)) + " \x96 " + title;
    return HtmlPage(pageTitle + " \x96 " + Citation(m_act.first), head, b);
  }

 private:
  std::string Canonical() const { return VersionPath(m_act, m_version) + ProvisionAddress(m_only); }

  static std::string Capitalised(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = char(s[0] - 'a' + 'A');
    return s;
  }

  // The act's own title: its first heading, else the title tag without the citation.
  std::string Title() const {
    for (const ActLine& l : m_doc.text.lines)
      if (l.heading == 1) return l.text;
    std::string t = ShortTitle(m_doc.title);
    return t.empty() ? Citation(m_act.first) : t;
  }

  std::string Versions() const {
    std::string v = "<nav aria-labelledby=\"wersje\">\n<h2 id=\"wersje\">Wersje</h2>\n<ol class=\"ver\">\n";
    for (std::size_t i = 0; i < m_act.versions.size(); ++i) {
      v += "<li><a href=\"" + HtmlEscape(VersionPath(m_act, i) + ProvisionAddress(m_only)) + "\"";
      if (i == m_version) v += " aria-current=\"page\"";
      v += ">" + HtmlEscape(VersionLabel(m_act.versions[i])) + "</a>";
      if (i + 1 == m_act.versions.size()) v += " (tekst obowiązujący)";
      if (i == m_version) v += " <strong>&ndash; wyświetlana</strong>";
      v += "</li>\n";
    }
    v += "</ol>\n";
    if (m_version > 0) {
      const ActVersion& before = m_act.versions[m_version - 1];
      v += "<p><a href=\"" + HtmlEscape(EliPath(m_act.address)) + "/zmiany?z=" +
           HtmlEscape(Selector(before)) + "&amp;na=" + HtmlEscape(Selector(m_act.versions[m_version])) +
           "\">Co zmieniła ta wersja</a></p>\n";
    }
    return v + "</nav>\n";
  }

  static std::string Selector(const ActVersion& v) { return v.after ? ActPath(*v.after) : "pierwotny"; }

  // The document's own table of contents, its links to the anchors of the text.
  std::string Contents() const {
    if (m_doc.contents.empty()) return {};
    std::string c = "<nav aria-labelledby=\"spis\">\n<h2 id=\"spis\">Spis treści</h2>\n";
    int depth = 0;
    for (const TocEntry& e : m_doc.contents) {
      const int level = std::min(e.level, depth + 1);
      if (level > depth) {
        c += "\n<ul>\n";
        depth = level;
      } else {
        c += "</li>\n";
        for (; depth > level; --depth) c += "</ul>\n</li>\n";
      }
      c += "<li><a href=\"#" + SafeId("d-", e.anchor) + "\">" + HtmlEscape(e.caption) + "</a>";
    }
    for (; depth > 0; --depth) c += "</li>\n</ul>\n";
    return c + "</nav>\n";
  }

  // Ids of the document's own anchors on a line (the table of contents links to them).
  std::string Anchors(const ActLine& line) {
    std::string a;
    for (const std::string& name : line.anchors) {
      std::string id = SafeId("d-", name);
      if (m_ids.insert(id).second) a += "<span id=\"" + HtmlEscape(id) + "\"></span>";
    }
    return a;
  }

  // The id attribute of a provision that begins here (once per page).
  std::string IdAttribute(const std::string& fragment) {
    if (!m_ids.insert(fragment).second) return {};
    return " id=\"" + HtmlEscape(fragment) + "\"";
  }

  // The marker of a provision's rulings: a link to them.
  std::string Marker(const std::string& fragment, const ProvisionPath& path) const {
    auto it = m_places.find(fragment);
    if (it == m_places.end()) return {};
    const std::string n = Decimal(static_cast<std::int64_t>(it->second.rulings.size()));
    return "<a class=\"m\" href=\"#o-" + fragment + "\" aria-label=\"Orzeczenia do " +
           HtmlEscape(ProvisionCitation(path)) + ": " + n + "\">orzeczenia (" + n + ")</a>";
  }

  std::string Details(const std::string& fragment, const ProvisionPath& path) {
    auto it = m_places.find(fragment);
    if (it == m_places.end()) return {};
    return RulingsBlock("o-" + fragment, "Orzeczenia do " + ProvisionCitation(path), it->second.rulings);
  }

  std::string RulingsBlock(const std::string& id, const std::string& caption,
                           const std::vector<const ReaderRuling*>& rulings) {
    std::string d = "<details class=\"orz\"" + IdAttribute(id) + "><summary>" + HtmlEscape(caption) + " (" +
                    Decimal(static_cast<std::int64_t>(rulings.size())) + ")</summary>\n<ul>\n";
    for (const ReaderRuling* r : rulings) {
      d += "<li><p><a href=\"/portico.dll?Topic&amp;" + Decimal(r->index) + "\">" +
           HtmlEscape(r->title.empty() ? std::string("Orzeczenie") : r->title) + "</a></p>\n<div class=\"os\">";
      for (const ActLine& l : r->section.lines) d += "<p>" + l.html + "</p>";
      d += "</div>\n<p class=\"od\">Dotyczy: ";
      std::string places;
      if (r->places.empty()) places = "całego aktu";
      for (const ProvisionPath& p : r->places) {
        if (!places.empty()) places += ", ";
        const std::string fragment = ProvisionFragment(p);
        std::string target;
        if (!m_present.count(fragment)) {
          places += HtmlEscape(ProvisionCitation(p));
          continue;
        }
        // On this page a fragment; elsewhere the provision's own address.
        target = m_only.empty() ? "#" + fragment : VersionPath(m_act, m_version) + ProvisionAddress(p);
        places += "<a href=\"" + HtmlEscape(target) + "\">" + HtmlEscape(ProvisionCitation(p)) + "</a>";
      }
      d += places + "</p></li>\n";
    }
    return d + "</ul>\n</details>\n";
  }

  static const char* UnitClass(ProvisionKind kind) {
    switch (kind) {
      case ProvisionKind::kPoint: return " class=\"u-pkt\"";
      case ProvisionKind::kLetter: return " class=\"u-lit\"";
      default: return "";
    }
  }

  // A paragraph of the text: its ids, markup, the markers of the provisions
  // that begin on it, and their rulings behind it.
  std::string Paragraph(const ActLine& line, std::size_t from, const std::string& html) {
    std::string ids, markers, details;
    ProvisionKind kind = line.path.empty() ? ProvisionKind::kArticle : line.path.back().kind;
    std::string id;
    for (std::size_t d = std::max(from, line.firstNew); d < line.path.size(); ++d) {
      ProvisionPath p(line.path.begin(), line.path.begin() + static_cast<long>(d) + 1);
      const std::string fragment = ProvisionFragment(p);
      if (d + 1 == line.path.size()) id = IdAttribute(fragment);
      else ids += m_ids.count(fragment) ? "" : "<span" + IdAttribute(fragment) + "></span>";
      markers += Marker(fragment, p);
      details += Details(fragment, p);
    }
    std::string out = "<p" + id + (line.firstNew < line.path.size() ? UnitClass(kind) : "") + ">" + Anchors(line) +
                      ids + html + markers + "</p>\n";
    return out + details;
  }

  std::string Text() {
    std::string t;
    const std::vector<ActLine>& lines = m_doc.text.lines;
    std::vector<std::size_t> shown;
    if (m_only.empty()) {
      for (std::size_t i = 0; i < lines.size(); ++i) shown.push_back(i);
    } else {
      shown = m_doc.text.LinesOf(m_only);
    }
    bool section = false, titleSkipped = false;
    for (std::size_t i : shown) {
      const ActLine& line = lines[i];
      if (line.heading) {
        if (section) t += "</section>\n";
        section = false;
        if (line.heading == 1 && !titleSkipped) {  // the page's own heading
          titleSkipped = true;
          t += Anchors(line);
          continue;
        }
        const int level = std::max(3, std::min(line.heading, 6));
        t += "<h" + Decimal(level) + ">" + Anchors(line) + line.html + "</h" + Decimal(level) + ">\n";
        continue;
      }
      const bool article = !line.path.empty() && line.firstNew == 0 && line.path[0].kind == ProvisionKind::kArticle;
      if (!article) {
        t += Paragraph(line, 0, line.html);
        continue;
      }
      if (section) t += "</section>\n";
      const ProvisionPath articlePath(line.path.begin(), line.path.begin() + 1);
      const std::string fragment = ProvisionFragment(articlePath);
      t += "<section class=\"art\"" + IdAttribute(fragment) + " aria-labelledby=\"" + fragment + "-h\">\n";
      section = true;
      t += "<h4 id=\"" + fragment + "-h\">" + Anchors(line) + "Art. " + DisplayNumber(line.path[0].number) + "." +
           Marker(fragment, articlePath) + "</h4>\n";
      t += Details(fragment, articlePath);
      std::string rest = line.HtmlFrom(line.articleLength);
      if (!rest.empty() || line.path.size() > 1) t += Paragraph(line, 1, rest);
    }
    if (section) t += "</section>\n";
    return t;
  }

  std::string Related(const std::vector<RelatedAct>& related) const {
    std::string r = "<aside aria-labelledby=\"powiazane\">\n<h2 id=\"powiazane\">Akty powiązane</h2>\n";
    if (related.empty()) return r + "<p>Brak aktów powiązanych.</p>\n</aside>\n";
    r += "<ul>\n";
    for (const RelatedAct& a : related)
      r += "<li><a href=\"" + HtmlEscape(EliPath(a.address)) + "\">" +
           HtmlEscape(a.title.empty() ? EliPath(a.address) : a.title) + "</a></li>\n";
    return r + "</ul>\n</aside>\n";
  }

  const ReaderAct& m_act;
  const std::size_t m_version;
  const ReaderDocument& m_doc;
  const std::vector<ReaderRuling>& m_rulings;
  const ProvisionPath& m_only;
  std::set<std::string> m_present;             // fragments of the provisions in the text
  std::map<std::string, Place> m_places;       // fragment -> the rulings located there
  std::vector<const ReaderRuling*> m_general;  // the whole act, or no place in this text
  std::set<std::string> m_ids;
};

std::string ActName(const ActAddress& a) {
  return std::string(a.journal == 1 ? "M.P. " : "Dz.U. ") + Decimal(a.year) + " poz. " + Decimal(a.position);
}

}  // namespace

std::string ActPageHtml(const CPorticoExtension& extension, const ReaderAct& act, std::size_t version,
                        const ReaderDocument& document, const ProvisionPath& provisions) {
  const CSrvSrv& catalogue = extension.Main();
  std::vector<ReaderRuling> rulings = ReadRulings(catalogue, document.storedName);
  std::vector<RelatedAct> related;
  if (provisions.empty()) related = ReadRelatedActs(catalogue, document, act.address);
  return CActPageWriter(act, version, document, rulings, provisions).Page(related);
}

std::string ReaderAddressOfItem(std::string_view storedName) {
  std::optional<ItemAddress> a = AddressOfItemName(storedName);
  if (!a) return {};
  return EliVersionPath(a->act, a->after);
}

void EliPage(CPorticoExtension& extension, CRequest& request, std::string_view path, std::string_view query) {
  std::optional<EliAddress> address = ParseEliAddress(path);
  if (!address) {
    WriteNotFound(request, "adres " + RequestText(path));
    return;
  }
  extension.WaitReady();
  const CSrvSrv& catalogue = extension.Main();
  std::optional<ReaderAct> act = FindReaderAct(catalogue, address->act);
  if (!act) {
    WriteNotFound(request, "akt " + ActName(address->act));
    return;
  }
  if (address->changes) {
    ChangesPage(extension, request, *act, query);
    return;
  }
  std::optional<std::size_t> version = SelectVersion(*act, *address);
  if (!version) {
    WriteNotFound(request,
                  address->version == EliAddress::Version::kFirst
                      ? "tekst pierwotny aktu " + ActName(address->act)
                      : "wersja aktu " + ActName(address->act) + " po zmianie " + ActName(address->after),
                  EliPath(act->address), "tekst obowiązujący aktu");
    return;
  }
  const DWORD index = act->versions[*version].index;
  // The whole act of a version is the same page whatever address named it.
  CPageCache& cache = extension.ReaderPageCache();
  const bool cacheable = address->provisions.empty() && cache.Budget() > 0;
  if (CPageCache::Entry kept = cacheable ? cache.Find(static_cast<std::int32_t>(index)) : nullptr) {
    WriteUtf8Response(request, "200 OK", "text/html; charset=utf-8", kept->head);
    return;
  }
  std::optional<ReaderDocument> document = ReadReaderDocument(catalogue, index);
  if (!document) {
    WriteNotFound(request, "akt " + ActName(address->act));
    return;
  }
  if (!address->provisions.empty() && document->text.LinesOf(address->provisions).empty()) {
    WriteNotFound(request, ProvisionCitation(address->provisions) + " w akcie " + ActName(address->act),
                  VersionPath(*act, *version), "cały akt");
    return;
  }
  CPageCache::Page page;
  page.head = Utf8FromCp1250(ActPageHtml(extension, *act, *version, *document, address->provisions));
  WriteUtf8Response(request, "200 OK", "text/html; charset=utf-8", page.head);
  if (cacheable && !request.Failed()) cache.Store(static_cast<std::int32_t>(index), std::move(page));
}

}  // namespace portico
