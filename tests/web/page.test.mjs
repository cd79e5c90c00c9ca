// The updater's page on the simulated unit (?sim=SCENARIO) in the system's Chromium: what it
// shows when it opens, every way an update ends, the keyboard, German, a narrow window, a
// browser without WebHID; without a network after one visit, a new version, installability,
// an image that can't be downloaded, what the page says when it can't start, and the project's
// server. Screenshots of each state go to the screenshot folder (driver.mjs).
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import { createHash } from 'node:crypto';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import {
  answer, box, boxes, hint, openPage, pageDir, panel, recordProgress, screenshot, servePage, startBrowser,
  newVersionWaits, startBrowserWithProfile, storedVersion, updateButton,
} from './driver.mjs';

const repo = resolve(new URL('../..', import.meta.url).pathname);

const READY = "A programming unit was found and is ready to update. To update to new ESC firmware, please click on the 'Update'-Button.";
const SUCCESS = 'The update of the ESC was successful!';
const FAILURE_HINT = 'Update failed. Please try again. If the error still appears, please contact the VELQUOR Service';
const WARNING = "IMPORTANT: Don't interrupt update process!";
const PROGRESS = 'Firmware update in progress, please wait...';
const PREPARING = "Locking the programming unit, switching the ESC's write protection off and erasing the ESC. Don't unplug anything.";
const axeSource = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

