// A benchmark, not a test: how long a whole update in real time takes on the page (the demo's
// simulated unit, ?sim=&realtime=1) against the 46,040 ms of pauses it must wait: with its tab in
// front, and hidden behind another tab of the same window, where the page's own timers would be
// slowed to one a second. Prints FIGURE lines; fails only when an update does not succeed.
//
// The browser is driven over the DevTools protocol on a pipe, without a test framework: a
// framework that attaches to the page keeps it focused and visible, and the hidden case would
// measure nothing. The times are taken by the page itself (from the warning's OK to the success
// text), so the driver's polling adds nothing to them.
//   node bench.mjs
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { servePage } from './driver.mjs';

const PAUSES_MS = 46040;
const browserPath = process.env.VELQUOR_CHROMIUM || '/usr/bin/chromium';

// The DevTools protocol over --remote-debugging-pipe: JSON messages ended by a NUL byte.
function startBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'velquor-bench-'));
  const browser = spawn(browserPath, ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', `--user-data-dir=${profile}`,
    '--remote-debugging-pipe', 'about:blank'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'], detached: true });
  const pending = new Map();
  let nextId = 1;
  let buffered = '';
  browser.stdio[4].on('data', (chunk) => {
    buffered += chunk.toString();
    for (let end = buffered.indexOf('\0'); end >= 0; end = buffered.indexOf('\0')) {
      const message = JSON.parse(buffered.slice(0, end));
      buffered = buffered.slice(end + 1);
      const done = pending.get(message.id);
      pending.delete(message.id);
      if (done) done(message);
    }
  });
  const send = (method, params = {}, sessionId = undefined) => new Promise((resolve, reject) => {
    const id = nextId++;
    pending.set(id, (message) => (message.error ? reject(new Error(`${method}: ${message.error.message}`)) : resolve(message.result)));
    browser.stdio[3].write(`${JSON.stringify({ id, method, params, sessionId })}\0`);
  });
  // The profile goes once the browser and its helper processes have ended: until then they may
  // still write into it. Asked to close, the browser ends them itself; a browser that does not
  // end within 10 s is killed with its whole process group.
  const ended = new Promise((resolve) => browser.once('exit', resolve));
  const stop = async () => {
    await Promise.race([send('Browser.close').catch(() => {}), pause(5000)]);
    if (!(await Promise.race([ended.then(() => true), pause(10000).then(() => false)]))) {
      try { process.kill(-browser.pid, 'SIGKILL'); } catch { /* already gone */ }
      await Promise.race([ended, pause(5000)]);
    }
    rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 300 });
  };
  return { send, stop };
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function timedUpdate(send, origin, hidden) {
  const { targetId } = await send('Target.createTarget', { url: `${origin}/?sim=&realtime=1` });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const evaluate = async (expression) => (await send('Runtime.evaluate', { expression, awaitPromise: true }, sessionId)).result.value;
  const until = async (expression, limitMs) => {
    for (const end = Date.now() + limitMs; Date.now() < end; await pause(200)) if (await evaluate(expression)) return;
    throw new Error(`not within ${limitMs} ms: ${expression}`);
  };
  const button = (label) => `[...document.querySelectorAll('button')].find((b) => b.textContent === '${label}')`;
  await until(`!document.body.classList.contains('loading') && !${button('Update')}.disabled`, 30000);
  // The page notes when the warning is answered and when the success text stands.
  await evaluate(`(() => {
    const hint = document.querySelector('[aria-live]');
    new MutationObserver(() => { if (hint.textContent.includes('successful')) window.succeededAt ??= performance.now(); })
      .observe(hint, { childList: true, characterData: true, subtree: true });
    ${button('Update')}.click();
  })()`);
  await until(`!!${button('OK')}`, 10000);
  await evaluate(`(() => { window.answeredAt = performance.now(); ${button('OK')}.click(); })()`);
  let other = null;
  if (hidden) {
    ({ targetId: other } = await send('Target.createTarget', { url: 'about:blank' }));
    await send('Target.activateTarget', { targetId: other });
    await until(`document.visibilityState === 'hidden'`, 5000);
  }
  const visibility = await evaluate('document.visibilityState');
  await until('window.succeededAt !== undefined', 180000);
  const took = await evaluate('window.succeededAt - window.answeredAt');
  await send('Target.closeTarget', { targetId });
  if (other) await send('Target.closeTarget', { targetId: other });
  return { took, visibility };
}

const server = await servePage();
const { send, stop } = startBrowser();
try {
  const figures = {};
  for (const place of ['front', 'hidden']) {
    const { took, visibility } = await timedUpdate(send, server.origin, place === 'hidden');
    figures[place] = took;
    console.log(`FIGURE page update in real time, tab ${place} (${visibility}): ${Math.round(took)} ms against ${PAUSES_MS} ms of pauses`);
  }
  const change = ((figures.hidden - figures.front) / figures.front) * 100;
  console.log(`FIGURE hidden against front: ${change >= 0 ? '+' : ''}${change.toFixed(2)} %`);
} finally {
  await stop();
  server.close();
}
