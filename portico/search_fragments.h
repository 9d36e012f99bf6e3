// The fragments of the Search page's results (Fragmenty=1): under each
// title, about 200 characters of the document around the place where the
// query's words stand, with those words in <B> (concorda/fragment.h). The
// result cache keeps only the item lists; fragments are made for the page
// shown, one document at a time.
//
// A document is read in growing prefixes (its first 8 KB and 64 KB of
// stored bytes, then whole) until a prefix holds a place with every word of
// the query and enough text behind it; only a document where some word is
// missing, or stands only far in, is read whole.
#pragma once

#include <string>

#include "concorda/fragment.h"
#include "platform/windows_types.h"

class CSrvSrv;

namespace portico {

class CSearchFragments {
 public:
  // The terms of the word query (as the catalogue runs it, markers
  // included) that a found document may hold: every term but those behind
  // NIE, the first 32 of them.
  CSearchFragments(const CSrvSrv& catalogue, const std::string& wordQuery);

  // The fragment of an item as HTML; empty when no term stands in it or it
  // cannot be read.
  std::string Of(DWORD item) const;

 private:
  const CSrvSrv& m_catalogue;
  concorda::CFragmentTerms m_terms;
};

}  // namespace portico
