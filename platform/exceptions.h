// Exceptions of the platform layer: the base of every exception the system
// throws, and the file and memory failures that travel through the storage
// libraries to their callers.
#pragma once

#include <exception>
#include <string>

// Base of all exceptions of the system.
class CException : public std::exception {
 public:
  ~CException() override = default;
  // Human-readable text for logs and tool messages.
  virtual std::string GetErrorMessage() const = 0;
  const char* what() const noexcept override;

 private:
  mutable std::string m_what;
};

// A failure of the file layer. `m_cause` follows the causes of the file layer
// the formats were designed on; `m_lOsError` keeps errno when there is one.
class CFileException : public CException {
 public:
  enum Cause {
    none = 0,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile,
  };

  CFileException(int cause = none, int osError = 0, std::string fileName = {});
  std::string GetErrorMessage() const override;
  // Maps an errno value to the nearest cause.
  static int OsErrorToCause(int osError);
  // Throws a CFileException for errno value `osError`.
  [[noreturn]] static void ThrowOsError(int osError, const std::string& fileName = {});

  int m_cause;
  int m_lOsError;
  std::string m_strFileName;
};

// An allocation that failed.
class CMemoryException : public CException {
 public:
  std::string GetErrorMessage() const override;
};