// What axe-core finds serious or critical on the page as it stands, as "rule: targets" lines.
async function accessibilityFaults(page) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.evaluate(axeSource);
  const found = await page.evaluate(async () => (await axe.run(document, { resultTypes: ['violations'] })).violations
    .filter((violation) => violation.impact === 'serious' || violation.impact === 'critical')
    .map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target.join(' ')).join(', ')}`));
  return found;
}
// The tab hidden behind another, as the page sees it.
const hideTab = (page) => page.evaluate(() => {
  Object.defineProperty(document, 'hidden', { configurable: true, get: () => true });
  Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => 'hidden' });
  document.dispatchEvent(new Event('visibilitychange'));
});

let server;
let browser;
before(async () => {
  server = await servePage();
  browser = await startBrowser();
});
after(async () => {
  await browser?.close();
  server?.close();
});

describe('the page opens on the unit as the window does', () => {
  const cases = [
    { name: 'setbox', query: 'sim=', panel: 'SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24', hint: READY, update: true },
    { name: 'dialpuck', query: 'sim=unit=dialpuck', panel: 'DIALPUCK: 1.25\nESC-bootloader: 1.5\nESC: 1.24', hint: READY, update: true },
    { name: 'no-unit', query: 'sim=unit=none', panel: 'programming unit: 0.0.0\nESC-bootloader: 0.0.0\nESC: 0.0.0',
      hint: 'No programming unit was found on the USB Port.', update: false },
    { name: 'ignored-controller', query: 'sim=type=0x0a0640fa', panel: 'SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24', hint: '', update: false },
    { name: 'other-unit-mode', query: 'sim=mode=1', panel: 'programming unit: 0.0.0\nESC-bootloader: 0.0.0\nESC: 0.0.0',
      hint: 'A programming unit was found on the USB Port which is in the wrong mode.', update: false },
    { name: 'german', query: 'sim=&lang=de', panel: 'SETBOX: 1.25\nRegler-Bootloader: 1.5\nRegler: 1.24',
      hint: 'Am USB Bus wurde eine Programmiereinheit mit angeschlossenem Regler gefunden', update: true },
  ];
  for (const c of cases) {
    test(c.name, async () => {
      const page = await openPage(browser, server.origin, c.query);
      assert.equal(await panel(page), c.panel);
      const shown = await hint(page);
      assert.ok(c.hint === '' ? shown === '' : shown.startsWith(c.hint), shown);
      assert.equal(await updateButton(page).isEnabled(), c.update);
      assert.match(await page.getByText(/^Updater \d/).innerText(), /^Updater 2\.0\.0(\+test-images)?, (ESC firmware|Regler-Firmware) 1\.25$/);
      assert.deepEqual(page.errors, []);
      await screenshot(page, `start-${c.name}`);
      await page.context().close();
    });
  }
});

describe('an update, every way it ends', () => {
  // Each run: the answers given to the boxes in turn, the box that ends it (null: success).
  const cases = [
    { name: 'success', query: 'sim=', answers: ['OK'], end: null, panel: 'ESC: 1.25' },
    { name: 'refused-block', query: 'sim=fail=block%235:refuse:7', answers: ['OK'],
      end: { caption: 'Update failed!', text: 'Error when writing last firmware data block. Update cancelled.\nThe system shows following errorcode: 0x00000007-0x00000000' } },
    { name: 'silent-unit', query: 'sim=fail=lock:hang', answers: ['OK'],
      end: { caption: 'Update failed!', text: "System-Lock of programming unit couldn't be set. Update process cancelled.\nThe system shows following errorcode: 0xfffffffd-0x000005b4" } },
    { name: 'unplugged-mid-transfer', query: 'sim=unplug=block%23100', answers: ['OK'],
      end: { caption: 'Update failed!', text: 'Error when writing last firmware data block. Update cancelled.\nThe system shows following errorcode: 0xfffffffe-0x0000048f' } },
    { name: 'protection-not-on-again', query: 'sim=fail=protect-on:refuse:5', answers: ['OK'],
      end: { caption: 'Update failed!', text: 'The new firmware was written, but the ESC could not be finished: its write protection could not be switched on again. The ESC has no working firmware now. Please repeat the update.\nThe system shows following errorcode: 0x00000005-0x00000000' } },
    { name: 'same-version-yes', query: 'sim=fw=0x0119', answers: ['OK', 'Yes'], end: null, panel: 'ESC: 1.25' },
  ];
  for (const c of cases) {
    test(c.name, async () => {
      const page = await openPage(browser, server.origin, c.query);
      await recordProgress(page);
      await updateButton(page).click();
      for (const label of c.answers) {
        assert.ok(await box(page), `a box for ${label}`);
        await answer(page, label);
      }
      if (c.end === null) {
        await page.getByText(SUCCESS).waitFor({ timeout: 30000 });
        assert.ok((await panel(page)).endsWith(c.panel));
        assert.equal(await updateButton(page).isEnabled(), false);
        const positions = await page.evaluate(() => window.positions);
        assert.ok(positions.length > 100, `the bar moved ${positions.length} times`);
        assert.deepEqual(positions, [...positions].sort((a, b) => a - b), 'the bar only rises');
        assert.equal(positions.at(-1), 100);
      } else {
        assert.deepEqual(await box(page), c.end);
        await screenshot(page, `end-${c.name}`);
        await answer(page, 'OK');
        await page.getByText(FAILURE_HINT).waitFor();
        assert.equal(await updateButton(page).isEnabled(), false);
      }
      await screenshot(page, `after-${c.name}`);
      assert.deepEqual(page.errors, []);
      await page.context().close();
    });
  }

  test('declined: No to the version question, Escape at the warning', async () => {
    for (const [query, steps] of [['sim=fw=0x0119', [['OK'], ['No']]], ['sim=', [['Escape']]]]) {
      const page = await openPage(browser, server.origin, query);
      await updateButton(page).click();
      for (const [step] of steps) {
        assert.ok(await box(page));
        if (step === 'Escape') await page.keyboard.press('Escape');
        else await answer(page, step);
      }
      await boxes(page).waitFor({ state: 'detached' });
      assert.ok((await hint(page)).startsWith(READY), 'nothing changed');
      assert.equal(await updateButton(page).isEnabled(), true);
      await page.context().close();
    }
  });

  test('a damaged image from the page\'s folder is refused before anything is sent', async () => {
    const page = await openPage(browser, server.origin, 'sim=');
    await page.route('**/images/157.bin', async (route) => {
      const response = await route.fetch();
      const body = await response.body();
      body[body.length >> 1] ^= 0x01;
      await route.fulfill({ response, body });
    });
    await updateButton(page).click();
    await answer(page, 'OK');
    assert.deepEqual(await box(page), {
      caption: 'Update failed!',
      text: 'The firmware carried by this updater is damaged: it is not what was built into it. Nothing was '
        + 'written; the firmware of the ESC was not changed. Please download the updater again.',
    });
    assert.equal(await page.getByRole('progressbar').isVisible(), false, 'no transfer began');
    await page.context().close();
  });

  test('German, answered with Enter', async () => {
    const page = await openPage(browser, server.origin, 'sim=fail=address:refuse:5&lang=de');
    await updateButton(page).click();
    assert.equal((await box(page)).caption, 'Wichtiger Hinweis');
    await page.keyboard.press('Enter');
    assert.deepEqual(await box(page), {
      caption: 'Update fehlgeschlagen!',
      text: 'Die Speicheradresse, an welche die neue Firmware geschrieben wird, konnte nicht gesetzt werden. '
        + 'Das Update wird abgebrochen\nDas System meldet Fehlercode 0x00000005-0x00000000',
    });
    await screenshot(page, 'german-failure');
    await page.keyboard.press('Enter');
    await boxes(page).waitFor({ state: 'detached' });
    await page.context().close();
  });
});

describe('the page itself', () => {
  test('asks before it is left while the flash commands run, not before or after', async () => {
    // In real time: the refused erase ends the flash commands 5 s after the lock.
    const page = await openPage(browser, server.origin, 'sim=fail=erase:refuse:9&realtime=1');
    const asked = [];
    page.on('dialog', (dialog) => {
      asked.push(dialog.type());
      dialog.dismiss();
    });
    await updateButton(page).click();
    await answer(page, 'OK');
    await page.waitForTimeout(1500);
    await page.close({ runBeforeUnload: true });
    await page.waitForTimeout(300);
    assert.deepEqual(asked, ['beforeunload']);
    assert.equal(page.isClosed(), false, 'still on the page');
    assert.equal((await box(page, 15000)).caption, 'Update failed!');
    await answer(page, 'OK');
    await Promise.all([page.waitForEvent('close', { timeout: 5000 }), page.close({ runBeforeUnload: true })]);
    assert.deepEqual(asked, ['beforeunload'], 'asked once, while the flash commands ran');
  });

  test('switches its language in place', async () => {
    const page = await openPage(browser, server.origin, 'sim=');
    await page.getByLabel('Language').selectOption('de');
    await page.getByText('Regler-Bootloader').waitFor();
    assert.ok((await hint(page)).startsWith('Am USB Bus wurde eine Programmiereinheit'));
    assert.equal(await page.getByText('Sprache', { exact: true }).count(), 1);
    assert.ok(page.url().includes('lang=de'));
    await page.context().close();
  });

  test('fits a narrow window', async () => {
    const page = await openPage(browser, server.origin, 'sim=', { viewport: { width: 360, height: 740 } });
    const overflow = await page.evaluate(() => document.scrollingElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `${overflow} pixels wider than the window`);
    await updateButton(page).click();
    await answer(page, 'OK');
    await page.getByText(SUCCESS).waitFor();
    await screenshot(page, 'narrow');
    await page.context().close();
  });

  test('a browser without WebHID is told which browsers work, and the demo still runs', async () => {
    for (const query of ['', 'sim=']) {
      const context = await browser.newContext();
      await context.addInitScript(() => { delete Navigator.prototype.hid; });
      const page = await context.newPage();
      await page.goto(`${server.origin}/?${query}`);
      await page.waitForFunction(() => !document.body.classList.contains('loading'));
      const note = page.getByRole('alert');
      if (query === '') {
        assert.match(await note.innerText(), /Chrome, Edge or Opera/);
        assert.equal(await page.getByRole('button', { name: 'Connect programming unit' }).isEnabled(), false);
        await screenshot(page, 'no-webhid');
      } else {
        assert.equal(await note.isVisible(), false);
        assert.equal(await updateButton(page).isEnabled(), true);
      }
      await context.close();
    }
  });

  test('loads nothing from elsewhere, and says what it loaded', async () => {
    // The page alone: its service worker's store is measured by the offline case.
    const context = await browser.newContext({ serviceWorkers: 'block' });
    const foreign = [];
    const loaded = [];
    context.on('request', (request) => {
      if (!request.url().startsWith(server.origin)) foreign.push(request.url());
      else loaded.push(new URL(request.url()).pathname);
    });
    const before = server.served.bytes;
    const page = await context.newPage();
    await page.goto(`${server.origin}/?sim=`);
    await page.waitForFunction(() => !document.body.classList.contains('loading'));
    assert.deepEqual(foreign, []);
    assert.ok(!loaded.some((path) => path.startsWith('/images/')), 'no image before an update');
    console.log(`FIGURE page loaded on opening: ${server.served.bytes - before} bytes over ${loaded.join(' ')}`);
    await context.close();
  });

  // One real-time run that ends at a refused block, looked at on its way: the panel and the
  // warning box, the progress window before the first block (Escape and a close leave it open),
  // the tab's title while hidden, the transfer (Escape again), the failure box; axe-core at each.
  test('the progress window from the first flash command, the tab\'s title, the log, accessible all the way', async () => {
    const page = await openPage(browser, server.origin, 'sim=fail=block%23150:refuse:7&realtime=1');
    const progress = page.getByRole('dialog', { name: PROGRESS });
    const bar = progress.getByRole('progressbar', { name: PROGRESS });
    const faults = {};
    faults.panel = await accessibilityFaults(page);
    await updateButton(page).click();
    assert.equal((await box(page)).caption, 'important note');
    assert.ok(await page.getByRole('dialog', { name: 'important note' }).getByRole('button', { name: 'OK' }).evaluate((button) => button === document.activeElement), 'the focus in the box');
    faults.warning = await accessibilityFaults(page);
    await answer(page, 'OK');

    // Erasing: the window is there, its bar has no value yet, its line says what happens.
    await progress.waitFor({ timeout: 2000 });
    assert.equal(await bar.evaluate((element) => element.position), -1, 'no value before the first block');
    assert.equal(await progress.locator('p').first().innerText(), PREPARING);
    assert.equal(await page.getByRole('status').innerText(), PREPARING);
    faults.progress = await accessibilityFaults(page);
    await page.keyboard.press('Escape');
    await page.keyboard.press('Escape');
    assert.equal(await progress.isVisible(), true, 'Escape left it open');
    await page.evaluate(() => document.querySelector('dialog[open]').close());
    await progress.waitFor({ timeout: 1000 });
    await hideTab(page);
    assert.equal(await page.title(), '0 % \u00b7 VELQUOR ORVANT QX FW Updater 1.25');

    // The transfer: a percentage in the bar and in the title; Escape changes nothing.
    await page.waitForFunction(() => document.querySelector('progress').value >= 2, null, { timeout: 10000 });
    await page.keyboard.press('Escape');
    assert.equal(await progress.isVisible(), true, 'Escape during the transfer left it open');
    const percent = await bar.evaluate((element) => element.value);
    assert.match(await page.title(), new RegExp(`^${percent} % \u00b7 VELQUOR`));
    assert.match(await page.getByRole('status').innerText(), /^Written: \d+ %$/);

    const failure = page.getByRole('alertdialog', { name: 'Update failed!' });
    await failure.waitFor({ timeout: 15000 });
    assert.equal(await failure.getAttribute('aria-describedby') !== null, true);
    assert.equal(await progress.isVisible(), false);
    assert.equal(await page.title(), 'VELQUOR ORVANT QX FW Updater 1.25', 'the title once the flash commands ended');
    faults.failure = await accessibilityFaults(page);
    await answer(page, 'OK');
    assert.deepEqual(faults, { panel: [], warning: [], progress: [], failure: [] });

    // The log of the visit: the header, every report (the refused block's reply the last one),
    // the outcome with the step and both codes.
    const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Save log' }).click()]);
    assert.match(download.suggestedFilename(), /^velquor-log-[0-9T-]+\.txt$/);
    const log = readFileSync(await download.path(), 'utf8');
    const agent = await page.evaluate(() => navigator.userAgent);
    assert.ok(log.startsWith('velquor-record 1\nupdater 2.0.0+test-images\nfirmware 1.25\nfront-end page\nedge sim\n'
      + `scenario fail=block#150:refuse:7\ncommand page\nbrowser ${agent}\nunit 21b8:0002 input 60 output 60\n`), log.slice(0, 400));
    const lines = log.trimEnd().split('\n');
    const writes = lines.filter((line) => /^\d+ > 01( [0-9a-f]{2}){59}$/.test(line));
    const reads = lines.filter((line) => /^\d+ < 02( [0-9a-f]{2}){59}$/.test(line));
    assert.ok(writes.length > 150 && reads.length === writes.length, `${writes.length} written, ${reads.length} read`);
    assert.match(lines.at(-1), /^\d+ outcome failure block 0x00000007-0x00000000 firmware none$/);
    const times = lines.filter((line) => /^\d+ /.test(line)).map((line) => Number(line.split(' ')[0]));
    assert.deepEqual(times, [...times].sort((a, b) => a - b), 'times only rise');
    assert.deepEqual(page.errors, []);
    await page.context().close();
  });
});

