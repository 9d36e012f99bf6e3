// The frameset of the site (default.htm) and Rebuild(), which every document
// page calls when it has been shown in the text frame.
//
// Frames: VAMUNAV (Nav.htm: the button bar NAVBAR, the contents tree NAVTREE,
// the document's table of contents NAVTOC) and MAIN (portico.dll?Main&N: the
// text frame VAMUTEXT and the footer frame VAMUFOOT). default.htm?N opens
// document N (an item index or an item name); without N the home page.
//
// A document page sets urlNotes, TopicSynchro, urlRel, urlOr and GetLogo of
// this window and calls Rebuild(). Rebuild takes them over as the current
// document and empties them, so that values of one document never stay
// behind for the next one (a page sets only the values its document has).

var urlNotes = "", TopicSynchro = "", urlRel = "", urlOr = "", GetLogo = "1";

// The document shown now, as Rebuild saw it; the pages of the site read it
// (the bookmarks page adds it, the notes page files notes under it).
var Current = { designation: "", notes: "", synchro: "", related: "", rulings: "", logo: "1", title: "" };

// The last catalogue document shown (not one of the site's own pages).
var LastDocument = null;

var navLoaded = false, rebuildPending = false;

// An item index ("517", "-2") or an item name; anything else opens the home page.
function Designation(text) {
  return /^(-?[0-9]{1,10}|[A-Za-z][A-Za-z0-9_]{0,63})$/.test(text) ? text : "";
}

// The designation default.htm?N asks for; "-2" (the home page) when there is none.
function StartDesignation(search) {
  var text = search.substring(1);
  try { text = decodeURIComponent(text); } catch (e) { return "-2"; }
  return Designation(text) || "-2";
}

function WriteFrameset() {
  var start = StartDesignation(location.search);
  document.write(
    '<FRAMESET COLS="320,*" FRAMESPACING="3">' +
    '<FRAME NAME="VAMUNAV" SRC="Nav.htm" SCROLLING="NO">' +
    '<FRAME NAME="MAIN" SRC="portico.dll?Main&' + start + '">' +
    '<NOFRAMES>Ta strona wymaga przegl\u0105darki z ramkami.</NOFRAMES>' +
    '</FRAMESET>');
}

// The designation of the document in the text frame, from its address:
// portico.dll?Topic&517#A5 -> "517"; a page under NAME.ATT -> its Notes value.
function TextDesignation(notes) {
  try {
    var loc = window.MAIN.VAMUTEXT.location;
    var m = /^\?Topic&([^&#]*)/i.exec(loc.search);
    if (m) return Designation(m[1]);
    if (/\.ATT$/i.test(loc.pathname)) return Designation(notes);
  } catch (e) { }
  return "";
}

function Rebuild() {
  var text = null;
  try { text = window.MAIN.VAMUTEXT; } catch (e) { }
  Current = {
    designation: TextDesignation(urlNotes),
    notes: urlNotes, synchro: TopicSynchro, related: urlRel, rulings: urlOr,
    logo: String(GetLogo),
    title: text && text.document ? text.document.title : ""
  };
  urlNotes = ""; TopicSynchro = ""; urlRel = ""; urlOr = ""; GetLogo = "1";
  if (Current.logo != "1" && Current.designation) LastDocument = Current;
  document.title = Current.title ? Current.title + " - Vamu Qad" : "Vamu Qad - akty prawne i orzecznictwo";
  RefreshNavigation();
}

// Called by Nav.htm once its three frames are there.
function NavLoaded() {
  navLoaded = true;
  if (rebuildPending) RefreshNavigation();
}

function Show(frame, url) {
  var here = frame.location.pathname.replace(/^.*\//, "") + frame.location.search;
  if (here != url) frame.location.replace(url);
}

function RefreshNavigation() {
  var nav = window.VAMUNAV;
  if (!navLoaded || !nav || !nav.NAVBAR || !nav.NAVTOC || !nav.NAVTREE) {
    rebuildPending = true;
    return;
  }
  rebuildPending = false;
  var d = Current.designation;
  Show(nav.NAVBAR, d ? "portico.dll?Line&" + d : "Bar.htm");
  Show(nav.NAVTOC, Current.logo == "1" || !d ? "Logo.htm" : "portico.dll?TOC&" + d);
  if (Current.synchro && nav.NAVTREE.Synchronize) nav.NAVTREE.Synchronize(Current.synchro);
  if (Current.logo != "1" && d) FooterOf(d);
}

// The document page has just sent the footer frame to an advertisement; once
// that has arrived, the footer shows the document's own footer instead (the
// footer page falls back to an advertisement for documents without one).
// Waiting for the load keeps the two navigations apart.
function FooterOf(d) {
  var main = window.MAIN, frame = null;
  try { frame = main.document.getElementsByName("VAMUFOOT")[0]; } catch (e) { }
  if (!frame) return;
  var loaded = function () {
    frame.removeEventListener("load", loaded);
    try {
      var s = main.VAMUFOOT.location.search;
      if ((s == "?Foot&-3" || s == "?Foot&-4") && Current.designation == d)
        main.VAMUFOOT.location.replace("portico.dll?Foot&" + d);
    } catch (e) { }  // the frameset was left meanwhile
  };
  frame.addEventListener("load", loaded);
}
