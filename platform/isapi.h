// The web-server extension and filter interface: the control block a server
// hands to an extension for each request, the version records, and the entry
// points an extension library exports. `portico` implements the entry points;
// the servers in host/ load it and call them.
//
// Layouts and values are those of the published interface, so the extension
// reads like one written for any server that speaks it. C linkage throughout:
// the server finds the entry points with dlsym under their plain names.
#pragma once

#include <cstdint>

#include "platform/windows_types.h"

extern "C" {

using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using PVOID = void*;
using ULONG_PTR = std::uintptr_t;
// A server's handle for one request; the extension passes it back to every callback.
using HCONN = void*;

// ---- Extension -------------------------------------------------------------

#define HSE_VERSION_MAJOR 2
#define HSE_VERSION_MINOR 0
#define HSE_MAX_EXT_DLL_NAME_LEN 256
#define HSE_LOG_BUFFER_LEN 80

// Results of HttpExtensionProc.
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_SUCCESS_AND_KEEP_CONN 2
#define HSE_STATUS_PENDING 3
#define HSE_STATUS_ERROR 4

// Requests of ServerSupportFunction.
#define HSE_REQ_SEND_URL_REDIRECT_RESP 1
#define HSE_REQ_SEND_URL 2
// lpvBuffer: status text ("200 OK" when null); lpdwDataType: the header text,
// "Name: value\r\n" lines ending with an empty line, optionally followed by body bytes.
#define HSE_REQ_SEND_RESPONSE_HEADER 3
#define HSE_REQ_DONE_WITH_SESSION 4

// Flags of WriteClient.
#define HSE_IO_SYNC 0x00000001
#define HSE_IO_ASYNC 0x00000002

// Flags of TerminateExtension.
#define HSE_TERM_ADVISORY_UNLOAD 0x00000001
#define HSE_TERM_MUST_UNLOAD 0x00000002

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  CHAR lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};
using LPHSE_VERSION_INFO = HSE_VERSION_INFO*;

// One request. The server owns the block and every string it points to; they
// stay valid until HttpExtensionProc returns. The callbacks may be called from
// the thread running HttpExtensionProc only, and only during that call.
struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;            // size of this structure
  DWORD dwVersion;         // interface version, HIWORD major, LOWORD minor
  HCONN ConnID;            // pass to every callback
  DWORD dwHttpStatusCode;  // status of the request, for the server's log; 200 at entry
  CHAR lpszLogData[HSE_LOG_BUFFER_LEN];  // text the server logs with the request
  LPSTR lpszMethod;          // "GET", "POST", ...
  LPSTR lpszQueryString;     // text behind "?", undecoded; "" when none
  LPSTR lpszPathInfo;        // extra path behind the extension's name, "/NAME.ATT"; "" when none
  LPSTR lpszPathTranslated;  // the path info mapped into the installation directory
  DWORD cbTotalBytes;        // request body length
  DWORD cbAvailable;         // body bytes already in lpbData
  LPBYTE lpbData;
  LPSTR lpszContentType;     // of the request body; "" when none

  // Copies a server variable, NUL-terminated, into lpvBuffer of *lpdwSize bytes
  // and sets *lpdwSize to the bytes copied (NUL included). A buffer too small
  // fails and sets *lpdwSize to the size needed; an unknown variable fails.
  BOOL (*GetServerVariable)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  // Writes *lpdwBytes bytes to the client before returning (dwReserved:
  // HSE_IO_SYNC); FALSE once the client is gone.
  BOOL (*WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  // Reads further body bytes; *lpdwSize 0 at the end of the body.
  BOOL (*ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL (*ServerSupportFunction)(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer, LPDWORD lpdwSize,
                                LPDWORD lpdwDataType);
};
using LPEXTENSION_CONTROL_BLOCK = EXTENSION_CONTROL_BLOCK*;

// ---- Filter ----------------------------------------------------------------

#define HTTP_FILTER_REVISION 0x00020000
#define SF_MAX_FILTER_DESC_LEN (256 + 1)

// Notifications a filter asks for in dwFlags.
#define SF_NOTIFY_SECURE_PORT 0x00000001
#define SF_NOTIFY_NONSECURE_PORT 0x00000002
#define SF_NOTIFY_READ_RAW_DATA 0x00008000
#define SF_NOTIFY_PREPROC_HEADERS 0x00004000
#define SF_NOTIFY_AUTHENTICATION 0x00002000
#define SF_NOTIFY_URL_MAP 0x00001000
#define SF_NOTIFY_ACCESS_DENIED 0x00000800
#define SF_NOTIFY_SEND_RESPONSE 0x00000040
#define SF_NOTIFY_SEND_RAW_DATA 0x00000400
#define SF_NOTIFY_LOG 0x00000200
#define SF_NOTIFY_END_OF_REQUEST 0x00000080
#define SF_NOTIFY_END_OF_NET_SESSION 0x00000100

// Where the filter runs among the filters of the server.
#define SF_NOTIFY_ORDER_HIGH 0x00080000
#define SF_NOTIFY_ORDER_MEDIUM 0x00040000
#define SF_NOTIFY_ORDER_LOW 0x00020000
#define SF_NOTIFY_ORDER_DEFAULT SF_NOTIFY_ORDER_LOW
#define SF_NOTIFY_ORDER_MASK (SF_NOTIFY_ORDER_HIGH | SF_NOTIFY_ORDER_MEDIUM | SF_NOTIFY_ORDER_LOW)

// Results of HttpFilterProc.
#define SF_STATUS_REQ_FINISHED 0x08000000
#define SF_STATUS_REQ_FINISHED_KEEP_CONN 0x08000001
#define SF_STATUS_REQ_NEXT_NOTIFICATION 0x08000002
#define SF_STATUS_REQ_HANDLED_NOTIFICATION 0x08000003
#define SF_STATUS_REQ_ERROR 0x08000004
#define SF_STATUS_REQ_READ_NEXT 0x08000005

struct HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;  // set by the server
  DWORD dwFilterVersion;        // set by the filter
  CHAR lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;                // notifications and order wanted by the filter
};
using PHTTP_FILTER_VERSION = HTTP_FILTER_VERSION*;

