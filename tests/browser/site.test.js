// The site as a reader uses it, in headless Chromium against vamuserver on
// the demo bases. Each test saves a screenshot (build/browser-screenshots/)
// and fails on any page error, console error, failed request or error status.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const h = require('./harness');

let server;
before(async () => { server = await h.startServer(); });
after(async () => { if (server) await server.stop(); });

// Runs body(page) in a fresh browser; then the screenshot, then the watch.
async function inBrowser(name, body) {
  const b = await h.openBrowser();
  try {
    await body(b.page);
    await b.page.waitForLoadState('networkidle').catch(() => {});
    await b.page.waitForTimeout(300);
  } finally {
    await h.screenshot(b.page, name).catch(() => {});
    await b.close();
  }
  assert.deepEqual(b.problems, [], 'the browser reported problems');
}

// Opens default.htm (with a designation) and waits for the document in the text frame.
async function openSite(page, designation, textPattern) {
  await page.goto(server.base + 'default.htm' + (designation ? '?' + designation : ''));
  const text = await h.waitForFrame(page, 'VAMUTEXT', textPattern);
  await h.waitForFrame(page, 'NAVTREE', /Tree\.htm$/);
  return text;
}

test('a document outside the frameset: ruling icons and the way into the frameset', async () => {
  await inBrowser('document-alone', async (page) => {
    await page.goto(server.base + 'portico.dll?Topic&D97483D09946');
    await page.getByRole('heading', { name: /Konstytucja Rzeczypospolitej Polskiej/ }).waitFor();
    const frames = page.getByText('zobacz w ramkach');
    assert.match(await frames.locator('xpath=ancestor::a').getAttribute('href'), /^default\.htm\?\d+$/);
    const icons = page.locator('a[href^="portico.dll?PartOr&"] img[src="orbmp.gif"]');
    assert.ok(await icons.count() > 20, 'ruling icons beside the articles');
    // One of them right behind the heading "Art. 153." (rulings of the second base: index >= 65536).
    const html = await page.content();
    assert.match(html, /Art\. 153\.\s*<a target="VAMUFOOT" href="portico\.dll\?PartOr&amp;(\d{5,})&amp;SENT/i);
  });
});

test('table of contents and button bar of a document', async () => {
  await inBrowser('toc-and-bar', async (page) => {
    await page.goto(server.base + 'portico.dll?TOC&D97483D09946');
    const chapter = page.getByRole('link', { name: 'Rozdział I RZECZPOSPOLITA' });
    assert.match(await chapter.getAttribute('href'), /^portico\.dll\?Topic&\d+#H1$/);
    await page.goto(server.base + 'portico.dll?Line&D97483D09946');
    for (const caption of ['Szukaj', 'Strona Główna', 'Notatki', 'Powiązane', 'Orzeczenia'])
      await page.locator(`input[value="${caption}"]`).waitFor();
  });
});

test('the frameset opens the home page with its navigation', async () => {
  await inBrowser('home', async (page) => {
    const text = await openSite(page, '', /Topic&-2$/);
    await text.getByText('Akty prawne z Dziennika Ustaw i Monitora Polskiego').waitFor();
    const bar = await h.waitForFrame(page, 'NAVBAR', /Line&-2$/);
    await bar.locator('input[value="Szukaj"]').waitFor();
    await h.waitForFrame(page, 'NAVTOC', /Logo\.htm$/);
    await h.frame(page, 'NAVTREE').getByText('Dz.U. - Dziennik Ustaw').waitFor();
    await h.waitForFrame(page, 'VAMUFOOT', /Foot&-[34]$/);
    assert.ok(await text.locator('img[src="portico.dll?Image&SCHEMAT"]').evaluate((img) => img.naturalWidth) > 0);
  });
});

test('the tree opens down to an act; its contents, bar and the tree follow', async () => {
  await inBrowser('tree-to-act', async (page) => {
    await openSite(page, '', /Topic&-2$/);
    const tree = h.frame(page, 'NAVTREE');
    await tree.getByText('Dz.U. - Dziennik Ustaw').click();
    await tree.getByText('Rocznik 1997', { exact: true }).click();
    await tree.getByText('Numer 78', { exact: true }).click();
    await tree.getByText(/^Poz\. 483 Konstytucja/).click();
    await tree.getByText('Tekst Pierwotny').waitFor();
    await tree.getByText(/Zmiana\s+Dz\.U\.9\.114\.946/).click();
    const text = await h.waitForFrame(page, 'VAMUTEXT', /Topic&\d+$/);
    await text.getByRole('heading', { name: /Konstytucja/ }).waitFor();
    const toc = await h.waitForFrame(page, 'NAVTOC', /TOC&\d+$/);
    await toc.getByRole('link', { name: 'Rozdział I RZECZPOSPOLITA' }).waitFor();
    const bar = await h.waitForFrame(page, 'NAVBAR', /Line&\d+$/);
    await bar.locator('input[value="Orzeczenia"]').waitFor();
    // The tree has synchronised on the version shown.
    await tree.locator('li.selected', { hasText: /9\.114\.946/ }).waitFor();
    // A chapter of the contents moves the text to its anchor.
    await toc.getByRole('link', { name: 'Rozdział II WOLNOŚCI, PRAWA I OBOWIĄZKI CZŁOWIEKA I OBYWATELA' }).click();
    await h.waitForFrame(page, 'VAMUTEXT', /#H2$/);
    // A version opens into its own table of contents.
    const version = tree.locator('li').filter({ has: tree.locator(':scope > a', { hasText: /9\.114\.946/ }) });
    await version.locator(':scope > .twisty').click();
    await version.getByRole('link', { name: 'Rozdział I RZECZPOSPOLITA' }).waitFor();
    // Articles wait, closed, below their chapters.
    assert.equal(await version.getByRole('link', { name: 'Art. 1.', exact: true }).count(), 0);
    const chapter = version.locator('li').filter({ has: tree.locator(':scope > a', { hasText: /^Rozdział I RZECZPOSPOLITA$/ }) });
    await chapter.locator(':scope > .twisty').click();
    await chapter.getByRole('link', { name: 'Art. 1.', exact: true }).waitFor();
    // The subject index holds the acts spliced into its contents files.
    await tree.getByText('Spis tematyczny').click();
    await tree.getByText('Prawo cywilne').click();
    await tree.getByRole('link', { name: /^Dz\.U\.64\.16\.93 - .*Kodeks cywilny$/ }).click();
    const kc = await h.waitForFrame(page, 'VAMUTEXT', /Topic&\d+$/);
    await kc.getByRole('heading', { name: /Kodeks cywilny/ }).waitFor();
    await tree.locator('li.selected', { hasText: /Poz\. 93 Ustawa/ }).waitFor();
  });
});

test('a ruling icon beside an article opens the ruling in the footer', async () => {
  await inBrowser('ruling', async (page) => {
    const text = await openSite(page, 'D97483D09946', /Topic&\d+$/);
    const icon = text.locator('a[href^="portico.dll?PartOr&"]').filter({ has: text.locator('img') });
    // The icon of art. 153 (the civil service, in the ruling K 2/09).
    const href = await text.evaluate(() => {
      const html = document.body.innerHTML;
      const m = /Art\. 153\.\s*<a target="VAMUFOOT" href="([^"]+)"/i.exec(html);
      return m ? m[1].replace(/&amp;/g, '&') : null;
    });
    assert.ok(href, 'an icon right behind "Art. 153."');
    await text.locator(`a[href="${href}"]`).first().click();
    const foot = await h.waitForFrame(page, 'VAMUFOOT', /PartOr&/);
    await foot.getByText(/Trybunału Konstytucyjnego/).first().waitFor();
    assert.ok(await icon.count() > 20);
    // The bar's rulings button lists all rulings on the act.
    const bar = await h.waitForFrame(page, 'NAVBAR', /Line&\d+$/);
    await bar.locator('input[value="Orzeczenia"]').click();
    const list = await h.waitForFrame(page, 'VAMUFOOT', /LinkedOrz&D97483O$/);
    assert.equal(await list.locator('li a').count(), 7);
  });
});

test('search from the form: results, then the next page', async () => {
  await inBrowser('search', async (page) => {
    await openSite(page, '', /Topic&-2$/);
    const bar = await h.waitForFrame(page, 'NAVBAR', /Line&-2$/);
    await bar.locator('input[value="Szukaj"]').click();
    const form = await h.waitForFrame(page, 'VAMUTEXT', /Topic&-1$/);
    await form.selectOption('select[name="Zmiany"]', '2');
    await form.selectOption('select[name="Length"]', '5');
    await form.locator('input[type="submit"]').click();
    const results = await h.waitForFrame(page, 'VAMUTEXT', /Search&/);
    // The form's fields in its order; the checked boxes (all forms, fragments) ride along.
    assert.match(results.url(), /portico\.dll\?Portico=Search&(Pattern=|Formy=|TypyDoc=)/);
    assert.match(results.url(), /&Formy=1&Fragmenty=1&/);
    assert.match(results.url(), /&Zmiany=2&Length=5&/);
    await results.getByText(/Dokumenty znalezione \(\d+ pozycji\) Wyświetlono od pozycji 1 do pozycji 5/).waitFor();
    assert.equal(await results.locator('li a').count(), 5);
    await results.locator('input[type="button"]').click();
    const next = await h.waitForFrame(page, 'VAMUTEXT', /Start=6&Length=5(&|$)/);
    await next.getByText(/Wyświetlono od pozycji 6 do pozycji/).waitFor();
    // A word of the text narrows the list to the acts that hold it (the search
    // page's own bar has no search button: the tree's header has a link).
    await h.frame(page, 'NAVTREE').getByRole('link', { name: 'Szukaj' }).click();
    const again = await h.waitForFrame(page, 'VAMUTEXT', /Topic&-1$/);
    // A Polish word travels in windows-1250: only the versions after the 2006
    // amendment of art. 55 hold it, the first text does not.
    await again.fill('input[name="Pattern"]', 'ludobójstwa');
    await again.selectOption('select[name="Zmiany"]', '2');
    await again.locator('input[type="submit"]').click();
    const hits = await h.waitForFrame(page, 'VAMUTEXT', /Pattern=ludob%F3jstwa/);
    await hits.getByText(/Dokumenty znalezione \(2 pozycji\)/).waitFor();
    await hits.getByRole('link', { name: /Dz\.U\.09\.114\.946/ }).click();
    const act = await h.waitForFrame(page, 'VAMUTEXT', /Topic&D97483D09946$/);
    await act.getByText(/zbrodnią ludobójstwa/).waitFor();
  });
});

test('related acts open from the button bar', async () => {
  await inBrowser('related', async (page) => {
    await openSite(page, 'D64093D64093', /Topic&\d+$/);
    const bar = await h.waitForFrame(page, 'NAVBAR', /Line&\d+$/);
    await bar.locator('input[value="Powiązane"]').click();
    const foot = await h.waitForFrame(page, 'VAMUFOOT', /LinkedDoc&PRAWOCYWILNE&\d+$/);
    await foot.getByText('Akty Powiązane (2 pozycji)').waitFor();
    await foot.getByRole('link', { name: /Kodeks postępowania cywilnego/ }).click();
    const text = await h.waitForFrame(page, 'VAMUTEXT', /Topic&D64296D64296$/);
    await text.getByRole('heading', { name: /Kodeks postępowania cywilnego/ }).waitFor();
    await h.waitForFrame(page, 'NAVBAR', /Line&D64296D64296$/);
  });
});

test('notes and bookmarks stay in the browser', async () => {
  await inBrowser('notes-bookmarks', async (page) => {
    await openSite(page, 'D97553D97553', /Topic&\d+$/);
    const bar = await h.waitForFrame(page, 'NAVBAR', /Line&\d+$/);
    await bar.locator('input[value="Notatki"]').click();
    const notes = await h.waitForFrame(page, 'VAMUFOOT', /Topic&-4&D97553D97553$/);
    await notes.fill('textarea', 'art. 148 - sprawdzić orzecznictwo');
    await notes.locator('input[type="submit"]').click();
    await notes.getByText('Zapisano.').waitFor();
    assert.equal(await notes.evaluate(() => localStorage.getItem('vamu.notes.D97553D97553')),
      'art. 148 - sprawdzić orzecznictwo');
    await h.frame(page, 'NAVTREE').getByRole('link', { name: 'Zakładki' }).click();
    const marks = await h.waitForFrame(page, 'VAMUTEXT', /Topic&-5$/);
    await marks.locator('#add').click();
    await marks.locator('#list a', { hasText: /Kodeks karny/ }).click();
    await h.waitForFrame(page, 'VAMUTEXT', /Topic&(\d+|D97553D97553)$/);
  });
});