describe('offline, installable, and truthful when something is in the way', () => {
  const NOT_DOWNLOADED = 'The firmware for the connected ESC could not be downloaded. Nothing was written; the firmware '
    + 'of the ESC was not changed. Please connect to the internet once (or open this page once with a network) and try again.';

  test('after one visit it opens, identifies and updates with the server gone', async () => {
    const own = await servePage();
    const page = await openPage(browser, own.origin, 'sim=');
    const store = await storedVersion(page);
    assert.equal(store.names.length, 1, store.names.join());
    assert.match(store.names[0], /^velquor-2\.0\.0(\+test-images)?-[0-9a-f]{16}$/);
    assert.equal(store.images, 41);
    console.log(`FIGURE the store after the first visit: ${store.bytes} bytes in ${store.files} files (${store.images} images)`);
    await own.close();
    await page.reload();
    await page.waitForFunction(() => !document.body.classList.contains('loading'));
    assert.equal(await panel(page), 'SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24');
    await updateButton(page).click();
    await answer(page, 'OK');
    await page.getByText(SUCCESS).waitFor({ timeout: 30000 });
    assert.ok((await panel(page)).endsWith('ESC: 1.25'));
    assert.deepEqual(page.errors, []);
    await page.context().close();
  });

  test('a new version is stored beside the old one and used only once no page of the old one is open', async () => {
    const own = await servePage();
    const first = await openPage(browser, own.origin, 'sim=');
    const old = (await storedVersion(first)).names[0];
    await first.reload();  // now served by the worker of the stored version
    await first.waitForFunction(() => !document.body.classList.contains('loading') && navigator.serviceWorker.controller);
    // The next version: here the same files under another store's name, from a host that
    // answers no HEAD request: the files are downloaded again instead of taken over.
    const list = readFileSync(join(pageDir, 'sw-store.js'), 'utf8');
    own.answers['/sw-store.js'] = { status: 200, type: 'text/javascript', body: list.replace(old, `${old}-next`) };
    own.refusesHead = true;
    const waiting = () => newVersionWaits(first);
    assert.ok(await waiting(), 'the new version waits');
    assert.equal(own.served.requests.filter((line) => line.startsWith('GET /images/')).length, 2 * 41);
    await first.waitForTimeout(500);
    assert.deepEqual((await first.evaluate(() => caches.keys())).sort(), [old, `${old}-next`]);
    await updateButton(first).click();
    await answer(first, 'OK');
    await first.getByText(SUCCESS).waitFor({ timeout: 30000 });
    assert.ok(await waiting(), 'still waiting while the old page is open');
    const context = first.context();
    await first.close();
    const second = await context.newPage();
    await second.goto(`${own.origin}/?sim=`);
    await second.waitForFunction(async () => {
      const names = await caches.keys();
      return names.length === 1 && names[0].endsWith('-next');
    });
    await context.close();
    await own.close();
  });

  test('Chromium finds it installable', async () => {
    const profile = mkdtempSync(join(tmpdir(), 'velquor-profile-'));
    const context = await startBrowserWithProfile(profile);
    try {
      const page = await context.newPage();
      await page.goto(`${server.origin}/`);
      await page.waitForFunction(() => !document.body.classList.contains('loading'));
      const cdp = await context.newCDPSession(page);
      const manifest = await cdp.send('Page.getAppManifest');
      assert.deepEqual(manifest.errors, []);
      assert.deepEqual((await cdp.send('Page.getInstallabilityErrors')).installabilityErrors, []);
    } finally {
      await context.close();
      rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 300 });
    }
  });

  // The image fetched for the update is answered otherwise; `then` is the answer of the next
  // try (null: the image as it is), which takes place without a reload.
  const imageCases = [
    { name: 'no-image', answer: { status: 404 }, then: { status: 404 } },
    { name: 'server-error', answer: { status: 503 }, then: null },
    { name: 'captive-portal', answer: { status: 200, type: 'text/html', body: '<!DOCTYPE html><title>Log in</title><p>Log in to use the network' }, then: null },
  ];
  for (const c of imageCases) {
    test(`an image that can't be downloaded: ${c.name}`, async () => {
      const own = await servePage();
      own.answers['/images/157.bin'] = c.answer;
      const page = await openPage(browser, own.origin, 'sim=');
      await updateButton(page).click();
      await answer(page, 'OK');
      assert.deepEqual(await box(page), { caption: 'Update failed!', text: NOT_DOWNLOADED });
      await screenshot(page, `image-${c.name}`);
      await answer(page, 'OK');
      assert.ok((await hint(page)).startsWith(READY), 'nothing was sent: the unit stays ready');
      // Nothing of the answer is kept, neither by the updater nor in a store.
      await page.waitForFunction(async () => {
        const registration = await navigator.serviceWorker.getRegistration();
        return !registration || (!registration.installing && !registration.waiting && !registration.active);
      });
      assert.deepEqual(await page.evaluate(() => caches.keys()), []);
      if (c.then) own.answers['/images/157.bin'] = c.then;
      else delete own.answers['/images/157.bin'];
      await updateButton(page).click();
      await answer(page, 'OK');
      if (c.then) assert.equal((await box(page)).text, NOT_DOWNLOADED);
      else await page.getByText(SUCCESS).waitFor({ timeout: 30000 });
      await page.context().close();
      await own.close();
    });
  }

  // What the page says when it can't start as it should: the server's headers and answers,
  // the address, and the message expected (null: none, and the demo runs).
  const startCases = [
    { name: 'hid-blocked', headers: { 'Permissions-Policy': 'hid=()' }, query: '', says: /WebHID is blocked for it/ },
    { name: 'hid-blocked-demo', headers: { 'Permissions-Policy': 'hid=()' }, query: 'sim=', says: null },
    { name: 'framed-without-hid', framed: true, query: '', says: /WebHID is blocked for it/ },
    { name: 'no-timer-worker', answers: { '/timer-worker.js': { status: 404 } }, query: 'sim=', says: /its timer \(timer-worker\.js\) could not be loaded/ },
    { name: 'no-webassembly', answers: { '/velquor.wasm': { status: 404 } }, query: 'sim=', says: /its program \(velquor\.js, velquor\.wasm\) could not be loaded or run/ },
    { name: 'file', file: true, says: /opened as a file \(file:\/\/\)/ },
    { name: 'file-german', file: true, query: 'lang=de', says: /als Datei geöffnet \(file:\/\/\)/ },
  ];
  for (const c of startCases) {
    test(`says what is in the way: ${c.name}`, async () => {
      const own = await servePage();
      Object.assign(own.headers, c.headers);
      Object.assign(own.answers, c.answers);
      const context = await browser.newContext({ locale: 'en-US' });
      const page = await context.newPage();
      const address = `${c.file ? `file://${pageDir}/index.html` : `${own.origin}/`}${c.query ? `?${c.query}` : ''}`;
      // Framed: the page inside a frame of another origin, which does not allow hid.
      const host = c.framed ? await servePage() : null;
      if (host) host.answers['/'] = { status: 200, type: 'text/html', body: `<!DOCTYPE html><iframe src="${address}" width="900" height="600"></iframe>` };
      await page.goto(host ? `${host.origin}/` : address);
      const view = host ? page.frameLocator('iframe') : page;
      const body = host ? page.frames()[1] : page;
      await body.waitForFunction(() => !document.body.classList.contains('loading'), null, { timeout: 15000 });
      const alerts = view.getByRole('alert');
      if (c.says) {
        await alerts.first().waitFor();
        assert.match(await alerts.first().innerText(), c.says);
      } else {
        assert.equal(await alerts.count(), 0);
        assert.equal(await updateButton(page).isEnabled(), true);
      }
      await screenshot(page, `start-${c.name}`);
      await context.close();
      await own.close();
      await host?.close();
    });
  }

  test('serve-web.mjs answers a malformed address with 400 and serves nothing outside its folder', async () => {
    const top = mkdtempSync(join(tmpdir(), 'velquor-serve-'));
    mkdirSync(join(top, 'page'));
    mkdirSync(join(top, 'page-private'));
    writeFileSync(join(top, 'page', 'index.html'), '<!DOCTYPE html><title>page</title>');
    writeFileSync(join(top, 'page-private', 'secret.txt'), 'secret');
    const child = spawn(process.execPath, [join(repo, 'scripts/serve-web.mjs'), join(top, 'page'), '0']);
    try {
      const port = await new Promise((found, failed) => {
        child.stdout.on('data', (data) => {
          const match = /127\.0\.0\.1:(\d+)/.exec(String(data));
          if (match) found(Number(match[1]));
        });
        child.on('exit', () => failed(new Error('serve-web.mjs ended')));
      });
      const get = (path) => new Promise((done, failed) => {
        http.get({ host: '127.0.0.1', port, path }, (response) => {
          response.resume();
          done({ status: response.statusCode, headers: response.headers });
        }).on('error', failed);
      });
      for (const [path, status] of [['/', 200], ['/%', 400], ['/..%2fpage-private/secret.txt', 404],
        ['/%2e%2e/page-private/secret.txt', 404], ['/..%5cpage-private%5csecret.txt', 404], ['/index.html', 200]]) {
        assert.equal((await get(path)).status, status, path);
      }
      assert.match((await get('/')).headers['content-security-policy'], /frame-ancestors 'none'/);
      assert.equal(child.exitCode, null, 'still serving');
    } finally {
      child.kill();
      rmSync(top, { recursive: true, force: true, maxRetries: 10, retryDelay: 300 });
    }
  });
});

