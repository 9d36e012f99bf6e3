// A small extension library for the host's tests. The command word of the
// query string (up to the first "&") selects what it does; the argument
// follows the "&". Environment: VAMU_TEST_EXT_REFUSE makes
// GetExtensionVersion fail; VAMU_TEST_EXT_MARKER names a file that gets
// "terminate" and "unload" lines when the server stops the library;
// VAMU_TEST_EXT_STATE ("starting", "nodata") is the state its status entry
// point reports (else serving), and VAMU_TEST_EXT_METRICS_LINES the number
// of filler lines in its figures (else none).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/extension_status.h"
#include "platform/isapi.h"
#include "platform/registry.h"

namespace {

void Mark(const char* what) {
  if (const char* path = std::getenv("VAMU_TEST_EXT_MARKER")) {
    if (std::FILE* f = std::fopen(path, "a")) {
      std::fprintf(f, "%s\n", what);
      std::fclose(f);
    }
  }
}

std::atomic<unsigned> g_served{0};

struct UnloadMarker {
  ~UnloadMarker() { Mark("unload"); }
} g_unloadMarker;

// The log field holds at most 79 characters and the terminating zero.
void SetLogData(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
  std::size_t n = std::min<std::size_t>(text.size(), HSE_LOG_BUFFER_LEN - 1);
  std::memcpy(ecb->lpszLogData, text.data(), n);
  ecb->lpszLogData[n] = '\0';
}

BOOL SendHeader(EXTENSION_CONTROL_BLOCK* ecb, const char* status, const char* text) {
  return ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(status), nullptr,
                                    reinterpret_cast<LPDWORD>(const_cast<char*>(text)));
}

BOOL Write(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
  DWORD n = DWORD(text.size());
  return ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &n, HSE_IO_SYNC);
}

std::string Variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name) {
  char buffer[5000];
  DWORD size = sizeof buffer;
  if (!ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name), buffer, &size)) return "<fail>";
  return buffer;
}

// Writes n bytes of the alphabet pattern in pieces of at most 100000 bytes;
// stops at the first failed write, as the pages do.
void WritePattern(EXTENSION_CONTROL_BLOCK* ecb, long n) {
  std::string piece;
  for (long done = 0; done < n;) {
    long size = std::min(100000L, n - done);
    piece.resize(size);
    for (long i = 0; i < size; ++i) piece[i] = char('a' + (done + i) % 26);
    if (!Write(ecb, piece)) return;
    done += size;
  }
}

DWORD Serve(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string query = ecb->lpszQueryString;
  std::size_t amp = query.find('&');
  std::string command = query.substr(0, amp);
  std::string arg = amp == std::string::npos ? "" : query.substr(amp + 1);
  const char* kText = "Content-type: text/plain\r\n\r\n";

  if (command == "echo") {
    SendHeader(ecb, nullptr, kText);
    std::string out;
    out += "method=" + std::string(ecb->lpszMethod) + "\n";
    out += "query=" + std::string(ecb->lpszQueryString) + "\n";
    out += "pathinfo=" + std::string(ecb->lpszPathInfo) + "\n";
    out += "pathtranslated=" + std::string(ecb->lpszPathTranslated) + "\n";
    out += "contenttype=" + std::string(ecb->lpszContentType) + "\n";
    out += "body=" + std::string(reinterpret_cast<char*>(ecb->lpbData), ecb->cbAvailable) + "\n";
    out += "total=" + std::to_string(ecb->cbTotalBytes) + "\n";
    for (const char* name : {"HTTP_USER_AGENT", "QUERY_STRING", "REQUEST_METHOD", "PATH_INFO", "PATH_TRANSLATED",
                             "HTTP_X_CUSTOM_FIELD", "NO_SUCH_VARIABLE", "URL", "SCRIPT_NAME"})
      out += std::string("var:") + name + "=" + Variable(ecb, name) + "\n";
    out += "registry=" + CRegistry::DefaultPath() + "\n";
    Write(ecb, out);
    return HSE_STATUS_SUCCESS;
  }
  if (command == "big") {
    SendHeader(ecb, nullptr, kText);
    WritePattern(ecb, std::atol(arg.c_str()));
    return HSE_STATUS_SUCCESS;
  }
  if (command == "empty") return 0;
  if (command == "emptystatus") {
    ecb->dwHttpStatusCode = DWORD(std::atoi(arg.c_str()));
    return 0;
  }
  if (command == "headeronly") {
    SendHeader(ecb, nullptr, "Content-type: text/html\r\n\r\n");
    return HSE_STATUS_SUCCESS;
  }
  if (command == "fail") return HSE_STATUS_ERROR;
  if (command == "failafter") {
    SendHeader(ecb, nullptr, kText);
    WritePattern(ecb, std::atol(arg.c_str()));
    return HSE_STATUS_ERROR;
  }
  if (command == "throw") throw std::runtime_error("test failure");
  if (command == "throwint") throw 42;
  if (command == "throwafter") {
    SendHeader(ecb, nullptr, kText);
    WritePattern(ecb, std::atol(arg.c_str()));
    throw std::runtime_error("test failure after output");
  }
  if (command == "pending") return HSE_STATUS_PENDING;
  if (command == "slow") {
    // slow&MS&FILE: FILE is written on entry, so a test knows the request is
    // inside the extension without guessing a time.
    std::size_t flag = arg.find('&');
    if (flag != std::string::npos)
      if (std::FILE* f = std::fopen(arg.substr(flag + 1).c_str(), "w")) {
        std::fputs("entered\n", f);
        std::fclose(f);
      }
    SendHeader(ecb, nullptr, kText);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(arg.c_str())));
    Write(ecb, "done");
    return HSE_STATUS_SUCCESS;
  }
  if (command == "status") {
    std::string status = arg + " Custom";
    SendHeader(ecb, status.c_str(), "Content-type: text/plain\r\nX-Test: yes\r\nContent-Length: 999\r\n\r\n");
    Write(ecb, "status " + arg);
    return HSE_STATUS_SUCCESS;
  }
  if (command == "badstatus") {
    BOOL ok = SendHeader(ecb, "99 Nope", kText);
    Write(ecb, ok ? "accepted" : "refused");
    return HSE_STATUS_SUCCESS;
  }
  if (command == "bodyinheader") {
    SendHeader(ecb, nullptr, "Content-type: text/plain\r\n\r\nHello");
    Write(ecb, " world");
    return HSE_STATUS_SUCCESS;
  }
  if (command == "twoheaders") {
    SendHeader(ecb, nullptr, kText);
    BOOL second = SendHeader(ecb, "404 Not Found", kText);
    Write(ecb, second ? "second=accepted" : "second=refused");
    return HSE_STATUS_SUCCESS;
  }
  if (command == "log") {
    SetLogData(ecb, arg);
    SendHeader(ecb, nullptr, kText);
    Write(ecb, "ok");
    return HSE_STATUS_SUCCESS;
  }
  if (command == "agent") {  // what the site's pages do at the end of every request
    SendHeader(ecb, nullptr, kText);
    Write(ecb, "ok");
    char agent[5000];
    DWORD size = sizeof agent;
    if (ecb->GetServerVariable(ecb->ConnID, const_cast<char*>("HTTP_USER_AGENT"), agent, &size)) SetLogData(ecb, agent);
    ecb->dwHttpStatusCode = 200;
    return HSE_STATUS_SUCCESS;
  }
  if (command == "unterminatedlog") {
    std::memset(ecb->lpszLogData, 'x', HSE_LOG_BUFFER_LEN);
    return 0;
  }
  if (command == "redirect") {
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, const_cast<char*>(arg.c_str()), nullptr,
                               nullptr);
    return HSE_STATUS_SUCCESS;
  }
  // Anything else: like the site's extension, nothing written and result 0.
  return 0;
}

}  // namespace