// One notification's view of the request; owned by the server, valid during
// the HttpFilterProc call.
struct HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  PVOID ServerContext;   // the server's, do not touch
  DWORD ulReserved;
  BOOL fIsSecurePort;
  PVOID pFilterContext;  // the filter's own, per connection

  BOOL (*GetServerVariable)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL (*AddResponseHeaders)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders, DWORD dwReserved);
  BOOL (*WriteClient)(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  LPVOID (*AllocMem)(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD dwReserved);
  BOOL (*ServerSupportFunction)(HTTP_FILTER_CONTEXT* pfc, DWORD sfReq, PVOID pData, ULONG_PTR ul1, ULONG_PTR ul2);
};
using PHTTP_FILTER_CONTEXT = HTTP_FILTER_CONTEXT*;

// Notification SF_NOTIFY_URL_MAP: the URL being mapped and the physical path
// the server chose, which the filter may change within cbPathBuff bytes.
struct HTTP_FILTER_URL_MAP {
  const CHAR* pszURL;
  CHAR* pszPhysicalPath;
  DWORD cbPathBuff;
};
using PHTTP_FILTER_URL_MAP = HTTP_FILTER_URL_MAP*;

// ---- Entry points ----------------------------------------------------------

using PFN_GETEXTENSIONVERSION = BOOL (*)(HSE_VERSION_INFO* pVer);
using PFN_HTTPEXTENSIONPROC = DWORD (*)(EXTENSION_CONTROL_BLOCK* pECB);
using PFN_TERMINATEEXTENSION = BOOL (*)(DWORD dwFlags);
using PFN_GETFILTERVERSION = BOOL (*)(HTTP_FILTER_VERSION* pVer);
using PFN_HTTPFILTERPROC = DWORD (*)(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, LPVOID pvNotification);
// Optional export of a filter, called once before the library is unloaded.
using PFN_TERMINATEFILTER = BOOL (*)(DWORD dwFlags);

// Declared here so that an extension's definitions get C linkage and stay
// exported even from a library built with hidden visibility.
#define VAMU_ISAPI_EXPORT __attribute__((visibility("default")))
VAMU_ISAPI_EXPORT BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer);
VAMU_ISAPI_EXPORT DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
VAMU_ISAPI_EXPORT BOOL TerminateExtension(DWORD dwFlags);
VAMU_ISAPI_EXPORT BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
VAMU_ISAPI_EXPORT DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD NotificationType, LPVOID pvNotification);

}  // extern "C"