describe('the stored page: the host\'s protections, and a new version', () => {
  // What the README asks a host to send, with framing allowed to `ancestors` only.
  const protections = (ancestors) => ({
    'Content-Security-Policy': "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; worker-src 'self'; "
      + "connect-src 'self'; img-src 'self'; style-src 'self'; manifest-src 'self'; base-uri 'none'; "
      + `form-action 'none'; frame-ancestors ${ancestors}`,
    'X-Content-Type-Options': 'nosniff',
    ...(ancestors === "'none'" ? { 'X-Frame-Options': 'DENY' } : {}),
  });

  // Whether the updater's page shows inside a frame of the framer's page (another origin).
  async function shownFramed(context, framer, address) {
    framer.answers['/'] = { status: 200, type: 'text/html', body: `<!DOCTYPE html><iframe src="${address}"></iframe>` };
    const page = await context.newPage();
    await page.goto(`${framer.origin}/`);  // its load waits for the frame's, refused or not
    const shown = await page.frameLocator('iframe').getByRole('heading', { name: 'VELQUOR ORVANT QX FW Updater' }).count();
    await page.close();
    return shown === 1;
  }

  // The frame on the first visit (from the host), with the version stored, and with the host
  // stopped. The second case shows that the stored page does reach a frame with the host
  // stopped, so that the first case's refusal there is the stored policy's.
  const framingCases = [
    { name: "refused by frame-ancestors 'none' and X-Frame-Options: DENY", ancestors: () => "'none'", shown: false },
    { name: 'allowed to the one origin the host names', ancestors: (framer) => framer.origin, shown: true },
  ];
  for (const c of framingCases) {
    test(`a page of another origin framing the updater: ${c.name}, online and offline`, async () => {
      const own = await servePage();
      const framer = await servePage();
      Object.assign(own.headers, protections(c.ancestors(framer)));
      const context = await browser.newContext();
      const address = `${own.origin}/?sim=`;
      const seen = [await shownFramed(context, framer, address)];
      const page = await context.newPage();
      await page.goto(address);
      await storedVersion(page);
      seen.push(await shownFramed(context, framer, address));
      await own.close();
      seen.push(await shownFramed(context, framer, address));
      assert.deepEqual(seen, [c.shown, c.shown, c.shown], 'first visit, stored, host stopped');
      await context.close();
      await framer.close();
    });
  }

  test('a new version with one other image downloads that image and its changed files only', async () => {
    const own = await servePage();
    const framer = await servePage();
    const page = await openPage(browser, own.origin, 'sim=');
    const first = await storedVersion(page);
    // Served by the stored version's worker, so that the next one waits for this page to close
    // (a worker with no page of its own would give way to the next at once).
    await page.reload();
    await page.waitForFunction(() => !document.body.classList.contains('loading') && navigator.serviceWorker.controller);
    // The next version: another image, and so another velquor.wasm (the core carries the images'
    // digests; here the module with a custom section appended). Its host now forbids framing.
    const listText = readFileSync(join(pageDir, 'sw-store.js'), 'utf8');
    const list = new Map([...listText.matchAll(/\["([^"]+)", "([0-9a-f]{64})"\]/g)].map(([, file, digest]) => [file, digest]));
    const image = [...list.keys()].find((file) => file.startsWith('images/') && file !== 'images/157.bin');
    const changed = { [image]: readFileSync(join(pageDir, image)), 'velquor.wasm': Buffer.concat([
      readFileSync(join(pageDir, 'velquor.wasm')), Buffer.from([0, 5, 4, ...Buffer.from('next')])]) };
    changed[image][0] ^= 0xff;
    let nextText = listText.replace(first.names[0], `${first.names[0]}-next`);
    for (const [file, bytes] of Object.entries(changed)) {
      const digest = createHash('sha256').update(bytes).digest('hex');
      nextText = nextText.replace(list.get(file), digest);
      list.set(file, digest);
      own.answers[`/${file}`] = { status: 200, type: 'application/octet-stream', body: bytes };
    }
    own.answers['/sw-store.js'] = { status: 200, type: 'text/javascript', body: nextText };
    Object.assign(own.headers, protections("'none'"));
    own.served.bytes = 0;
    own.served.requests.length = 0;

    assert.ok(await newVersionWaits(page), 'the new version is stored and waits');
    const gets = [...new Set(own.served.requests.filter((line) => line.startsWith('GET ')))].sort();
    assert.deepEqual(gets, ['GET /sw-store.js', 'GET /sw.js', `GET /${image}`, 'GET /velquor.wasm'].sort());
    const heads = own.served.requests.filter((line) => line.startsWith('HEAD ')).length;
    console.log(`FIGURE a new version with one image changed: ${own.served.bytes} bytes downloaded (sw.js, sw-store.js, `
      + `${image}, velquor.wasm) and ${heads} HEAD requests, for a store of ${first.bytes} bytes`);

    // Used once the old page is closed: the old store gone, the new one complete with every
    // file the listed one; with the host stopped, the frame refused (index.html was taken over
    // with the host's new headers) and the page opens.
    const context = page.context();
    await page.close();
    const next = await context.newPage();
    await next.goto(`${own.origin}/?sim=`);
    await next.waitForFunction(async (name) => (await caches.keys()).join() === name, `${first.names[0]}-next`);
    const stored = await next.evaluate(async () => {
      const cache = await caches.open((await caches.keys())[0]);
      return Promise.all((await cache.keys()).map(async (request) => {
        const digest = await crypto.subtle.digest('SHA-256', await (await cache.match(request)).arrayBuffer());
        return [new URL(request.url).pathname.slice(1), [...new Uint8Array(digest)].map((byte) => byte.toString(16).padStart(2, '0')).join('')];
      }));
    });
    assert.deepEqual(new Map(stored), list);
    await own.close();
    assert.equal(await shownFramed(context, framer, `${own.origin}/?sim=`), false, 'framing refused');
    await next.reload();
    await next.waitForFunction(() => !document.body.classList.contains('loading'));
    assert.equal(await panel(next), 'SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24');
    await context.close();
    await framer.close();
  });
});
