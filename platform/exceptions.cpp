#include "platform/exceptions.h"

#include <cerrno>
#include <cstring>

const char* CException::what() const noexcept {
  try {
    m_what = GetErrorMessage();
  } catch (...) {
    return "exception";
  }
  return m_what.c_str();
}

CFileException::CFileException(int cause, int osError, std::string fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

std::string CFileException::GetErrorMessage() const {
  static const char* const kCauses[] = {
      "no error",       "file error",        "file not found",     "bad path",
      "too many open files", "access denied", "invalid file",      "cannot remove current directory",
      "directory full", "bad seek",          "hardware I/O error", "sharing violation",
      "lock violation", "disk full",         "unexpected end of file",
  };
  std::string text = (m_cause >= 0 && m_cause <= endOfFile) ? kCauses[m_cause] : "file error";
  if (m_lOsError != 0) {
    text += " (";
    text += std::strerror(m_lOsError);
    text += ")";
  }
  if (!m_strFileName.empty()) text += ": " + m_strFileName;
  return text;
}

int CFileException::OsErrorToCause(int osError) {
  switch (osError) {
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return badPath;
    case EMFILE:
    case ENFILE: return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return accessDenied;
    case EWOULDBLOCK: return sharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return diskFull;
    case ESPIPE:
    case EINVAL: return badSeek;
    case EIO: return hardIO;
    default: return genericException;
  }
}

void CFileException::ThrowOsError(int osError, const std::string& fileName) {
  throw CFileException(OsErrorToCause(osError), osError, fileName);
}

std::string CMemoryException::GetErrorMessage() const { return "out of memory"; }
