// The Image page: an image stored as an item of the bases (by index, or by
// name + ".JPG"), delivered byte for byte in one piece.
#include <string>

#include "portico/document.h"
#include "portico/extension.h"
#include "portico/pages.h"
#include "portico/request.h"

namespace portico {

DWORD ImagePage(CPorticoExtension& extension, CRequest& request, const std::string& arguments) {
  request.SendHeader();
  const std::int32_t index = ResolveDesignation(extension, arguments, ".JPG");
  extension.WaitReady();
  CPageText image;
  if (index >= 0 && ReadItem(extension.Main(), static_cast<DWORD>(index), 0, image))
    request.Write(image.Data(), image.Length());  // zero bytes included
  else
    request.Write(kNotFoundPage);
  image = CPageText();
  RunEpilogue(request);
  return HSE_STATUS_SUCCESS;
}

}  // namespace portico
