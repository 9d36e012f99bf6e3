// Conversions of the contents tree (TreeToc): a document's contents page
// turned into tree lines, and a tree script turned into the plain HTML list
// page that TreeToc answers with HTML=YES. See act_tree.h for the line format.
#pragma once

#include <string>
#include <string_view>

namespace portico {

// One tree line per entry ("<LI") of the contents page's link lists: the
// depth of its list (the outermost list is depth 2), " -t ", its link and its
// text in quotes. The text is the anchor's text with line feeds as "-",
// carriage returns as blanks and tags removed. An entry without a link is
// left out.
std::string ContentsTreeLines(std::string_view page);

// The HTML list page of a tree script titled `title` (as decoded from the
// request; it is escaped here, for the page and for the links). A node
// without a link whose placeholder follows it links to the next level's
// list page, whose title is this title, a backslash and the node's caption.
std::string TreeListPage(std::string_view script, std::string_view title);

}  // namespace portico
