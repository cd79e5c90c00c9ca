// The page on a real WebHID stack: the system's Chromium, headless inside the test machine of
// run-vm.sh, talks through WebHID to the virtual programming unit (velquor-uhid-unit on the
// kernel's uhid, hidraw and udev). A managed policy grants http://127.0.0.1:8000 the units, so
// the page finds them with no chooser and no click. The page is driven as a user drives it, by
// what it shows; the unit's flash and its log of requests are read when it is pulled out.
//
// Runs only in that machine (tests/web/vm/vm-cases.sh starts it, from tests/web):
//   node --test-reporter=tap vm/page-webhid.mjs
// VELQUOR_LINUX_BUILD names the Linux build with the virtual unit, VELQUOR_PAGE_DIR the page
// (built with VELQUOR_ALLOW_TEST_IMAGES=ON: the virtual unit stands for a real one).
import { after, afterEach, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { chmodSync, chownSync, existsSync, mkdirSync, readFileSync, readdirSync, readlinkSync, rmSync, writeFileSync } from 'node:fs';
import { chromium } from 'playwright-core';
import { answer, box, hint, openPage, panel, screenshot, servePage, startBrowser, updateButton } from '../driver.mjs';

const PORT = 8000;  // the origin the policy names
const PAUSES_MS = 46040;
const CONTROLLER_TYPE = '0x110fa0d2';  // the virtual unit's controller
const BLOCK_BYTES = 48;
const READY = "A programming unit was found and is ready to update. To update to new ESC firmware, please click on the 'Update'-Button.";
const CONNECTION_LOST = 'The USB Connection between programming unit and PC was lost.';
const SUCCESS = 'The update of the ESC was successful!';
const FAILURE_HINT = 'Update failed. Please try again. If the error still appears, please contact the VELQUOR Service';
const SETBOX_PANEL = 'SETBOX: 1.25\nESC-bootloader: 1.5\nESC: 1.24';
const DIALPUCK_PANEL = 'DIALPUCK: 1.25\nESC-bootloader: 1.5\nESC: 1.24';
// The three versions the panel shows, as "1.25 1.5 1.24"; no unit: "0.0.0 0.0.0 0.0.0".
const NO_VERSIONS = '0.0.0 0.0.0 0.0.0';
const versions = async () => (await panel(page)).split('\n').map((row) => row.split(': ')[1]).join(' ');
// The hint's first `text.length` characters, to be compared with `text`.
const hintStart = (text) => async () => (await hint(page)).slice(0, text.length);
const updateEnabled = () => updateButton(page).isEnabled();
const BLOCK_FAILED = 'Error when writing last firmware data block. Update cancelled.\nThe system shows following errorcode: ';

const linuxBuild = process.env.VELQUOR_LINUX_BUILD;
const IN_USE = 'The programming unit is in use by another tab or program. This page takes it up as soon as the other lets it go.';
const NODE_REFUSED = 'The programming unit is plugged in, but this browser may not open it. On Linux that takes the udev rule';
const RULE_COMMAND = "| sudo tee /etc/udev/rules.d/70-velquor.rules && sudo udevadm control --reload-rules";
// The page's real-time update, for velquor-flash's beside it.
let pageUpdateMs = null;
const unitProgram = `${linuxBuild}/tests/linux/velquor-uhid-unit`;
const FLASH = '/tmp/unit-flash.bin';
const UNIT_LOG = '/tmp/unit.log';
const EXPECTED = '/tmp/expected.bin';

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls `probe` until it returns `wanted`; fails with the last value seen after `limitMs`.
async function until(probe, wanted, limitMs, what) {
  const end = Date.now() + limitMs;
  let seen = await probe();
  while (seen !== wanted && Date.now() < end) {
    await pause(200);
    seen = await probe();
  }
  assert.equal(seen, wanted, `${what} within ${limitMs} ms`);
}

// ---- The virtual unit -----------------------------------------------------------------------

// hidraw nodes of programming units (vendor 0x21B8, product 1 or 2).
const unitNodes = () => readdirSync('/sys/class/hidraw').filter((node) =>
  /:21B8:000[12]\./.test(readlinkSync(`/sys/class/hidraw/${node}/device`)));
// Whether udev has taken every unit's node into its database, which the browser reads. (udevadm
// settle does nothing in a chroot.)
const inUdev = () => unitNodes().every((node) => {
  try {
    return existsSync(`/run/udev/data/c${readFileSync(`/sys/class/hidraw/${node}/dev`, 'utf8').trim()}`);
  } catch {
    return false;  // gone meanwhile
  }
});

// The units plugged in and not yet pulled out; pulled out at the end whatever happened.
const plugged = new Set();

// Plugs in a unit with `scenario`; resolves once its node is there and in udev's database.
async function plugIn(scenario) {
  rmSync(FLASH, { force: true });
  rmSync(UNIT_LOG, { force: true });
  const unit = spawn(unitProgram, ['--scenario', scenario, '--flash', FLASH, '--log', UNIT_LOG],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  plugged.add(unit);
  unit.errors = '';
  unit.stderr.on('data', (chunk) => { unit.errors += chunk; });
  unit.ended = new Promise((resolve) => unit.on('exit', (code, signal) => resolve(code ?? signal)));
  unit.pluggedAt = Date.now();
  await until(() => (unitNodes().length > 0 && inUdev()) || unit.exitCode !== null, true, 10000,
    'the unit\'s hidraw node in udev');
  assert.equal(unit.exitCode, null, `the virtual unit ended: ${unit.errors}`);
  return unit;
}

// Pulls the unit out (SIGTERM); resolves with its flash and its log once its node is gone.
async function pullOut(unit) {
  unit.pulledAt = Date.now();
  unit.kill('SIGTERM');
  plugged.delete(unit);
  const status = await Promise.race([unit.ended, pause(10000).then(() => 'still running after 10 s')]);
  assert.equal(status, 0, `the virtual unit's end: ${unit.errors}`);
  await until(() => unitNodes().length, 0, 10000, 'units left');
  return { flash: readFileSync(FLASH), log: readFileSync(UNIT_LOG, 'utf8') };
}

// Whether the flash holds the controller's image and is erased after it.
function holdsImage(flash) {
  const image = readFileSync(EXPECTED);
  return flash.subarray(0, image.length).equals(image) && flash.subarray(image.length).every((byte) => byte === 0xff);
}

// ---- The page ----------------------------------------------------------------------------------

// The page's "Save log", kept where run-vm.sh replays it on the host as the unit's record.
async function saveLog(name) {
  const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Save log' }).click()]);
  mkdirSync(process.env.VELQUOR_RECORD_DIR, { recursive: true });
  await download.saveAs(`${process.env.VELQUOR_RECORD_DIR}/${name}.rec`);
}

// One browser and one tab for every case (a new context costs 8 to 20 s in the VM); each case
// loads the page afresh once its unit is in.
let server;
let browser;
let page;
before(async () => {
  execFileSync(`${linuxBuild}/tests/linux/velquor-expected-image`, [CONTROLLER_TYPE, EXPECTED]);
  server = await servePage(PORT);
  const started = Date.now();
  browser = await startBrowser();
  console.log(`FIGURE Chromium started in the VM (launched and connected): ${Date.now() - started} ms`);
  page = await openPage(browser, server.origin, '', { timeout: 180000 });
  page.setDefaultTimeout(90000);
  page.setDefaultNavigationTimeout(180000);
}, { timeout: 360000 });
// A case that failed may have left its unit in: the next one starts without it.
afterEach(async () => {
  for (const unit of plugged) {
    unit.kill('SIGKILL');
    await Promise.race([unit.ended, pause(10000)]);
  }
  plugged.clear();
});
after(async () => {
  await browser?.close();
  server?.close();
});

// Loads the page with the unit plugged in; it shows the unit at once, or on its 'connect' event
// when the browser took the unit in after the page had asked.
async function loadOnUnit(expectedPanel) {
  const loading = Date.now();
  page.errors.length = 0;
  await page.goto(`${server.origin}/`);
  await page.waitForFunction(() => !document.body.classList.contains('loading'));
  await until(() => panel(page), expectedPanel, 30000, 'the unit\'s panel');
  return Date.now() - loading;
}

describe('a unit granted by the policy, through WebHID', () => {
  test('the SETBOX\'s panel and the ready hint', { timeout: 240000 }, async () => {
    const unit = await plugIn('');
    const took = await loadOnUnit(SETBOX_PANEL);
    await until(hintStart(READY), READY, 5000, 'the ready hint');
    await until(updateEnabled, true, 5000, 'Update enabled');
    assert.deepEqual(page.errors, []);
    await screenshot(page, 'vm-start-setbox');
    await pullOut(unit);
    console.log(`FIGURE page loaded to the SETBOX's panel in the VM: ${took} ms`);
  });

  test('a whole update in real time: success, ESC 1.25, the image in the flash', { timeout: 900000 }, async () => {
    const unit = await plugIn('');
    await loadOnUnit(SETBOX_PANEL);
    // The page notes when the success text stands; the warning's OK is noted as it is clicked.
    await page.evaluate(() => {
      const shown = document.querySelector('[aria-live]');
      new MutationObserver(() => {
        if (shown.textContent.includes('successful')) window.succeededAt ??= performance.now();
      }).observe(shown, { childList: true, characterData: true, subtree: true });
    });
    await updateButton(page).click();
    assert.ok(await box(page), 'the warning');
    await page.evaluate(() => {
      window.answeredAt = performance.now();
      [...document.querySelectorAll('dialog button')].find((button) => button.textContent === 'OK').click();
    });
    // Looked at once a second: a locator's wait would poll the page every frame, and its work in
    // the emulated machine would be counted against the update.
    await until(() => page.evaluate(() => window.succeededAt !== undefined), true, 720000, 'the success text');
    const took = await page.evaluate(() => window.succeededAt - window.answeredAt);
    assert.ok((await panel(page)).endsWith('ESC: 1.25'), await panel(page));
    assert.equal(await updateEnabled(), false);
    assert.deepEqual(page.errors, []);
    await screenshot(page, 'vm-after-update');
    await saveLog('page-webhid-update');

    const { flash, log } = await pullOut(unit);
    const blocks = Math.ceil(readFileSync(EXPECTED).length / BLOCK_BYTES);
    assert.ok(holdsImage(flash), 'the flash holds the image and is erased after it');
    assert.match(log, /unplugged=0/);
    assert.ok(log.includes(`lock,protect-off,erase,address,block*${blocks},protect-on,unlock`), log);
    const requests = blocks + 6;
    pageUpdateMs = took;
    console.log(`FIGURE page update through WebHID in the VM: ${Math.round(took)} ms against ${PAUSES_MS} ms of pauses `
      + `(+${Math.round(took - PAUSES_MS)} ms over ${requests} requests: ${((took - PAUSES_MS) / requests).toFixed(1)} ms each)`);
  });

  // Each run: the scenario, the failure box's code, whether the unit was pulled out, the last
  // block it received. The unit pulled out takes block 100's request and is gone before its
  // reply: the write went through, the read ends when the browser reports the device gone (1167),
  // not at its time limit.
  const failures = [
    { name: 'a block the unit refuses', scenario: 'fail=block#5:refuse:7', code: '0x00000007-0x00000000',
      unplugged: 0, blocks: 5, log: 'page-webhid-refused-block' },
    { name: 'the unit pulled out in mid-transfer', scenario: 'unplug=block#100', code: '0xfffffffd-0x0000048f',
      unplugged: 1, blocks: 100, log: 'page-webhid-unplug' },
  ];
  for (const c of failures) {
    test(`${c.name}: the failure box, never success`, { timeout: 300000 }, async () => {
      const unit = await plugIn(c.scenario);
      await loadOnUnit(SETBOX_PANEL);
      await updateButton(page).click();
      assert.ok(await box(page), 'the warning');
      await answer(page, 'OK');
      assert.deepEqual(await box(page, 180000), { caption: 'Update failed!', text: `${BLOCK_FAILED}${c.code}` });
      await screenshot(page, `vm-end-${c.scenario.replace(/[^a-z0-9]+/g, '-')}`);
      await answer(page, 'OK');
      await until(hintStart(FAILURE_HINT), FAILURE_HINT, 20000, 'the failure hint');
      if (c.unplugged) await until(versions, NO_VERSIONS, 5000, 'no versions once the unit is gone');
      assert.equal(await page.getByText(SUCCESS).count(), 0);
      assert.equal(await updateEnabled(), false);
      assert.deepEqual(page.errors, []);
      await saveLog(c.log);

      const { flash, log } = await pullOut(unit);
      assert.match(log, new RegExp(`unplugged=${c.unplugged}`));
      assert.match(log, new RegExp(`,address,block\\*${c.blocks}(,|\n)`), 'no block after the failed one');
      assert.equal(holdsImage(flash), false, 'the image is not whole in the flash');
    });
  }

  test('units pulled out and plugged in are shown without a reload', { timeout: 300000 }, async () => {
    let unit = await plugIn('');
    await loadOnUnit(SETBOX_PANEL);
    const loadedAt = await page.evaluate(() => performance.timeOrigin);
    // Each step: the unit plugged in (null: the one in is pulled out), and what the page shows.
    const steps = [
      { scenario: null, shown: () => versions(), wanted: NO_VERSIONS, hint: CONNECTION_LOST, update: false },
      { scenario: '', shown: () => panel(page), wanted: SETBOX_PANEL, hint: READY, update: true },
      { scenario: null, shown: () => versions(), wanted: NO_VERSIONS, hint: CONNECTION_LOST, update: false },
      { scenario: 'unit=dialpuck', shown: () => panel(page), wanted: DIALPUCK_PANEL, hint: READY, update: true },
    ];
    const shownAfter = [];
    for (const step of steps) {
      let since;
      if (step.scenario === null) {
        await pullOut(unit);
        since = unit.pulledAt;
      } else {
        unit = await plugIn(step.scenario);
        since = unit.pluggedAt;
      }
      const what = step.scenario === null ? 'after the unplug' : 'after the plug-in';
      await until(step.shown, step.wanted, 20000, `the panel ${what}`);
      shownAfter.push(Date.now() - since);
      await until(hintStart(step.hint), step.hint, 5000, `the hint ${what}`);
      await until(updateEnabled, step.update, 5000, `Update enabled ${what}`);
    }
    assert.equal(await page.evaluate(() => performance.timeOrigin), loadedAt, 'the same page, not reloaded');
    assert.deepEqual(page.errors, []);
    await screenshot(page, 'vm-plugged-in-again');
    await pullOut(unit);
    console.log(`FIGURE page in the VM: the panel followed unplug, plug-in, unplug, plug-in after ${shownAfter.join(', ')} ms`);
  });

  test('velquor-flash\'s real-time update on the same machine, beside the page\'s', { timeout: 300000 }, async () => {
    await page.goto('about:blank');  // the page lets the unit go
    const unit = await plugIn('');
    const started = Date.now();
    const flash = spawn(`${linuxBuild}/cli/velquor-flash`, ['--yes', '--lang', 'en', 'update'], { stdio: ['ignore', 'pipe', 'pipe'] });
    let out = '';
    flash.stdout.on('data', (chunk) => { out += chunk; });
    flash.stderr.on('data', (chunk) => { out += chunk; });
    const status = await new Promise((resolve) => flash.on('exit', (code, signal) => resolve(code ?? signal)));
    const took = Date.now() - started;
    assert.equal(status, 0, out);
    assert.ok(holdsImage((await pullOut(unit)).flash), 'the flash holds the image');
    console.log(`FIGURE velquor-flash update on hidraw in the same VM: ${took} ms wall against ${PAUSES_MS} ms of pauses`);
    if (pageUpdateMs !== null) console.log(`FIGURE page against velquor-flash in the VM: ${(pageUpdateMs / took).toFixed(2)} times`);
  });

  test('two tabs, one unit: the second says it is in use and takes it up when the first lets go', { timeout: 300000 }, async () => {
    const unit = await plugIn('');
    await loadOnUnit(SETBOX_PANEL);
    const second = await page.context().newPage();
    second.errors = [];
    second.on('pageerror', (error) => second.errors.push(error.message));
    try {
      await second.goto(`${server.origin}/`);
      await second.waitForFunction(() => !document.body.classList.contains('loading'));
      const note = second.getByRole('alert');
      await until(() => note.innerText(), IN_USE, 30000, 'the note in the second tab');
      assert.equal((await panel(second)).split('\n').map((row) => row.split(': ')[1]).join(' '), NO_VERSIONS);
      await screenshot(second, 'vm-second-tab-in-use');
      const letGo = Date.now();
      await page.goto('about:blank');
      await until(() => panel(second), SETBOX_PANEL, 30000, 'the second tab\'s panel once the first let go');
      console.log(`FIGURE the second tab took the unit up ${Date.now() - letGo} ms after the first let go`);
      assert.equal(await note.isVisible(), false, 'the note is gone');
      assert.equal(await updateButton(second).isEnabled(), true);
      assert.deepEqual(second.errors, []);
    } finally {
      await second.close();
    }
    await pullOut(unit);
  });

  test('a unit whose node the browser may not open: the udev rule\'s note', { timeout: 300000 }, async () => {
    // Chromium as a user the node's permissions leave out (nobody): it lists the unit from
    // sysfs and udev, and its open() is refused.
    const home = '/tmp/nobody-home';
    mkdirSync(home, { recursive: true });
    chownSync(home, 65534, 65534);
    const wrapper = '/tmp/chromium-as-nobody';
    writeFileSync(wrapper, `#!/bin/sh
for arg in "$@"; do
  case "$arg" in --user-data-dir=*) chown -R 65534:65534 "\${arg#--user-data-dir=}" ;; esac
done
export HOME=${home}
exec setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/chromium --disable-dev-shm-usage "$@"
`);
    chmodSync(wrapper, 0o755);
    const unit = await plugIn('');
    const restricted = await chromium.launch({ executablePath: wrapper, args: ['--no-sandbox', '--disable-gpu',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run'] });
    try {
      const other = await openPage(restricted, server.origin, '', { timeout: 180000 });
      other.setDefaultTimeout(90000);
      const note = other.getByRole('alert');
      await until(async () => (await note.isVisible()) && (await note.innerText()).slice(0, NODE_REFUSED.length), NODE_REFUSED, 60000,
        'the rule\'s note');
      assert.ok((await note.innerText()).includes(RULE_COMMAND), await note.innerText());
      assert.equal((await panel(other)).split('\n').map((row) => row.split(': ')[1]).join(' '), NO_VERSIONS);
      assert.deepEqual(other.errors, []);
      await screenshot(other, 'vm-node-refused');
    } finally {
      await restricted.close();
    }
    await pullOut(unit);
  });
});
