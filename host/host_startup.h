// What both hosts do before they serve: find the registry file and tell the
// extension about it, read the installation directory from it, and know where
// the extension library lies. vamuserver's and vamufcgi's main() call these
// once, before any thread starts (they change the environment).
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace host {

class AccessLog;
class ExtensionModule;
class StaticFiles;

// Exit status of a host that could not start.
inline constexpr int kStartFailure = 1;

// Makes the process keep the memory its requests free for the requests after
// them instead of handing it back to the system: a search takes and frees
// lists of megabytes, and memory handed back is taken again page by page,
// a page fault a page, and is handed back with a flush of every core's
// address cache. The resident size then stays near the largest it has been.
void KeepFreedMemory();

// ../lib/libportico.so beside the running program, as installed and as built.
std::string DefaultExtensionPath();

// Makes *registryPath the registry file to use (empty: CRegistry::DefaultPath),
// names it as the registry file of the process for the extension, which reads
// the same file (CRegistry::UseForThisProcess),
// and returns the installation directory it names (value "Dir" of
// kSetupKey). Nothing, with a one-line reason in *error, when the file cannot
// be read or names no directory.
std::optional<std::string> InstallationDirectory(std::string* registryPath, std::string* error);

// The site as both hosts open it: the installation directory the registry
// names (its files) and the access log. Null, with a one-line reason in
// *error, when either cannot be opened.
std::unique_ptr<StaticFiles> OpenSite(std::string* registryPath, const std::string& logDestination, AccessLog& log,
                                      std::string* error);

// Loads the extension (*extensionPath, the default path when empty).
bool LoadExtension(std::string* extensionPath, ExtensionModule& module, std::string* error);

// The end of serving: the extension gets its stop call and is unloaded; the
// exit status. When requests are still inside it (`drained` false), it stays
// loaded and the process ends at once, without running their destructors.
int FinishServing(ExtensionModule& module, bool drained);

inline constexpr char kSetupKey[] = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup";

}  // namespace host
