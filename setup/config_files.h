// The configuration files of an installation: files that other programs
// read (the nginx site, the systemd unit of the FastCGI host), written from a
// template with the substitutions of the information file. Used by the setup
// program.
//
//   [DefaultInstall]
//   ConfigFiles = Vamu.Nginx
//   [Vamu.Nginx]
//   Template = vamu-nginx.conf      ; below the section's [SourceDirs] entry
//   Target = %NginxDir%/sites-available/vamu.conf
//   Link = %NginxDir%/sites-enabled/vamu.conf   ; symbolic links to the target
//
// Setup puts kSetupMark at the top of every file it writes, and
// replaces only files that begin with it: a file someone else wrote, or one
// whose mark was deleted to keep local changes, is never touched. A link is
// made where there is nothing yet, and accepted where it already points to
// the target; anything else there is left alone and reported.
#pragma once

#include <string>
#include <string_view>

#include "setup/inf_file.h"
#include "setup/install_files.h"

inline constexpr char kSetupMark[] =
    "# Written by the Vamu Qad setup program, which replaces this file when it installs again.\n"
    "# Delete these two lines to keep your changes from being replaced.\n";

// Writes the files of every ConfigFiles section of `section`. A section
// whose target or link belongs to someone else is skipped whole. False, with
// the reasons reported, when any section could not be written.
bool InstallConfigFiles(const CInfFile& inf, std::string_view section, const InstallTarget& target,
                        const Report& report);
