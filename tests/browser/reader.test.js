// The page without frames in headless Chromium: on a phone-sized window,
// by keyboard, in print, and under an automated accessibility check
// (axe-core, WCAG 2.1 levels A and AA). Each test saves a screenshot.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const h = require('./harness');

let server;
before(async () => { server = await h.startServer(); });
after(async () => { if (server) await server.stop(); });

const narrow = { width: 375, height: 740 };

// `expected`: problems the test itself provokes (a page answered with 404).
async function inBrowser(name, body, viewport, expected = []) {
  const b = await h.openBrowser();
  try {
    if (viewport) await b.page.setViewportSize(viewport);
    await body(b.page);
    await b.page.waitForLoadState('networkidle').catch(() => {});
  } finally {
    await h.screenshot(b.page, name).catch(() => {});
    await b.close();
  }
  assert.deepEqual(b.problems.filter((p) => !expected.some((e) => e.test(p))), [], 'the browser reported problems');
}

// The violations axe-core finds for WCAG 2.0/2.1 levels A and AA.
async function axeViolations(page) {
  await page.addScriptTag({ path: path.join(__dirname, 'node_modules', 'axe-core', 'axe.min.js') });
  const result = await page.evaluate(() => window.axe.run(document, {
    runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'] },
  }));
  return result.violations.map((v) => `${v.id} (${v.impact}): ${v.help} - ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join('; ')}`);
}

test('the page without frames on a narrow screen: readable, by keyboard, in print', async () => {
  await inBrowser('reader-narrow', async (page) => {
    await page.goto(server.base + 'eli/DU/1997/483');
    assert.equal(await page.getAttribute('html', 'lang'), 'pl');
    await page.getByRole('heading', { level: 1, name: /Konstytucja Rzeczypospolitej Polskiej/ }).waitFor();
    // Nothing wider than the screen.
    const widths = await page.evaluate(() => [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
    assert.ok(widths[0] <= widths[1], `the page is ${widths[0]} px wide on a ${widths[1]} px screen`);
    await h.screenshot(page, 'reader-narrow-top');
    // Landmarks and headings a screen reader moves by.
    assert.equal(await page.getByRole('main').count(), 1);
    assert.equal(await page.getByRole('navigation').count(), 2);
    assert.ok(await page.getByRole('heading', { level: 4, name: 'Art. 55.' }).count() === 1);
    // The versions: the one shown is marked.
    const current = page.locator('nav a[aria-current="page"]');
    assert.match(await current.textContent(), /Dz\.U\. 2009 nr 114 poz\. 946/);
    // The skip link is the first stop of the keyboard and leads to the text.
    await page.keyboard.press('Tab');
    assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Przejdź do treści');
    await page.keyboard.press('Enter');
    assert.match(page.url(), /#tresc$/);
    // A ruling marker leads to the rulings in place; Enter on the summary opens them.
    const marker = page.locator('a.m[href="#o-art-2"]');
    assert.equal(await marker.count(), 1);
    await marker.focus();
    await page.keyboard.press('Enter');
    const details = page.locator('details#o-art-2');
    await details.locator('summary').focus();
    await page.keyboard.press('Enter');
    assert.equal(await details.evaluate((d) => d.open), true);
    // Each ruling links back to the provisions it concerns.
    const back = details.locator('p.od a[href="#art-2"]');
    assert.ok(await back.count() >= 1);
    await details.scrollIntoViewIfNeeded();
    // Print: navigation and rulings are left out, the text stays.
    await page.emulateMedia({ media: 'print' });
    assert.equal(await page.locator('nav').first().isVisible(), false);
    assert.equal(await details.isVisible(), false);
    assert.equal(await page.getByRole('heading', { level: 4, name: 'Art. 55.' }).isVisible(), true);
    await page.emulateMedia({ media: 'screen' });
  }, narrow);
});

test('the frameset leads to the page without frames, and its table of contents to the text', async () => {
  await inBrowser('reader-from-frames', async (page) => {
    await page.goto(server.base + 'portico.dll?Topic&D97483D09946');
    await page.getByRole('link', { name: 'wersja bez ramek' }).click();
    await page.waitForURL(/\/eli\/DU\/1997\/483\/po\/DU\/2009\/946$/);
    await page.locator('nav a[href="#d-A22"]').click();
    assert.match(page.url(), /#d-A22$/);
    // The versions compared: the 2009 amendment added art. 99 ust. 3.
    await page.getByRole('link', { name: 'Co zmieniła ta wersja' }).click();
    await page.getByRole('heading', { name: 'Art. 99 (zmieniony)' }).waitFor();
    assert.match(await page.locator('ins').first().textContent(), /^3\. Wybraną do Sejmu/);
  });
});

test('no WCAG 2.1 A or AA violations on the page without frames, a provision, the changes and a 404', async () => {
  await inBrowser('reader-axe', async (page) => {
    for (const address of ['eli/DU/1997/483', 'eli/DU/1997/483/art/55/ust/2', 'eli/DU/1997/483/zmiany?z=pierwotny&na=DU/2009/946']) {
      await page.goto(server.base + address);
      assert.deepEqual(await axeViolations(page), [], address);
    }
    // A 404 is an error status the watch would count: checked apart.
    const response = await page.goto(server.base + 'eli/DU/1997/999').catch(() => null);
    assert.equal(response && response.status(), 404);
    assert.deepEqual(await axeViolations(page), [], 'the not-found page');
    await page.goto(server.base + 'eli/DU/1997/483');
  }, narrow, [/^status 404: .*\/eli\/DU\/1997\/999$/, /^console error: .*status of 404 .*\/eli\/DU\/1997\/999"/]);
});
