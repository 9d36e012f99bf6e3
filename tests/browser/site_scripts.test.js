// The scripts of the site on their own (no browser): the tree control's
// reading of tree script lines and the frameset's reading of default.htm?N.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const vm = require('node:vm');

const site = path.resolve(__dirname, '..', '..', 'site');
function load(file) {
  const context = vm.createContext({});
  vm.runInContext(fs.readFileSync(path.join(site, file), 'latin1'), context, { filename: file });
  return context;
}
const tree = load('tree.js');
const frameset = load('frameset.js');

// Nodes as plain data of this realm: caption, url, loader and children.
function shape(nodes) {
  return Array.from(nodes, (n) => {
    const o = { caption: n.caption };
    if (n.url) o.url = n.url;
    if (n.loader) o.loader = n.loader;
    if (n.children.length) o.children = shape(n.children);
    return o;
  });
}

test('a level with placeholders: each node gets the request of its children', () => {
  const text = '1 -id "Rocznik 97"\r\n2 -t portico.dll?TreeToc&Publ=Vamu&Name=D97 "\u0141aduje..."\r\n' +
    '1 -t portico.dll?Topic&5 "Poz. 5 Ustawa \\"o lasach\\""\r\n\r\n';
  assert.deepEqual(shape(tree.ParseTreeScript(text)), [
    { caption: 'Rocznik 97', loader: 'portico.dll?TreeToc&Publ=Vamu&Name=D97' },
    { caption: 'Poz. 5 Ustawa "o lasach"', url: 'portico.dll?Topic&5' },
  ]);
});

test('a table of contents: depths from 2 on nest below the nearest shallower line', () => {
  const text = '2 -t portico.dll?Topic&9#H1 "Rozdzia\u0142 I"\r\n3 -t portico.dll?Topic&9#A1 "Art. 1."\r\n' +
    '3 -t portico.dll?Topic&9#A2 "Art. 2."\r\n2 -t portico.dll?Topic&9#H2 "Rozdzia\u0142 II"\r\n';
  assert.deepEqual(shape(tree.ParseTreeScript(text)), [
    { caption: 'Rozdzia\u0142 I', url: 'portico.dll?Topic&9#H1', children: [
      { caption: 'Art. 1.', url: 'portico.dll?Topic&9#A1' }, { caption: 'Art. 2.', url: 'portico.dll?Topic&9#A2' }] },
    { caption: 'Rozdzia\u0142 II', url: 'portico.dll?Topic&9#H2' },
  ]);
});

test('lines that are no nodes are passed over', () => {
  const text = '1 -dd\r\nNAME=D97483\r\nSekcja nie jest dost\u0119pna\r\n   \r\n1 -id "A\r\n2 -t x "\u0141aduje..."\r\n';
  // The directive and the plain text give nothing; an unterminated caption is taken as written.
  assert.deepEqual(shape(tree.ParseTreeScript(text)), [{ caption: '"A', loader: 'x' }]);
  assert.deepEqual(shape(tree.ParseTreeScript('')), []);
  assert.deepEqual(shape(tree.ParseTreeScript('2 -t orphan "\u0141aduje..."')), []);
});

test('default.htm?N opens an index or a name, anything else the home page', () => {
  for (const [search, expected] of [['?517', '517'], ['?-1', '-1'], ['?D97483D09946', 'D97483D09946'],
    ['', '-2'], ['?', '-2'], ['?%E0', '-2'], ['?<script>alert(1)</script>', '-2'],
    ["?1'+alert(1)+'", '-2'], ['?D97483%20x', '-2'], ['?' + '9'.repeat(11), '-2']])
    assert.equal(frameset.StartDesignation(search), expected, search);
});
