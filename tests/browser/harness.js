// The browser tests' surroundings: vamuserver on the demo bases (a free
// loopback port), headless Chromium with a fresh profile per test, and the
// watch that fails a test on any page error, console error, failed request
// or error status. Run by ./vamu test; by hand:
//   VAMU_BIN=build/bin VAMU_DEMO=build/browser-demo node --test tests/browser/site.test.js
'use strict';
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const top = path.resolve(__dirname, '..', '..');
const bin = process.env.VAMU_BIN || path.join(top, 'build', 'bin');
const demo = process.env.VAMU_DEMO || path.join(top, 'build', 'browser-demo');
const shots = process.env.VAMU_SCREENSHOTS || path.join(top, 'build', 'browser-screenshots');
const chromiumPath = process.env.VAMU_CHROMIUM || '/usr/bin/chromium';

// Starts vamuserver on port 0 and resolves to { base, stop() } once it listens.
function startServer() {
  return new Promise((resolve, reject) => {
    const server = spawn(path.join(bin, 'vamuserver'),
      ['--port', '0', '--registry', path.join(demo, 'registry.reg'), '--log', path.join(demo, 'browser-access.log')],
      { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    const timer = setTimeout(() => { server.kill('SIGTERM'); reject(new Error('vamuserver did not start')); }, 20000);
    server.on('exit', (code) => { clearTimeout(timer); reject(new Error('vamuserver exited with ' + code)); });
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const m = /listening on ([\d.]+):(\d+)/.exec(out);
      if (!m) return;
      clearTimeout(timer);
      resolve({
        base: `http://${m[1]}:${m[2]}/`,
        stop: () => new Promise((done) => {
          if (server.exitCode !== null) return done();
          server.removeAllListeners('exit');
          server.on('exit', () => done());
          server.kill('SIGTERM');
        }),
      });
    });
  });
}

// A fresh Chromium profile with the watch on every frame of every page.
async function openBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vamu-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    viewport: { width: 1280, height: 860 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const problems = [];
  // A request cancelled because its frame went on to another page (a frame
  // navigated while the page before was still loading) is the frameset at
  // work, not a failure; any other failed request is one. Counting the
  // documents each frame has committed tells the two apart.
  const committed = new Map(), issuedAt = new Map(), aborted = [];
  const frameOf = (r) => { try { return r.frame(); } catch (e) { return null; } };
  const watch = (page) => {
    page.on('pageerror', (e) => problems.push('page error: ' + e.message));
    page.on('console', (m) => { if (m.type() === 'error') problems.push('console error: ' + m.text() + ' ' + JSON.stringify(m.location())); });
    page.on('framenavigated', (f) => committed.set(f, (committed.get(f) || 0) + 1));
  };
  context.pages().forEach(watch);
  context.on('page', watch);
  context.on('request', (r) => { const f = frameOf(r); issuedAt.set(r, f ? committed.get(f) || 0 : 0); });
  context.on('requestfailed', (r) => {
    const why = (r.failure() || {}).errorText;
    if (why === 'net::ERR_ABORTED') aborted.push(r);
    else problems.push('failed request: ' + r.url() + ' ' + why);
  });
  context.on('response', (r) => { if (r.status() >= 400) problems.push('status ' + r.status() + ': ' + r.url()); });
  const settle = () => {
    for (const r of aborted.splice(0)) {
      const f = frameOf(r);
      const superseded = !f || f.isDetached() || (committed.get(f) || 0) > issuedAt.get(r);
      if (!superseded) problems.push('failed request: ' + r.url() + ' net::ERR_ABORTED');
    }
  };
  const page = context.pages()[0] || await context.newPage();
  return {
    page,
    problems,
    async close() {
      settle();
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

async function screenshot(page, name) {
  fs.mkdirSync(shots, { recursive: true });
  await page.screenshot({ path: path.join(shots, name + '.png') });
}

// The frame of a page by its name (frames of framesets included).
function frame(page, name) {
  return page.frames().find((f) => f.name() === name) || null;
}

// Waits until the named frame exists and its address matches.
async function waitForFrame(page, name, pattern, timeout = 15000) {
  const end = Date.now() + timeout;
  for (;;) {
    const f = frame(page, name);
    if (f && pattern.test(f.url())) {
      await f.waitForLoadState('load');
      return f;
    }
    if (Date.now() > end) throw new Error(`frame ${name} never showed ${pattern} (now: ${f ? f.url() : 'none'})`);
    await new Promise((r) => setTimeout(r, 100));
  }
}

module.exports = { startServer, openBrowser, screenshot, frame, waitForFrame };
