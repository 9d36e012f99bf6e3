// The static files of the installation directory (frameset, search form,
// scripts, images): maps request paths to files and never to anything outside
// the directory. Used by the HTTP server on its worker threads; const after
// construction, so safe from any number of threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

// Decodes the path of a request target ("/a%20b/c.htm") into "/a b/c.htm":
// percent escapes decoded, empty segments dropped. Nothing (a bad request)
// for a path that does not start with "/", a broken escape, a NUL byte, or a
// "." or ".." segment, so that no later step can climb out of a directory.
std::optional<std::string> DecodeUrlPath(std::string_view rawPath);

// Content type by file name ending, ignoring case. Text types carry the
// site's one code page, windows-1250.
std::string ContentTypeFor(std::string_view fileName);

class StaticFiles {
 public:
  // `root` is the installation directory; it is resolved (symlinks, "..")
  // once, here. Valid() is false when it is not an existing directory.
  explicit StaticFiles(const std::string& root);
  bool Valid() const { return !m_root.empty(); }
  const std::string& Root() const { return m_root; }

  // The file a decoded URL path names before any filter has seen it.
  std::string PhysicalPathFor(const std::string& decodedUrl) const;

  struct Found {
    int status = 404;        // 200 (the fields below set), 403 or 404
    std::string path;        // fully resolved, inside the root
    long long size = 0;
    long long modified = 0;  // seconds since 1970
  };
  // Resolves a physical path: a directory means its "default.htm"; a name
  // that does not exist is looked up again ignoring letter case (the site's
  // pages come from a system whose file names ignore case). Only a regular,
  // readable file whose resolved path lies inside the root is found; hidden
  // names (starting with ".") are not served.
  Found Resolve(const std::string& physicalPath) const;

 private:
  bool Contains(const std::string& resolved) const;
  std::optional<std::string> FindIgnoringCase(const std::string& physicalPath) const;

  std::string m_root;  // resolved, no trailing "/"
};

}  // namespace host
