// What both hosts do before they serve: find the registry file and tell the
// extension about it, read the installation directory from it, and know where
// the extension library lies. vamuserver's and vamufcgi's main() call these
// once, before any thread starts (they change the environment).
#pragma once

#include <optional>
#include <string>

namespace host {

// ../lib/libportico.so beside the running program, as installed and as built.
std::string DefaultExtensionPath();

// Makes *registryPath the registry file to use (empty: CRegistry::DefaultPath),
// exports it as VAMU_REGISTRY for the extension, which reads the same file,
// and returns the installation directory it names (value "Dir" of
// kSetupKey). Nothing, with a one-line reason in *error, when the file cannot
// be read or names no directory.
std::optional<std::string> InstallationDirectory(std::string* registryPath, std::string* error);

inline constexpr char kSetupKey[] = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\Vamu Server\\Setup";

}  // namespace host
