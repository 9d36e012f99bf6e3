// The contents tree of the site (Tree.htm in the frame NAVTREE).
//
// The server describes one level of the tree at a time as tree script lines
// (portico.dll?TreeToc&...), windows-1250 text, one node a line:
//   1 -id "caption"               a node without link
//   1 -t URL "caption"            a node that opens URL in the text frame
//   2 -t URL "£aduje..."          placeholder: URL delivers the children of
//                                 the node above it, fetched when it is opened
// Depths are relative: a line is a child of the nearest line above it with
// a smaller depth; the smallest depth of a response is the level delivered.
// In captions a double quote is written \".
//
// Synchronize(name) opens the tree at the document shown: the server answers
// with the line numbers of the nodes to open, counted over the tree as shown
// with only that path open ("0,1,4,5,9/9,9"; line 1 is Dz.U., line 2 M.P.).

var PLACEHOLDER = "\u0141aduje...";
var UNAVAILABLE = "Sekcja nie jest dost\u0119pna";
var treeRoots = [];
var syncGeneration = 0;
var lastSynchro = "";

function TreeNode(caption, url) {
  this.caption = caption;
  this.url = url || "";
  this.loader = "";       // the request that delivers the children, until loaded
  this.children = [];
  this.open = false;
  this.element = null;
  this.childList = null;
}

// Parses tree script text into nodes of one level (with their own children).
function ParseTreeScript(text) {
  var top = [], stack = [];
  var lines = text.split(/\r?\n/);
  for (var i = 0; i < lines.length; i++) {
    var m = /^\s*(\d+)\s+-(\w+)\s*(.*)$/.exec(lines[i]);
    if (!m) continue;
    var depth = parseInt(m[1], 10), option = m[2], rest = m[3], url = "";
    if (option == "t") {
      var blank = rest.search(/\s/);
      url = blank < 0 ? rest : rest.substring(0, blank);
      rest = blank < 0 ? "" : rest.substring(blank + 1);
    } else if (option != "id") {
      continue;  // a directive the server left alone
    }
    var q = /^\s*"((?:\\.|[^"\\])*)"/.exec(rest);
    var caption = q ? q[1].replace(/\\"/g, '"') : rest.trim();
    while (stack.length && stack[stack.length - 1].depth >= depth) stack.pop();
    var parent = stack.length ? stack[stack.length - 1].node : null;
    if (caption == PLACEHOLDER) {
      if (parent) parent.loader = url;
      continue;
    }
    var node = new TreeNode(caption, url);
    if (parent) parent.children.push(node); else top.push(node);
    stack.push({ depth: depth, node: node });
  }
  return top;
}

// Fetches a tree level; resolves to its nodes, or to one unavailable leaf.
function FetchLevel(url) {
  return fetch(url).then(function (response) {
    if (!response.ok) throw new Error(String(response.status));
    return response.arrayBuffer();
  }).then(function (bytes) {
    var text = new TextDecoder("windows-1250").decode(bytes);
    var nodes = /^\s*</.test(text) ? [] : ParseTreeScript(text);
    return nodes.length ? nodes : [new TreeNode(UNAVAILABLE, "")];
  }).catch(function () {
    return [new TreeNode(UNAVAILABLE, "")];
  });
}

function Expandable(node) { return node.loader != "" || node.children.length > 0; }

function RenderNode(node) {
  var li = document.createElement("LI");
  var twisty = document.createElement("SPAN");
  twisty.className = "twisty";
  li.appendChild(twisty);
  var label;
  if (node.url) {
    label = document.createElement("A");
    label.href = node.url;
    label.target = "VAMUTEXT";
  } else {
    label = document.createElement("SPAN");
    label.className = node.caption == UNAVAILABLE ? "unavailable" : "group";
    label.onclick = function () { Toggle(node); };
  }
  label.textContent = node.caption;
  li.appendChild(label);
  twisty.onclick = function () { Toggle(node); };
  node.element = li;
  UpdateNode(node);
  return li;
}

