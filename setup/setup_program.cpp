#include "setup/setup_program.h"

#include <sys/stat.h>

#include <cstdint>
#include <new>
#include <set>

#include "platform/paths.h"
#include "platform/registry.h"
#include "setup/config_files.h"
#include "setup/file_queue.h"
#include "setup/inf_file.h"
#include "setup/reg_section.h"
#include "setup/restart.h"
#include "setup/setup_texts.h"
#include "setup/system_checks.h"

namespace {

constexpr char kInfName[] = "VamuQad.inf";

// The size of the files that the full installation copies and the default
// one does not (the texts of the acts), as they are in the distribution;
// 0 when none of them is there.
std::uintmax_t FullInstallExtraSize(const CInfFile& inf, const InstallTarget& target) {
  const Report quiet = [](const std::string&) {};
  CFileQueue full, partial;
  full.QueueSection(inf, "FullInstall", target, quiet);
  partial.QueueSection(inf, "DefaultInstall", target, quiet);
  std::set<std::string> both;
  for (const QueuedCopy& copy : partial.Copies()) both.insert(copy.source);
  std::uintmax_t total = 0;
  for (const QueuedCopy& copy : full.Copies()) {
    struct stat st;
    if (!both.count(copy.source) && ::stat(copy.source.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      total += static_cast<std::uintmax_t>(st.st_size);
  }
  return total;
}

}  // namespace

SetupExit RunSetup(const SetupOptions& options, const std::string& programPath, CConsole& console,
                   std::FILE* diagnostics) {
  using namespace setup_texts;
  Report report = [&](const std::string& why) { std::fprintf(diagnostics, "setup: %s\n", why.c_str()); };
  const std::string& root = options.root;

  if (!RunningOnSupportedSystem()) {
    console.Message(kNeedSystem, kCaptionInstall);
    return kSetupIncomplete;
  }
  if (!WebServiceInstalled(root)) {
    report("no web service: " + NginxDirectory(root) + " is not a directory");
    console.Message(kNeedWebService);
    return kSetupIncomplete;
  }

  InstallTarget target;
  target.sourceDir = DirectoryOf(programPath);
  target.root = root;
  target.registryFile = !options.registryFile.empty() ? options.registryFile
                                                       : BelowRoot(root, CRegistry::DefaultPath());
  std::string infPath = target.sourceDir + "/" + kInfName;
  std::string why;
  std::optional<CInfFile> inf = CInfFile::Open(infPath, &why);
  if (!inf) {
    report(why);
    console.MessageWithPath(kNoInfFile, infPath, kCaptionInstall);
    return kSetupIncomplete;
  }
  // The directory numbers of the installer's syntax: 1 is where the
  // information file came from, 24 the root of the system disk - here the
  // root the installation goes below, empty for "/" so "%24%/opt" is "/opt".
  inf->Define("1", target.sourceDir);
  inf->Define("24", root == "/" ? "" : root);
  inf->Define("VamuRegistry", target.registryFile);
  inf->Define("NginxDir", NginxDirectory(root));

  const std::uintmax_t textsSize = FullInstallExtraSize(*inf, target);
  std::string question = kCopyTextsUnsized;
  if (textsSize > 0) {
    question = kCopyTexts;
    question.replace(question.find("%s"), 2, SizeText(textsSize));
  }
  Answer texts = console.Ask(question, true, Answer::No, options.copyTexts);
  if (texts == Answer::Cancel) return kSetupCancelled;
  const char* section = texts == Answer::Yes ? "FullInstall" : "DefaultInstall";

  bool copied = false;
  bool configured = false;
  try {
    CFileQueue queue;
    CopyCounts counts;
    copied = queue.QueueSection(*inf, section, target, report);
    copied &= queue.Commit(report, &counts);
    console.Line(std::string(section) + ": " + std::to_string(counts.copied) + " files copied, " +
                 std::to_string(counts.kept) + " as new or newer kept, " + std::to_string(counts.failed) +
                 " failed");
    bool registered = InstallAddReg(*inf, section, target.registryFile, report);
    configured = InstallConfigFiles(*inf, section, target, report) && registered;
  } catch (const std::bad_alloc&) {
    console.Message(kNoMemory);
    return kSetupIncomplete;
  }

  if (!copied || !configured) {
    console.Message(kIncomplete, kCaptionSetup);
    if (!configured) return kSetupIncomplete;
  }
  console.Message(kFirstStart);

  if (console.Ask(kFinished, false, Answer::Yes, options.restart) == Answer::Yes) {
    if (!options.restartCommands.empty()) {
      RunRestart(ShellRestart(options.restartCommands), console);
    } else if (root == "/") {
      RunRestart(DefaultRestart(), console);
    } else {
      // Services of the system do not run from a root of a test.
      console.Line("restart skipped: installed below " + root);
    }
  }
  return copied ? kSetupComplete : kSetupIncomplete;
}
