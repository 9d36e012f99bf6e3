#include "setup/console.h"

#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <vector>

#include "setup/setup_texts.h"

CConsole::CConsole(const std::string& charset, std::FILE* in, std::FILE* out) : m_in(in), m_out(out) {
  m_convert = ::iconv_open((charset + "//TRANSLIT").c_str(), "CP1250");
  if (m_convert == reinterpret_cast<iconv_t>(-1)) m_convert = ::iconv_open(charset.c_str(), "CP1250");
}

CConsole::~CConsole() {
  if (m_convert != reinterpret_cast<iconv_t>(-1)) ::iconv_close(m_convert);
}

std::string CConsole::ToTerminal(std::string_view text) const {
  if (m_convert == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  ::iconv(m_convert, nullptr, nullptr, nullptr, nullptr);  // initial state
  std::string out;
  std::vector<char> buf(256);
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char* dst = buf.data();
    std::size_t dstLeft = buf.size();
    std::size_t r = ::iconv(m_convert, &in, &inLeft, &dst, &dstLeft);
    out.append(buf.data(), buf.size() - dstLeft);
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // A byte windows-1250 leaves undefined, or a character the terminal
    // cannot show and that has no transliteration.
    out += '?';
    ++in;
    --inLeft;
  }
  char* dst = buf.data();
  std::size_t dstLeft = buf.size();
  ::iconv(m_convert, nullptr, nullptr, &dst, &dstLeft);  // shift back to the initial state
  out.append(buf.data(), buf.size() - dstLeft);
  return out;
}

void CConsole::Message(std::string_view text, std::string_view caption) {
  std::string shown;
  if (!caption.empty()) shown += ToTerminal(caption) + "\n";
  shown += ToTerminal(text) + "\n\n";
  std::fputs(shown.c_str(), m_out);
  std::fflush(m_out);
}

void CConsole::MessageWithPath(std::string_view format, std::string_view path, std::string_view caption) {
  std::size_t at = format.find("%s");
  if (at == std::string_view::npos) return Message(format, caption);
  std::string shown;
  if (!caption.empty()) shown += ToTerminal(caption) + "\n";
  shown += ToTerminal(format.substr(0, at));
  shown += path;
  shown += ToTerminal(format.substr(at + 2)) + "\n\n";
  std::fputs(shown.c_str(), m_out);
  std::fflush(m_out);
}

void CConsole::Line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), m_out);
  std::fputc('\n', m_out);
  std::fflush(m_out);
}

namespace {

const char* AnswerName(Answer a) {
  switch (a) {
    case Answer::Yes: return setup_texts::kYes;
    case Answer::No: return setup_texts::kNo;
    case Answer::Cancel: return setup_texts::kCancel;
  }
  return "";
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view line) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  return line;
}

}  // namespace

std::optional<Answer> ParseAnswer(std::string_view line, bool withCancel) {
  std::string word = Lower(Trim(line));
  if (word == "t" || word == "tak" || word == "y" || word == "yes") return Answer::Yes;
  if (word == "n" || word == "nie" || word == "no") return Answer::No;
  if (withCancel && (word == "a" || word == "anuluj" || word == "c" || word == "cancel")) return Answer::Cancel;
  return std::nullopt;
}

Answer CConsole::Ask(std::string_view question, bool withCancel, Answer defaultAnswer,
                     std::optional<Answer> preset) {
  std::string prompt = ToTerminal(question) + "\n[" + setup_texts::kYes + "/" + setup_texts::kNo;
  if (withCancel) prompt += std::string("/") + setup_texts::kCancel;
  prompt += std::string("] (") + AnswerName(defaultAnswer) + "): ";
  std::fputs(prompt.c_str(), m_out);
  if (preset) {
    std::fprintf(m_out, "%s\n\n", AnswerName(*preset));
    std::fflush(m_out);
    return *preset;
  }
  std::fflush(m_out);
  for (;;) {
    // Reads one line; the rest of an overlong line is dropped.
    char buf[256];
    if (!std::fgets(buf, sizeof buf, m_in)) {
      Answer a = withCancel ? Answer::Cancel : Answer::No;
      std::fprintf(m_out, "%s\n\n", AnswerName(a));
      std::fflush(m_out);
      return a;
    }
    std::string line = buf;
    if (line.empty() || line.back() != '\n') {
      for (int c; (c = std::fgetc(m_in)) != EOF && c != '\n';) {
      }
    }
    if (Trim(line).empty()) {
      std::fputc('\n', m_out);
      std::fflush(m_out);
      return defaultAnswer;
    }
    if (auto a = ParseAnswer(line, withCancel)) {
      std::fputc('\n', m_out);
      std::fflush(m_out);
      return *a;
    }
    std::fputs(prompt.c_str(), m_out);
    std::fflush(m_out);
  }
}

std::optional<std::string> CodesetOfLocaleName(std::string_view name) {
  std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string_view codeset = name.substr(dot + 1);
  codeset = codeset.substr(0, codeset.find('@'));
  if (codeset.empty()) return std::nullopt;
  return std::string(codeset);
}

std::string TerminalCharset() {
  if (std::setlocale(LC_CTYPE, "")) return nl_langinfo(CODESET);
  // The locale is not installed: its name still tells the codeset.
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (!value || !*value) continue;
    if (auto codeset = CodesetOfLocaleName(value)) return *codeset;
    break;
  }
  return nl_langinfo(CODESET);
}
