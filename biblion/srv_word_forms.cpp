// CSrvSrv: the words of every base that a marked query word stands for.
#include <algorithm>

#include "biblion/srv_srv.h"
#include "concorda/doc_server.h"

std::vector<std::string> CSrvSrv::MarkedTermWords(std::string_view term) const {
  std::vector<std::string> out;
  for (CDocServer* base : m_aBases) {
    std::vector<std::size_t> positions;
    base->FindMarkedWords(term, positions);
    for (std::size_t p : positions) out.emplace_back(base->GetWordAt(static_cast<DWORD>(p)));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}
