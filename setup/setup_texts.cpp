#include "setup/setup_texts.h"

namespace setup_texts {

const char* const kCaptionInstall = "Instalacja Vamu Qad'98 BETA 3";
const char* const kCaptionSetup = "Setup Vamu Qad'98 BETA 3";

const char* const kNeedSystem = "Aby uruchomić serwis Vamu Qad'97 musisz mieć\nWindows 95 lub Windows NT 4.0";
const char* const kNeedWebService = "Musisz najpierw zainstalować serwis WWW.\nWięcej szczegółów w pliu Readme.txt";
const char* const kNoInfFile = "Nie można znaleść pliku %s\nInstalacja zakończona niepomyślnie";
const char* const kCopyTexts = "Czy kopiować także teksty aktów (130 MB)?";
const char* const kNoMemory = "Brak pamięci do przeprowadzenia instalacji";
const char* const kIncomplete = "Instalacja nie jest kompletna!";
const char* const kFirstStart =
    "Uwaga: Przy pierwszym uruchomieniu Vamu Qad'98\ndokonuje autokonfiguracji.\n\n"
    "Przy starszych komputerach może to potrwać\nkilka minut";
const char* const kFinished =
    "Zakończono instalację serwera aktów normatywnych Vamu Qad'98\n"
    "Aby serwer działał poprawnie należy dokonać restartu systemu.\nCzy zrobić to teraz?";

const char* const kYes = "Tak";
const char* const kNo = "Nie";
const char* const kCancel = "Anuluj";

}  // namespace setup_texts