extern "C" {

BOOL GetExtensionVersion(HSE_VERSION_INFO* version) {
  if (std::getenv("VAMU_TEST_EXT_REFUSE")) return FALSE;
  version->dwExtensionVersion = 0x00020000;
  std::strncpy(version->lpszExtensionDesc, "Vamu test extension", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  return TRUE;
}

DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  ++g_served;
  return Serve(ecb);
}

BOOL GetExtensionStatus(EXTENSION_STATUS* status) {
  if (status->cbSize != sizeof *status) return FALSE;
  const char* state = std::getenv("VAMU_TEST_EXT_STATE");
  status->dwState = !state ? EXTENSION_STATE_SERVING
                    : std::strcmp(state, "starting") == 0 ? EXTENSION_STATE_STARTING
                                                          : EXTENSION_STATE_NO_DATA;
  status->lpszCommands = "echo big slow status log";
  if (!status->lpszMetrics) return TRUE;
  std::string text = "# TYPE vamu_test_served_total counter\nvamu_test_served_total " + std::to_string(g_served.load()) + "\n";
  if (const char* lines = std::getenv("VAMU_TEST_EXT_METRICS_LINES"))
    for (long i = std::atol(lines); i > 0; --i) text += "vamu_test_filler 1\n";
  DWORD capacity = status->cbMetrics;
  status->cbMetrics = DWORD(text.size());
  if (text.size() > capacity) return FALSE;
  std::memcpy(status->lpszMetrics, text.data(), text.size());
  return TRUE;
}

BOOL TerminateExtension(DWORD) {
  Mark("terminate");
  return TRUE;
}

BOOL GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->dwFilterVersion = 0x00020001;
  std::strncpy(version->lpszFilterDesc, "Vamu test filter", SF_MAX_FILTER_DESC_LEN - 1);
  version->dwFlags = SF_NOTIFY_ORDER_LOW | SF_NOTIFY_URL_MAP;
  return TRUE;
}

// URL map: "/filtered.htm" is mapped to the directory's default.htm,
// "/escape.htm" to "outside.txt" beside the directory (which the server must
// refuse), "/filtererror.htm" fails.
DWORD HttpFilterProc(HTTP_FILTER_CONTEXT*, DWORD notification, LPVOID data) {
  if (notification != SF_NOTIFY_URL_MAP) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  auto* map = static_cast<HTTP_FILTER_URL_MAP*>(data);
  std::string url = map->pszURL;
  std::string path = map->pszPhysicalPath;
  std::string dir = path.substr(0, path.rfind('/'));
  if (url == "/filtered.htm") path = dir + "/default.htm";
  else if (url == "/escape.htm") path = dir.substr(0, dir.rfind('/')) + "/outside.txt";
  else if (url == "/filtererror.htm") return SF_STATUS_REQ_ERROR;
  if (path.size() + 1 > map->cbPathBuff) return SF_STATUS_REQ_ERROR;
  std::memcpy(map->pszPhysicalPath, path.c_str(), path.size() + 1);
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

}  // extern "C"