function UpdateNode(node) {
  var twisty = node.element.firstChild;
  twisty.textContent = Expandable(node) ? (node.open ? "\u2212" : "+") : "";
  twisty.className = Expandable(node) ? "twisty" : "twisty leaf";
  if (node.childList) node.childList.style.display = node.open ? "" : "none";
}

function RenderChildren(node, container) {
  var ul = document.createElement("UL");
  for (var i = 0; i < node.children.length; i++) ul.appendChild(RenderNode(node.children[i]));
  container.appendChild(ul);
  node.childList = ul;
}

// Opens a node, fetching its children first when needed; resolves when shown.
function Expand(node) {
  if (!Expandable(node)) return Promise.resolve();
  var ready = Promise.resolve();
  if (node.loader) {
    var url = node.loader;
    node.loader = "";
    node.element.classList.add("loading");
    ready = FetchLevel(url).then(function (nodes) {
      node.children = nodes;
      node.element.classList.remove("loading");
    });
  }
  return ready.then(function () {
    if (!node.childList) RenderChildren(node, node.element);
    node.open = true;
    UpdateNode(node);
  });
}

function Toggle(node) {
  if (node.open) {
    node.open = false;
    UpdateNode(node);
  } else {
    Expand(node);
  }
}

function CollapseAll(nodes) {
  for (var i = 0; i < nodes.length; i++) {
    nodes[i].open = false;
    if (nodes[i].element) UpdateNode(nodes[i]);
    CollapseAll(nodes[i].children);
  }
}

// The nodes as shown, top to bottom (line n is element n - 1).
function VisibleNodes(nodes, out) {
  for (var i = 0; i < nodes.length; i++) {
    out.push(nodes[i]);
    if (nodes[i].open) VisibleNodes(nodes[i].children, out);
  }
  return out;
}

function Select(node) {
  var old = document.querySelectorAll("#tree .selected");
  for (var i = 0; i < old.length; i++) old[i].classList.remove("selected");
  node.element.classList.add("selected");
  node.element.scrollIntoView({ block: "nearest" });
  window.scrollTo(0, window.scrollY);  // long captions must not push the tree sideways
}

// name: "PUBL=VAMU&NAME=..." as the document page gives it.
function Synchronize(name) {
  if (!name || name == lastSynchro) return Promise.resolve();
  lastSynchro = name;
  var generation = ++syncGeneration;
  return fetch("portico.dll?Synchronize&" + name).then(function (response) {
    return response.ok ? response.text() : "0/0,0";
  }).then(function (answer) {
    var m = /^([\d,]+)\/(\d+),(\d+)/.exec(answer.trim());
    if (!m || m[2] == "0") return;
    var path = m[1].split(",").slice(1).map(Number);
    CollapseAll(treeRoots);
    var step = function (k) {
      if (generation != syncGeneration) return Promise.resolve();
      var shown = VisibleNodes(treeRoots, []);
      var node = shown[path[k] - 1];
      if (!node) return Promise.resolve();
      if (k == path.length - 1) {
        Select(node);
        return Promise.resolve();
      }
      return Expand(node).then(function () { return step(k + 1); });
    };
    return path.length ? step(0) : undefined;
  }).catch(function () { lastSynchro = ""; });
}

function TreeStart() {
  var dz = new TreeNode("Dz.U. - Dziennik Ustaw");
  dz.loader = "portico.dll?TreeToc&Publ=Vamu&Name=D";
  var mp = new TreeNode("M.P. - Monitor Polski");
  mp.loader = "portico.dll?TreeToc&Publ=Vamu&Name=M";
  var spis = new TreeNode("Spis tematyczny");
  spis.loader = "portico.dll?TreeToc&Publ=VamuSpis&Name=TEMATY";
  treeRoots = [dz, mp, spis];
  var ul = document.createElement("UL");
  ul.className = "root";
  for (var i = 0; i < treeRoots.length; i++) ul.appendChild(RenderNode(treeRoots[i]));
  document.getElementById("tree").appendChild(ul);
  if (top.Current && top.Current.synchro) Synchronize(top.Current.synchro);
}
