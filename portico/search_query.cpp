#include "portico/search_query.h"

#include <algorithm>

#include "concorda/query_markers.h"
#include "portico/text.h"

namespace portico {

namespace {

std::int32_t NumberField(std::string_view arguments, std::string_view name, std::int32_t absent) {
  std::optional<std::string_view> value = FieldValue(arguments, name);
  return value ? DecimalValue(*value) : absent;
}

// Removes the first field `name` from `text`, from `from` (the position where
// removal starts, given the position of the name) up to the next "&" behind
// the name, or to the end.
void EraseField(std::string& text, std::size_t from, std::size_t nameAt, std::size_t nameSize) {
  std::size_t end = text.find('&', nameAt + nameSize);
  text.erase(from, end == std::string::npos ? std::string::npos : end - from);
}

// The key form: "&Start=..." including its "&"; a field without one stays.
void EraseAmpField(std::string& text, std::string_view field) {
  std::size_t at = text.find(field);
  if (at != std::string::npos) EraseField(text, at, at, field.size());
}

// The trailer form: the field with the "&" before it, or from the name when
// no "&" stands there.
void EraseNamedField(std::string& text, std::string_view name) {
  std::size_t at = text.find(name);
  if (at == std::string::npos) return;
  std::size_t from = at > 0 && text[at - 1] == '&' ? at - 1 : at;
  EraseField(text, from, at, name.size());
}

}  // namespace

SearchFields ParseSearchFields(std::string_view arguments) {
  SearchFields f;
  if (std::optional<std::string_view> pattern = FieldValue(arguments, "Pattern=")) {
    f.strPattern = PercentDecode(*pattern, true);
    // The catalogue takes the pattern as a C string: a decoded zero ends it.
    f.strPattern.resize(std::min(f.strPattern.size(), f.strPattern.find('\0')));
  }
  f.nMode = NumberField(arguments, "Zmiany=", 0);
  f.nJournals = NumberField(arguments, "TypyDoc=", 0);

  f.nFirstYear = NumberField(arguments, "OD=", 0);
  if (f.nFirstYear > 99) f.nFirstYear -= 1900;
  if (f.nFirstYear < 0) f.nFirstYear = 0;

  f.nLastYear = NumberField(arguments, "DO=", 99);
  if (f.nLastYear > 200) f.nLastYear -= 1900;
  f.nLastYear = std::clamp(f.nLastYear, 0, 99);

  f.nFirstPosition = std::clamp(NumberField(arguments, "ODP=", 1), 1, 2000);
  f.nLastPosition = std::clamp(NumberField(arguments, "DOP=", 2000), 1, 2000);
  f.nFirstNumber = std::clamp(NumberField(arguments, "ODN=", 1), 1, 2000);
  f.nLastNumber = std::clamp(NumberField(arguments, "DON=", 2000), 1, 2000);
  f.nStart = std::max(NumberField(arguments, "Start=", 1), 1);
  f.nLength = std::clamp(NumberField(arguments, "Length=", 20), 1, 100);
  f.bForms = FieldValue(arguments, "Formy=") == std::string_view("1");
  f.bFold = FieldValue(arguments, "BezZnakow=") == std::string_view("1");
  f.bFragments = FieldValue(arguments, "Fragmenty=") == std::string_view("1");
  return f;
}

std::string WordQuery(const SearchFields& f) {
  if (!f.bForms && !f.bFold) return f.strPattern;
  return concorda::MarkPlainWords(f.strPattern, f.bForms, f.bFold);
}

void SearchBounds(const SearchFields& f, DWORD journal, _RNP* lower, _RNP* upper) {
  *lower = _RNP::Make(journal, static_cast<DWORD>(f.nFirstYear), static_cast<DWORD>(f.nFirstNumber),
                      static_cast<DWORD>(f.nFirstPosition), 0);
  *upper = _RNP::Make(journal, static_cast<DWORD>(f.nLastYear), static_cast<DWORD>(f.nLastNumber),
                      static_cast<DWORD>(f.nLastPosition), 1);
}

std::string CacheQuery(std::string_view arguments) {
  std::string query(arguments);
  EraseAmpField(query, "&Start=");
  EraseAmpField(query, "&Length=");
  return query;
}

ResultPage PageOf(const SearchFields& f, std::size_t total) {
  ResultPage page;
  const std::size_t first = static_cast<std::size_t>(f.nStart) - 1;
  if (first >= total) {  // nothing to show; the page list is empty
    page.first = page.end = first;
    return page;
  }
  page.first = first;
  page.end = first + std::min(static_cast<std::size_t>(f.nLength), total - first);
  return page;
}

std::string ResultsHeader(std::size_t total, const ResultPage& page) {
  return "Dokumenty znalezione (" + Decimal(static_cast<std::int64_t>(total)) + " pozycji) Wyświetlono od pozycji " +
         Decimal(static_cast<std::int64_t>(page.first) + 1) + " do pozycji " +
         Decimal(static_cast<std::int64_t>(page.end));
}

std::string NextPageTrailer(std::string_view arguments, const SearchFields& f, std::size_t total,
                            const ResultPage& page) {
  if (page.end >= total) return {};
  // The query goes into a script string: it must neither end the string nor
  // the script element, whatever the request holds.
  std::string query = ScriptStringEscape(arguments);
  EraseNamedField(query, "Start=");
  EraseNamedField(query, "Length=");
  const std::size_t next = std::min(static_cast<std::size_t>(f.nLength), total - page.end);
  const std::string url = "portico.dll?Search&" + query + "&Start=" + Decimal(static_cast<std::int64_t>(page.end) + 1) +
                          "&Length=";
  return " <script language=\"JavaScript\">\r\n<!--\r\nfunction GetNext()\r\n{\r\n"
         "val=\"" + url + "\";\r\n"
         "val+=document.form1.len.value;\r\n"
         "window.location.href=val;\r\n}\r\n//--></script>"
         "<P><FORM NAME=\"form1\" onSubmit=\"GetNext()\"><INPUT TYPE=BUTTON VALUE=\"  Wyświetl następne "
         "\" onClick=\"GetNext()\">  <INPUT NAME=\"len\" TYPE=TEXT SIZE=\"3\" VALUE=\"" +
         Decimal(static_cast<std::int64_t>(next)) + "\"> pozycji</FORM>";
}

}  // namespace portico
