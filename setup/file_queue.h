// The file copies of an installation: the CopyFiles entries of an install
// section are resolved into pairs of source and target, then committed. Used
// by the setup program.
//
//   [DefaultInstall]
//   CopyFiles = Vamu.Lib, @README      ; copy sections, or "@file" for one file
//   [DestinationDirs]
//   Vamu.Lib = %VamuDir%/lib           ; where a copy section's files go
//   DefaultDestDir = %VamuDir%         ; for sections not named and "@file"
//   [SourceDirs]                       ; where they come from, below the
//   Vamu.Lib = lib                     ; setup program's directory
//   [Vamu.Lib]
//   libkasten.so                       ; target name[, source name]
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "setup/inf_file.h"
#include "setup/install_files.h"

struct QueuedCopy {
  std::string source;
  std::string target;
};

struct CopyCounts {
  int copied = 0;
  int kept = 0;    // the file present was as new as the source, or newer
  int failed = 0;
};

class CFileQueue {
 public:
  // Queues the copies that the CopyFiles entries of `section` name. False,
  // with each reason reported, when the section is missing or an entry
  // cannot be resolved (no destination directory, a name that leaves its
  // directory, a target outside the root); every entry that can be resolved
  // is queued all the same.
  bool QueueSection(const CInfFile& inf, std::string_view section, const InstallTarget& target,
                    const Report& report);

  // Makes the destination directory of every queued section (also of a
  // section without files), then copies every queued file whose target is
  // missing or older than its source; a file present that is as new or newer
  // is kept. The copy takes the source's mode and modification time, so a
  // second installation from the same files copies nothing. A directory or a
  // copy that fails is reported and skipped (its target stays as it was); the
  // others go on. False when any failed.
  bool Commit(const Report& report, CopyCounts* counts = nullptr);

  const std::vector<QueuedCopy>& Copies() const { return m_copies; }
  const std::vector<std::string>& Directories() const { return m_dirs; }

 private:
  bool QueueCopySection(const CInfFile& inf, const std::string& copySection, const InstallTarget& target,
                        const Report& report);
  bool QueueFile(const std::string& sourceDir, const std::string& sourceName, const std::string& destDir,
                 const std::string& targetName, const InstallTarget& target, const Report& report);

  std::vector<QueuedCopy> m_copies;
  std::vector<std::string> m_dirs;  // destination directories of the queued sections
};
