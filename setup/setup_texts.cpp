#include "setup/setup_texts.h"

#include <cstdio>

namespace setup_texts {

const char* const kCaptionInstall = "Instalacja Vamu Qad'98 BETA 3";
const char* const kCaptionSetup = "Setup Vamu Qad'98 BETA 3";

const char* const kNeedSystem = "Aby uruchomić serwis Vamu Qad'97 musisz mieć\nLinux z jądrem 3.10 lub nowszym";
const char* const kNeedWebService = "Musisz najpierw zainstalować serwis WWW (nginx).\nWięcej szczegółów w pliku README.md";
const char* const kNoInfFile = "Nie można znaleźć pliku %s\nInstalacja zakończona niepomyślnie";
const char* const kCopyTexts = "Czy kopiować także teksty aktów (%s)?";
const char* const kCopyTextsUnsized = "Czy kopiować także teksty aktów?";
const char* const kNoMemory = "Brak pamięci do przeprowadzenia instalacji";
const char* const kIncomplete = "Instalacja nie jest kompletna!";
const char* const kFirstStart =
    "Uwaga: Przy pierwszym uruchomieniu Vamu Qad'98\ndokonuje autokonfiguracji.\n\n"
    "Przy starszych komputerach może to potrwać\nkilka minut";
const char* const kFinished =
    "Zakończono instalację serwera aktów normatywnych Vamu Qad'98\n"
    "Aby serwer działał poprawnie należy ponownie uruchomić serwis WWW (nginx i vamufcgi).\nCzy zrobić to teraz?";

const char* const kYes = "Tak";
const char* const kNo = "Nie";
const char* const kCancel = "Anuluj";

std::string SizeText(std::uintmax_t bytes) {
  constexpr std::uintmax_t kKilo = 1024, kMega = 1024 * 1024;
  char text[32];
  if (bytes < kMega) {
    std::snprintf(text, sizeof text, "%ju kB", (bytes + kKilo - 1) / kKilo);
  } else if (bytes < 10 * kMega) {
    const std::uintmax_t tenths = (bytes * 10 + kMega / 2) / kMega;
    std::snprintf(text, sizeof text, "%ju,%ju MB", tenths / 10, tenths % 10);  // a decimal comma
  } else {
    std::snprintf(text, sizeof text, "%ju MB", (bytes + kMega / 2) / kMega);
  }
  return text;
}

}  // namespace setup_texts
