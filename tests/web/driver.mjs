// Drives the updater's page in the system's Chromium as a user would: by what the page shows
// (texts, buttons by their label, the progress bar's role), never by element ids. The page is
// served from the build's folder on 127.0.0.1, which the browser counts as a secure context.
//
// VELQUOR_PAGE_DIR names the folder (default build/web/page); VELQUOR_CHROMIUM the browser
// (default /usr/bin/chromium); screenshots go to VELQUOR_SCREENSHOT_DIR (default
// build/web/screenshots).
import { createServer } from 'node:http';
import { mkdirSync } from 'node:fs';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve } from 'node:path';
import { chromium } from 'playwright-core';

const repo = resolve(new URL('../..', import.meta.url).pathname);
export const pageDir = resolve(process.env.VELQUOR_PAGE_DIR || join(repo, 'build/web/page'));
export const screenshotDir = resolve(process.env.VELQUOR_SCREENSHOT_DIR || join(repo, 'build/web/screenshots'));
const browserPath = process.env.VELQUOR_CHROMIUM || '/usr/bin/chromium';

const types = { '.html': 'text/html', '.css': 'text/css', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.bmp': 'image/bmp', '.ico': 'image/x-icon', '.png': 'image/png', '.webmanifest': 'application/manifest+json' };

// Serves the page on 127.0.0.1, on `port` or a free one; counts every byte of a file it sends
// and lists every request ("GET /sw.js", "HEAD /index.html"). A test may set `answers[path]` to
// answer a path otherwise ({ status, type, body }; status 404 for a file that is not there), and
// `headers` to add headers to every answer, and `refusesHead` to answer HEAD with 405, as some
// hosts do. close() ends every connection too, as a server that is gone.
export async function servePage(port = 0) {
  const served = { bytes: 0, requests: [] };
  const answers = {};
  const headers = {};
  const host = { served, answers, headers, refusesHead: false };
  const server = createServer(async (request, response) => {
    const path = new URL(request.url, 'http://localhost').pathname;
    const file = normalize(join(pageDir, path === '/' ? 'index.html' : path));
    const special = answers[path];
    served.requests.push(`${request.method} ${path}`);
    const count = (body) => { if (request.method === 'GET') served.bytes += Buffer.byteLength(body); };
    if (request.method === 'HEAD' && host.refusesHead) {
      response.writeHead(405, headers).end();
      return;
    }
    if (special) {
      response.writeHead(special.status, { ...headers, 'Content-Type': special.type || 'text/plain' });
      count(special.body || '');
      response.end(special.body || '');
      return;
    }
    try {
      const body = await readFile(file);
      count(body);
      response.writeHead(200, { ...headers, 'Content-Type': types[extname(file)] || 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((done) => server.listen(port, '127.0.0.1', done));
  server.unref();  // a test that failed before close() must not hold the run open
  return Object.assign(host, {
    origin: `http://127.0.0.1:${server.address().port}`,
    close: () => new Promise((done) => {
      server.close(done);
      server.closeAllConnections();
    }),
  });
}

// The browser as the machine has it, headless, without anything that calls out.
export async function startBrowser(extraArgs = []) {
  return chromium.launch({
    executablePath: browserPath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run', ...extraArgs],
  });
}

// The browser with a profile of its own in `folder` (not an incognito context: Chromium installs
// no page from one).
export function startBrowserWithProfile(folder) {
  return chromium.launchPersistentContext(folder, {
    executablePath: browserPath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
}

// Waits until the page's service worker has stored this version and serves it; the store's
// name, its number of files and of images, and its bytes.
export function storedVersion(page) {
  return page.evaluate(async () => {
    const registration = await navigator.serviceWorker.ready;
    const worker = registration.active;
    if (worker.state !== 'activated') await new Promise((done) => worker.addEventListener('statechange', done));
    const names = (await caches.keys()).filter((name) => name.startsWith('velquor-'));
    const cache = await caches.open(names[0]);
    let bytes = 0, images = 0;
    const keys = await cache.keys();
    for (const request of keys) {
      bytes += (await (await cache.match(request)).arrayBuffer()).byteLength;
      if (new URL(request.url).pathname.startsWith('/images/')) images += 1;
    }
    return { names, files: keys.length, images, bytes };
  });
}

// Asks the browser to look for a new version of the page, as it does at a visit; whether one was
// installed and waits.
export const newVersionWaits = (page) => page.evaluate(async () => {
  const registration = await navigator.serviceWorker.getRegistration();
  await registration.update();
  while (registration.installing) await new Promise((done) => setTimeout(done, 50));
  return Boolean(registration.waiting);
});

// Opens the page; `query` is the address's query (sim=..., lang=...). Fails on a script error.
// `timeout`: the limit of the load, in ms (the VM's first load is slow).
export async function openPage(browser, origin, query, { locale = 'en-US', viewport = { width: 1000, height: 720 }, timeout = 30000 } = {}) {
  const context = await browser.newContext({ locale, viewport });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.errors = errors;
  await page.goto(`${origin}/${query ? `?${query}` : ''}`, { timeout });
  await page.waitForFunction(() => !document.body.classList.contains('loading'), null, { timeout });
  return page;
}

// The version panel as "label: value" lines, and the hint as it reads.
export async function panel(page) {
  const cells = await page.locator('dl > *').allInnerTexts();
  const rows = [];
  for (let i = 0; i + 1 < cells.length; i += 2) rows.push(`${cells[i]}: ${cells[i + 1]}`);
  return rows.join('\n');
}
export const hint = (page) => page.getByRole('main').locator('p[aria-live]').innerText();

// A message box: a dialog with buttons (an error box is an alert dialog).
export const boxes = (page) => page.getByRole('dialog').or(page.getByRole('alertdialog')).filter({ has: page.getByRole('button') });

// The message box open now: its caption and text; null when none comes within `timeout`.
export async function box(page, timeout = 20000) {
  const dialog = boxes(page);
  try {
    await dialog.waitFor({ timeout });
  } catch {
    return null;
  }
  return { caption: await dialog.getByRole('heading').innerText(), text: await dialog.locator('p').innerText() };
}
export const answer = (page, label) => boxes(page).getByRole('button', { name: label, exact: true }).click();
export const updateButton = (page) => page.getByRole('button', { name: 'Update', exact: true });

export async function screenshot(page, name) {
  mkdirSync(screenshotDir, { recursive: true });
  await page.screenshot({ path: join(screenshotDir, `${name}.png`) });
}

// Records every position the progress bar is given, from now on, in window.positions.
export function recordProgress(page) {
  return page.evaluate(() => {
    window.positions = [];
    const bar = document.querySelector('progress');
    const value = Object.getOwnPropertyDescriptor(HTMLProgressElement.prototype, 'value');
    Object.defineProperty(bar, 'value', {
      configurable: true,
      get() { return value.get.call(this); },
      set(position) { value.set.call(this, position); window.positions.push(position); },
    });
  });
}
