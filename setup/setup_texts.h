// The setup program's own texts: its messages, captions and questions, in
// windows-1250 (setup_texts.cpp is compiled with the windows-1250 execution
// character set). Shown through CConsole, which converts them for the terminal.
#pragma once

#include <cstdint>
#include <string>

namespace setup_texts {

extern const char* const kCaptionInstall;  // caption of the stops before installing
extern const char* const kCaptionSetup;    // caption of the incomplete-installation message

extern const char* const kNeedSystem;
extern const char* const kNeedWebService;
extern const char* const kNoInfFile;       // printf format: %s is the file's path
extern const char* const kCopyTexts;        // printf format: %s is the size (SizeText)
extern const char* const kCopyTextsUnsized;  // the same when the texts' size is not known
extern const char* const kNoMemory;
extern const char* const kIncomplete;
extern const char* const kFirstStart;
extern const char* const kFinished;

// The hints and names of the answers on the terminal ("Tak", "Nie", "Anuluj").
extern const char* const kYes;
extern const char* const kNo;
extern const char* const kCancel;

// A file size as the questions show it, in Polish style: "512 kB" below a
// megabyte (rounded up, so a few bytes are "1 kB"), "4,5 MB" below ten, "130 MB"
// above (1 kB = 1024 bytes, 1 MB = 1024 kB).
std::string SizeText(std::uintmax_t bytes);

}  // namespace setup_texts
