// The act tree of the contents tree: the journals Dz.U. and M.P., their
// years, the numbers of a year, the positions of a number, the versions of an
// act (its first text and amendments) and a document's own table of
// contents. TreeToc lists one level per request as tree script lines; the
// contents files splice act entries in through RenderLevel; Synchronize
// counts lines through TreeChildren, so that both see the same order.
//
// Tree script lines (each ended by CR LF):
//   1 -id "caption"                     node without link
//   1 -t url "caption"                  node that opens url
//   2 -t portico.dll?TreeToc&Publ=Vamu&Name=N "Ładuje..."
//                                       placeholder child: opening the node fetches level N
// A double quote inside a caption is written as \".
//
// Node names, by character position: 0 journal letter ("M" M.P., else
// Dz.U.), 1-2 year, 3-6 number, 7-10 position, 11.. item index (decimal). A
// field is present when the name reaches its first position; the deepest
// present field decides the level listed (item index: the document's table
// of contents; position: versions; number: positions; year: numbers; letter
// only: years). A field that is not a number reads as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "biblion/rnp.h"

class CSrvSrv;

namespace portico {

class CPorticoExtension;

// What a node lists.
enum class TreeLevel { kYears, kNumbers, kPositions, kVersions, kContents };

struct ActNode {
  _RNP ref;                 // the fields present; absent ones are 0
  TreeLevel level = TreeLevel::kYears;
  std::int32_t nItem = -1;  // kContents: the document's combined index
};

// The node of an (upper-case) name.
ActNode ParseActNodeName(std::string_view name);
// The decimal field of `width` characters at `pos`; 0 when the name does not
// reach pos or the field is no number (negative values read as 0).
DWORD NameField(std::string_view name, std::size_t pos, std::size_t width);
// The journal code of a name letter: 1 for "M", 0 for any other.
DWORD JournalOfLetter(char letter);
// The year a two-digit year stands for: 2000 + year below the pivot, else
// 1900 + year (a value of 100 or more is taken as it is).
DWORD FullYear(DWORD year, DWORD pivot);

// The children of a node of level kYears, kNumbers, kPositions or kVersions
// in the order the tree shows them: the catalogue's order reversed, years
// newest first by their full year (FullYear with the registry's
// Setup\YearPivot, default 50). For kVersions *act (when given) receives the
// act's full reference.
std::vector<DWORD> TreeChildren(const CSrvSrv& catalogue, TreeLevel level, _RNP ref, _RNP* act = nullptr);

// The tree script of a list of children of `ref` at `level` (not kContents):
// node lines with their placeholders, and one empty line at the end; empty
// when nothing is rendered. For kVersions, ref is the act's full reference.
std::string RenderLevel(const CPorticoExtension& extension, TreeLevel level, _RNP ref,
                        const std::vector<DWORD>& children);

// The tree script of a node name (TreeToc with Publ=Vamu); empty when the
// level has no entries.
std::string ActTreeLevel(const CPorticoExtension& extension, std::string_view name);

// A caption as a tree line carries it: a blank, the caption in double quotes
// (inner quotes as \") and CR LF.
std::string QuotedCaption(std::string_view caption);

}  // namespace portico
