// The lists attached to an act: LinkedDoc (the acts that share a key with
// it) and LinkedOrz (the stored list of its court rulings). Both open in
// the footer frame from the button bar and the frameset variables.
#include <optional>
#include <string>
#include <vector>

#include "biblion/srv_srv.h"
#include "portico/doc_list.h"
#include "portico/document.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"
#include "portico/text.h"

namespace portico {

DWORD LinkedDocPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  std::size_t amp = arguments.find('&');
  const std::string key = arguments.substr(0, amp);
  // The item to leave out (the act shown); none when no item is named (no
  // second argument, or one without digits), so item 0 is listed too.
  std::optional<DWORD> excluded;
  if (amp != std::string::npos) {
    std::size_t digitsEnd = 0;
    const std::int32_t value = DecimalValue(std::string_view(arguments).substr(amp + 1), &digitsEnd);
    if (digitsEnd != 0) excluded = static_cast<DWORD>(value);
  }

  extension.WaitReady();
  std::vector<DWORD> items;
  for (DWORD index : FindKeyItems(extension.Main(), key))
    if (index != excluded) items.push_back(index);

  const std::string header = "Akty Powiązane (" + Decimal(static_cast<std::int64_t>(items.size())) + " pozycji)";
  WriteDocList(extension, request, items, header, "Brak Aktów Powiązanych", nullptr);
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

DWORD LinkedOrzPage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const std::int32_t index = ResolveDesignation(extension, arguments);
  CPageText text;
  if (index >= 0) {
    extension.WaitReady();
    if (ReadItem(extension.Main(), static_cast<DWORD>(index), 0, text) && !text.Empty()) {
      text.CutAtZero();
      RemoveComments(text);
    } else {
      text = CPageText::Copy(kNotFoundPage);
    }
  } else {
    text = CPageText::Copy(kNotFoundPage);
  }

  std::string_view all = text.View();
  std::size_t body = all.find("<BODY>");
  if (body == npos) body = all.find("<body>");
  if (body != npos) {
    request.Write(text.Data(), body + 5);
    request.Write(" BGCOLOR=#FFFFFF> <FONT SIZE=\"-1\">");
    WriteChunked(request, text.Data() + body + 6, all.size() - (body + 6));
  } else {
    WriteChunked(request, text.Data(), all.size());
  }
  text = CPageText();
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
