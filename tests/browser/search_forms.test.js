// The Search form with all forms of words and fragments (both checked by
// default): "umowa" finds documents holding only other forms such as
// "umowy", each result shows a fragment with the word in bold, and the next
// page keeps both options. Screenshot in build/browser-screenshots/.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let server;
before(async () => { server = await h.startServer(); });
after(async () => { if (server) await server.stop(); });

test('search with all forms and fragments, then the next page', async () => {
  const b = await h.openBrowser();
  try {
    const page = b.page;
    await page.goto(server.base + 'Search.htm');
    assert.equal(await page.isChecked('input[name="Formy"]'), true);
    assert.equal(await page.isChecked('input[name="Fragmenty"]'), true);
    assert.equal(await page.isChecked('input[name="BezZnakow"]'), false);
    await page.fill('input[name="Pattern"]', 'umowa');
    await page.selectOption('select[name="Zmiany"]', '2');
    await page.selectOption('select[name="Length"]', '5');
    await Promise.all([page.waitForURL(/Pattern=umowa/), page.locator('input[type="submit"]').click()]);
    assert.match(page.url(), /Formy=1/);
    assert.match(page.url(), /Fragmenty=1/);
    await page.getByText(/Dokumenty znalezione \(\d+ pozycji\) Wyświetlono od pozycji 1 do pozycji 5/).waitFor();
    const entries = page.locator('li');
    assert.equal(await entries.count(), 5);
    // Every entry: its title link, then a fragment with a form of the word in bold.
    for (let i = 0; i < 5; i++) {
      const bold = await entries.nth(i).locator('font b').allTextContents();
      assert.ok(bold.length > 0, 'entry ' + i + ' has no fragment in bold');
      for (const word of bold) assert.match(word, /^um[oó]w/i);  // umowa, umowy, umów, ...
    }
    const allBold = (await page.locator('li font b').allTextContents()).map((w) => w.toLowerCase());
    assert.ok(allBold.includes('umowy'), 'no fragment shows "umowy": ' + allBold.join(', '));
    // Without all forms, "umowa" finds fewer documents.
    const total = Number((await page.getByText(/Dokumenty znalezione/).textContent()).match(/\((\d+) pozycji/)[1]);
    // The next page keeps both options.
    await Promise.all([page.waitForURL(/Start=6&Length=/), page.locator('input[type="button"]').click()]);
    assert.match(page.url(), /Formy=1/);
    assert.match(page.url(), /Fragmenty=1/);
    await page.getByText(/Wyświetlono od pozycji 6 do pozycji/).waitFor();
    assert.ok(await page.locator('li font b').count() > 0, 'the next page shows no fragments');
    const plain = (await (await page.request.get(server.base + 'portico.dll?Portico=Search&Pattern=umowa&Zmiany=2')).body()).toString('latin1');
    const plainTotal = Number(plain.match(/\((\d+) pozycji/)[1]);
    assert.ok(plainTotal < total, 'all forms found ' + total + ', the word as written ' + plainTotal);
    await page.goBack();
    await page.getByText(/Wyświetlono od pozycji 1 do pozycji 5/).waitFor();
  } finally {
    await h.screenshot(b.page, 'search-forms-fragments').catch(() => {});
    await b.close();
  }
  assert.deepEqual(b.problems, [], 'the browser reported problems');
});
