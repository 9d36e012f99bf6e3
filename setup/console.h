// The terminal of the setup program: its messages and questions, which a
// desktop installer shows as message boxes. Texts come in windows-1250 and
// are converted here, when written, to the terminal's character set - the one
// place in the system that converts code pages. Used by SetupProgram.
#pragma once

#include <iconv.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

enum class Answer { Yes, No, Cancel };

class CConsole {
 public:
  // Writes to `out` in `charset` (an iconv name; unknown names get the
  // windows-1250 bytes unchanged) and reads answers from `in`.
  CConsole(const std::string& charset, std::FILE* in, std::FILE* out);
  ~CConsole();
  CConsole(const CConsole&) = delete;
  CConsole& operator=(const CConsole&) = delete;

  // Shows a message: the caption (when there is one) on a line of its own,
  // then the text, then an empty line.
  void Message(std::string_view text, std::string_view caption = {});
  // The same for a text with one "%s" that stands for a path; the path is
  // shown as the file system spells it, unconverted.
  void MessageWithPath(std::string_view format, std::string_view path, std::string_view caption = {});

  // Asks a Yes/No (or Yes/No/Cancel) question and waits for an answer line.
  // An empty line takes `defaultAnswer`; a line that is no answer asks
  // again. The end of the input answers Cancel, or No without Cancel: with
  // nobody to ask, nothing is agreed to. `preset` (an answer given on the
  // command line) is shown after the question instead of reading.
  Answer Ask(std::string_view question, bool withCancel, Answer defaultAnswer, std::optional<Answer> preset);

  // A line of plain ASCII text.
  void Line(std::string_view text);

  // The windows-1250 text in the terminal's character set. Bytes that the
  // character set cannot show become '?' (or a transliteration).
  std::string ToTerminal(std::string_view text) const;

 private:
  std::FILE* m_in;
  std::FILE* m_out;
  iconv_t m_convert = reinterpret_cast<iconv_t>(-1);
};

// The answer an input line gives: t/tak/y/yes, n/nie/no, a/anuluj/c/cancel,
// letters in any case, blanks around ignored. Nothing for an empty line or
// one that is no answer (Cancel only counts when allowed).
std::optional<Answer> ParseAnswer(std::string_view line, bool withCancel);

// The character set of the terminal: the codeset of the locale that
// LC_ALL, LC_CTYPE or LANG select, e.g. "UTF-8", or "ANSI_X3.4-1968" for
// the C locale. Selects that locale for the character type category, which
// a program of one thread may do; call it once, early.
std::string TerminalCharset();

// The codeset part of a locale name ("pl_PL.UTF-8@euro" gives "UTF-8"), or
// nothing when the name has none.
std::optional<std::string> CodesetOfLocaleName(std::string_view name);
