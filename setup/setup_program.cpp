#include "setup/setup_program.h"

#include <new>

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

  Answer texts = console.Ask(kCopyTexts, true, Answer::No, options.copyTexts);
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
