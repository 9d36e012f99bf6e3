#include "portico/tests/harness.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "concorda/doc_server.h"
#include "kasten/file_server.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "portico/settings.h"

namespace portico::test {

namespace fs = std::filesystem;

namespace {

constexpr char kFileServerKey[] = "HKEY_LOCAL_MACHINE\\Software\\Kolm\\File Server\\";

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TestSite::TestSite() {
  std::optional<std::string> temp = CreateTempFile(TempDirectory());
  fs::remove(*temp);
  root = *temp;
  dir = root + "/site";
  fs::create_directories(dir);
  registryPath = root + "/registry.reg";
  m_registry.SetString(SettingsKey("Setup"), "Dir", dir);
  WriteRegistry();
}

TestSite::~TestSite() {
  std::error_code ec;
  fs::remove_all(root, ec);
}

void TestSite::WriteBase(const std::string& path, const std::vector<Item>& items, const GUID* guid) {
  std::remove(path.c_str());  // a new base, never added to an old one
  GUID fresh = NewGuid();
  CDocServer base(path.c_str(), guid ? guid : &fresh, CFile::modeCreate | CFile::modeReadWrite);
  for (const Item& item : items) {
    CMemFile file(4096);
    if (!item.text.empty()) file.Write(item.text.data(), static_cast<UINT>(item.text.size()));
    file.SeekToBegin();
    _FILEITEM* descriptor = MakeFileItem(item.name.c_str());
    base.AddFile(file, descriptor, item.keys.c_str(), 2);
    CFileServer::FreeFileItem(descriptor);
  }
  base.Close();
}

std::string TestSite::AddBase(const std::vector<Item>& items, const std::string& catalogue) {
  std::string path = root + "/base" + std::to_string(m_bases++) + ".vq";
  WriteBase(path, items);
  m_registry.SetString(kFileServerKey + catalogue, std::to_string(m_bases), path);
  WriteRegistry();
  return path;
}

void TestSite::AddMissingBase(const std::string& catalogue) {
  m_registry.SetString(kFileServerKey + catalogue, "missing" + std::to_string(m_bases++),
                       root + "/no-such-base.vq");
  WriteRegistry();
}

void TestSite::SetSetting(const std::string& section, const std::string& name, const std::string& value) {
  m_registry.SetString(SettingsKey(section), name, value);
  WriteRegistry();
}

void TestSite::RemoveSetting(const std::string& section) {
  // Rebuilt without the section: the registry class has no removal.
  std::string text = m_registry.Serialize();
  std::string key = "[" + SettingsKey(section) + "]";
  std::size_t at = text.find(key);
  if (at != std::string::npos) {
    std::size_t next = text.find("\n[", at + 1);
    text.erase(at, next == std::string::npos ? std::string::npos : next + 1 - at);
  }
  m_registry = CRegistry::Parse(text);
  WriteRegistry();
}

void TestSite::WriteStatic(const std::string& name, const std::string& text) { WriteFile(dir + "/" + name, text); }

void TestSite::WriteRegistry() {
  // Replaced by renaming, as the system's writers do, so readers see a new file.
  std::string temp = registryPath + ".new";
  WriteFile(temp, m_registry.Serialize());
  fs::rename(temp, registryPath);
  ::setenv("VAMU_REGISTRY", registryPath.c_str(), 1);
}

TestRequest::TestRequest(const std::string& query, const std::string& method, const std::string& pathTranslated)
    : m_method(method), m_query(query), m_path(pathTranslated) {
  variables["HTTP_USER_AGENT"] = "test-agent";
  m_ecb.cbSize = sizeof m_ecb;
  m_ecb.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  m_ecb.ConnID = this;
  m_ecb.dwHttpStatusCode = 0;
  m_ecb.lpszMethod = m_method.data();
  m_ecb.lpszQueryString = m_query.data();
  m_ecb.lpszPathInfo = m_path.data();
  m_ecb.lpszPathTranslated = m_path.data();
  m_ecb.lpszContentType = const_cast<char*>("");
  m_ecb.GetServerVariable = &GetServerVariable;
  m_ecb.WriteClient = &WriteClient;
  m_ecb.ReadClient = &ReadClient;
  m_ecb.ServerSupportFunction = &ServerSupport;
}

TestRequest* TestRequest::Self(HCONN conn) { return static_cast<TestRequest*>(conn); }

BOOL TestRequest::GetServerVariable(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size) {
  TestRequest* self = Self(conn);
  auto it = self->variables.find(name);
  if (it == self->variables.end()) return FALSE;
  DWORD needed = static_cast<DWORD>(it->second.size() + 1);
  if (*size < needed) {
    *size = needed;
    return FALSE;
  }
  std::memcpy(buffer, it->second.c_str(), needed);
  *size = needed;
  return TRUE;
}

BOOL TestRequest::WriteClient(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD) {
  TestRequest* self = Self(conn);
  if (self->beforeWrite) self->beforeWrite();
  if (self->writeSizes.size() >= self->failAfterWrites) {
    ++self->failedWrites;
    return FALSE;
  }
  self->body.append(static_cast<const char*>(buffer), *bytes);
  self->writeSizes.push_back(*bytes);
  return TRUE;
}

BOOL TestRequest::ReadClient(HCONN, LPVOID, LPDWORD size) {
  *size = 0;
  return TRUE;
}

BOOL TestRequest::ServerSupport(HCONN conn, DWORD request, LPVOID status, LPDWORD, LPDWORD dataType) {
  TestRequest* self = Self(conn);
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return FALSE;
  ++self->headerCount;
  self->statusText = status ? static_cast<const char*>(status) : "";
  self->header = dataType ? reinterpret_cast<const char*>(dataType) : "";
  return TRUE;
}

Response Query(CPorticoExtension& extension, TestRequest& request) {
  Response r;
  r.result = extension.HttpExtensionProc(request.Ecb());
  r.header = request.header;
  r.statusText = request.statusText;
  r.headerCount = request.headerCount;
  r.body = request.body;
  r.logData = request.Ecb()->lpszLogData;
  r.status = request.Ecb()->dwHttpStatusCode;
  r.writes = request.writeSizes.size();
  return r;
}

Response Query(CPorticoExtension& extension, const std::string& query, const std::string& method,
             const std::string& pathTranslated) {
  TestRequest request(query, method, pathTranslated);
  return Query(extension, request);
}

std::unique_ptr<CPorticoExtension> StartExtension(const TestSite& site, bool wait) {
  ::setenv("VAMU_REGISTRY", site.registryPath.c_str(), 1);
  auto extension = std::make_unique<CPorticoExtension>();
  extension->SetCacheDirectory(site.root);
  HSE_VERSION_INFO info{};
  extension->GetExtensionVersion(&info);
  if (wait) extension->WaitReady();
  return extension;
}

std::string Noise(std::size_t n, unsigned seed) {
  std::string s(n, ' ');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>('a' + (x >> 24) % 26);
  }
  return s;
}

MessageCapture::MessageCapture() {
  static std::mutex mutex;
  m_previous = SetMessageSink([this](const std::string& text, const std::string& caption) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(caption + ": " + text);
  });
}

MessageCapture::~MessageCapture() { SetMessageSink(m_previous); }

}  // namespace portico::test
