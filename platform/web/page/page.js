// The page's side of the updater in the browser: what only a page can do. The updater itself
// (velquor.js and velquor.wasm, built from the same C++ as the Windows program and velquor-flash)
// calls these functions and decides everything; this file only carries it out:
//   - navigator.hid: the devices granted to the page, their reports, plug-in and unplug;
//   - the DOM: the controls, the message boxes, the progress window, the page's own words;
//   - time: every pause is kept by timer-worker.js, which a hidden tab does not slow down;
//   - while an ESC is written: ask before the page is left, keep the screen awake.
// What the user does and what the devices do reaches the updater as events, one at a time.
'use strict';

const VelquorPage = (() => {
  // Input reports kept for a reader, as a HID stack keeps them; the oldest goes first.
  const QUEUE_LIMIT = 64;
  // The core's numbers, as the updater gives them when it starts (platform/web/core_numbers.cpp
  // reads them off its headers): event kinds, box flags and answers, the Windows error codes
  // its edges use (so that a failure box reads as it does in the window), the programming
  // units' ids the chooser offers, control ids.
  let core = null;
  const controlNames = new Map();
  function setCoreNumbers(numbers) {
    core = numbers;
    for (const [name, id] of Object.entries(core.controls)) controlNames.set(id, name);
  }

  const hid = 'hid' in navigator && window.isSecureContext && VelquorStartup.hidAllowed() ? navigator.hid : null;
  let texts = {};

  // ---- Time ------------------------------------------------------------------------------------

  const timerWorker = new Worker('timer-worker.js');
  timerWorker.addEventListener('error', (event) => VelquorStartup.fail('workerFailed', event.message));
  const timers = new Map();
  let nextTimer = 1;
  timerWorker.onmessage = (event) => {
    const done = timers.get(event.data);
    timers.delete(event.data);
    if (done) done();
  };
  function after(ms) {
    return new Promise((resolve) => {
      const id = nextTimer++;
      timers.set(id, resolve);
      timerWorker.postMessage({ id, ms });
    });
  }
  // Time limits, one per transfer, nearly all called off well before they pass: they are kept
  // here, and the worker is asked only for a wake-up at the earliest one that no wake-up asked
  // for already covers. A limit called off costs no message, and a wake-up that finds nothing due
  // asks for the next.
  const limits = new Set();
  const wakeUps = [];  // when the wake-ups asked for are due (performance.now())
  function checkLimits() {
    const now = performance.now();
    let earliest = Infinity;
    for (const limit of limits) {
      if (limit.at <= now) {
        limits.delete(limit);
        limit.resolve();
      } else if (limit.at < earliest) {
        earliest = limit.at;
      }
    }
    if (earliest !== Infinity) wakeUpAt(earliest);
  }
  function wakeUpAt(at) {
    if (wakeUps.some((due) => due <= at)) return;
    wakeUps.push(at);
    after(Math.max(1, Math.ceil(at - performance.now()))).then(() => {
      wakeUps.splice(wakeUps.indexOf(at), 1);
      checkLimits();
    });
  }
  // A time limit: `limit.passed` resolves after `ms` unless `limit.end()` called it off first.
  function timeLimit(ms) {
    const limit = { at: performance.now() + ms, resolve: null };
    const passed = new Promise((resolve) => { limit.resolve = resolve; });
    limits.add(limit);
    wakeUpAt(limit.at);
    return { passed, end: () => { limits.delete(limit); } };
  }
  // Never shorter than asked: a timer that fires early is waited out.
  async function sleep(ms) {
    const end = performance.now() + ms;
    for (let left = ms; left > 0; left = end - performance.now()) await after(Math.ceil(left));
  }
  // One turn of the page's loop, which a hidden tab does not slow down: it paints and takes events.
  const channel = new MessageChannel();
  const yields = [];
  channel.port1.onmessage = () => yields.shift()();
  function yieldToPage() {
    return new Promise((resolve) => {
      yields.push(resolve);
      channel.port2.postMessage(0);
    });
  }

  // ---- Events -------------------------------------------------------------------------------------

  const events = [];
  let eventWaiter = null;
  function post(event) {
    events.push(event);
    if (eventWaiter) {
      const wake = eventWaiter;
      eventWaiter = null;
      wake();
    }
  }
  // Events are posted by name (the page may see a device before the updater has started) and
  // handed over with the core's number for their kind.
  async function nextEvent() {
    while (events.length === 0) await new Promise((resolve) => { eventWaiter = resolve; });
    const event = events.shift();
    return { ...event, kind: core.events[event.kind] };
  }

  // ---- Devices --------------------------------------------------------------------------------

  // A device's name for the updater; a device plugged in again is a new object with a new name.
  const pathOf = new WeakMap();
  const byPath = new Map();
  let nextDevice = 1;
  const hex4 = (n) => n.toString(16).padStart(4, '0');
  function devicePath(device) {
    let path = pathOf.get(device);
    if (!path) {
      path = `webhid:${nextDevice++}:${hex4(device.vendorId)}:${hex4(device.productId)}`;
      pathOf.set(device, path);
      byPath.set(path, device);
    }
    return path;
  }

  const lists = new Map();
  let nextList = 1;
  async function hidList() {
    let devices = [];
    try {
      devices = hid ? await hid.getDevices() : [];
    } catch (e) {
      devices = [];  // refused (a policy the startup check could not see): as no device
    }
    const id = nextList++;
    lists.set(id, devices.map(devicePath));
    return id;
  }
  function hidListPath(list, index) {
    const paths = lists.get(list);
    return paths && index < paths.length ? paths[index] : null;
  }
  function hidCloseList(list) { lists.delete(list); }

  // An open handle: its device, the input reports that came since it was opened, the reader
  // waiting for one, and the claim it holds.
  const handles = new Map();
  let nextHandle = 1;
  const gone = new WeakSet();

  function wakeReader(handle) {
    if (handle.waiter) {
      const wake = handle.waiter;
      handle.waiter = null;
      wake();
    }
  }
  function onInputReport(event) {
    const data = new Uint8Array(event.data.buffer, event.data.byteOffset, event.data.byteLength).slice();
    for (const handle of handles.values()) {
      if (handle.device !== event.target) continue;
      if (handle.queue.length === QUEUE_LIMIT) handle.queue.shift();
      handle.queue.push({ id: event.reportId, data });
      wakeReader(handle);
    }
  }

  async function hidOpen(path) {
    const device = byPath.get(path);
    if (!device || gone.has(device)) return -core.errors.fileNotFound;
    if (!device.opened) {
      try {
        await device.open();
      } catch (e) {
        noteUnitProblem(device, onLinux ? 'nodeRefused' : 'openRefused', onLinux ? '' : e.message);
        return -core.errors.accessDenied;
      }
    }
    device.addEventListener('inputreport', onInputReport);
    const id = nextHandle++;
    handles.set(id, { device, queue: [], waiter: null, release: null });
    return id;
  }

  function withHandle(id, use) {
    const handle = handles.get(id);
    if (!handle) return core.errors.invalidHandle;
    if (gone.has(handle.device)) return core.errors.deviceNotConnected;
    return use(handle);
  }

  function hidIds(id, write) {
    return withHandle(id, (handle) => {
      write(handle.device.vendorId, handle.device.productId);
      return 0;
    });
  }

  // Report lengths as Windows counts them: the longest report of each kind with its id byte.
  function reportBytes(reports) {
    let longest = 0;
    for (const report of reports || []) {
      let bits = 0;
      for (const item of report.items || []) bits += item.reportSize * item.reportCount;
      longest = Math.max(longest, Math.ceil(bits / 8));
    }
    return longest;
  }
  function hidLengths(id, write) {
    return withHandle(id, (handle) => {
      let input = 0, output = 0;
      const walk = (collections) => {
        for (const collection of collections || []) {
          input = Math.max(input, reportBytes(collection.inputReports));
          output = Math.max(output, reportBytes(collection.outputReports));
          walk(collection.children);
        }
      };
      walk(handle.device.collections);
      write(input ? input + 1 : 0, output ? output + 1 : 0);
      return 0;
    });
  }

  // Another tab or window of this page that holds the same unit is told by the browser's lock,
  // one per unit: WebHID names no serial number, so a unit is its kind and its place among the
  // granted units of that kind, which every tab of the page sees in the same order.
  async function unitLockName(device) {
    const same = (hid ? await hid.getDevices() : []).filter((other) => other.vendorId === device.vendorId
      && other.productId === device.productId && other.productName === device.productName);
    const place = Math.max(same.indexOf(device), 0);
    return `velquor-unit:${hex4(device.vendorId)}:${hex4(device.productId)}:${device.productName}:${place}`;
  }
  async function hidClaim(id) {
    const handle = handles.get(id);
    if (!handle) return core.errors.invalidHandle;
    if (!navigator.locks) return 0;
    const device = handle.device;
    const name = await unitLockName(device);
    return new Promise((resolve) => {
      navigator.locks.request(name, { ifAvailable: true }, (lock) => {
        if (!lock) {
          noteUnitProblem(device, 'inUse', '');
          awaitUnit(device, name);
          resolve(core.errors.busy);
          return undefined;
        }
        noteUnitProblem(null);
        resolve(0);
        return new Promise((release) => { handle.release = release; });
      });
    });
  }
  // Waits for the unit's lock without taking it from anyone; once the other has let go, the unit
  // is announced as if it had arrived, and the updater claims it.
  const awaited = new Set();
  function awaitUnit(device, name) {
    if (awaited.has(name)) return;
    awaited.add(name);
    navigator.locks.request(name, () => {
      awaited.delete(name);
      if (!gone.has(device)) post({ kind: 'arrived', path: devicePath(device) });
    });
  }

  // What keeps a unit from being used, in the note under the hint until the unit is taken up
  // or pulled out.
  let problemDevice = null;
  const onLinux = /Linux/.test(navigator.userAgent) && !/Android|CrOS/.test(navigator.userAgent);
  function noteUnitProblem(device, key, detail) {
    if (device === null) {
      if (problemDevice) showNote(null);
      problemDevice = null;
      return;
    }
    problemDevice = device;
    showNote(key, detail);
  }

  function hidDiscard(id) {
    return withHandle(id, (handle) => {
      handle.queue.length = 0;
      return 0;
    });
  }

  // The report as the updater builds it, id byte first; WebHID takes the id apart.
  async function hidWrite(id, report, timeoutMs) {
    const handle = handles.get(id);
    if (!handle) return core.errors.invalidHandle;
    if (gone.has(handle.device)) return core.errors.deviceNotConnected;
    const sent = handle.device.sendReport(report[0], report.subarray(1)).then(
      () => 0,
      () => (gone.has(handle.device) ? core.errors.deviceNotConnected : core.errors.genFailure));
    const limit = timeLimit(timeoutMs);
    const result = await Promise.race([sent, limit.passed.then(() => core.errors.timeout)]);
    limit.end();
    return result;
  }

  // The next input report as `length` bytes, id byte first and zeros after a shorter report;
  // or the failure's code.
  async function hidRead(id, length, timeoutMs) {
    const handle = handles.get(id);
    if (!handle) return core.errors.invalidHandle;
    const deadline = performance.now() + timeoutMs;
    while (handle.queue.length === 0) {
      if (gone.has(handle.device)) return core.errors.deviceNotConnected;
      const left = deadline - performance.now();
      if (left <= 0) return core.errors.timeout;
      const limit = timeLimit(Math.ceil(left));
      await Promise.race([new Promise((resolve) => { handle.waiter = resolve; }), limit.passed]);
      limit.end();
      handle.waiter = null;
    }
    const report = handle.queue.shift();
    const bytes = new Uint8Array(length);
    bytes[0] = report.id;
    bytes.set(report.data.subarray(0, length - 1), 1);
    return bytes;
  }

  // The report that came first into `out` (id byte first, zeros after a shorter report) and 0;
  // -1 when none has come yet; or the failure's code.
  function hidTake(id, out) {
    const handle = handles.get(id);
    if (!handle) return core.errors.invalidHandle;
    if (handle.queue.length === 0) return -1;
    const report = handle.queue.shift();
    out.fill(0);
    out[0] = report.id;
    out.set(report.data.subarray(0, out.length - 1), 1);
    return 0;
  }

  function hidClose(id) {
    const handle = handles.get(id);
    if (!handle) return;
    handles.delete(id);
    if (handle.release) handle.release();
    wakeReader(handle);
    const stillOpen = [...handles.values()].some((other) => other.device === handle.device);
    if (!stillOpen) {
      handle.device.removeEventListener('inputreport', onInputReport);
      if (handle.device.opened && !gone.has(handle.device)) handle.device.close().catch(() => {});
    }
  }

  if (hid) {
    hid.addEventListener('connect', (event) => post({ kind: 'arrived', path: devicePath(event.device) }));
    hid.addEventListener('disconnect', (event) => {
      gone.add(event.device);
      if (event.device === problemDevice) noteUnitProblem(null);
      for (const handle of handles.values()) if (handle.device === event.device) wakeReader(handle);
      post({ kind: 'removed', path: devicePath(event.device) });
    });
  }

  // The browser's chooser, which only a click may open.
  async function connectUnit() {
    let devices = [];
    try {
      devices = await hid.requestDevice({ filters: core.units });
    } catch (e) {
      devices = [];
    }
    if (devices.length === 0 && onLinux) {
      problemDevice = null;
      showNote('linuxAccess');
    } else if (!problemDevice) {
      showNote(null);
    }
    for (const device of devices) post({ kind: 'arrived', path: devicePath(device) });
  }

  // ---- The window's content ------------------------------------------------------------------------

  // A control of the main dialog is the element named after its id's name (IDC_UPDATE, ...).
  const element = (control) => document.querySelector(`[data-control="${controlNames.get(control) || control}"]`);
  const controlTexts = new Map();
  const wantedEnabled = new Map();
  let flashing = false;

  function setText(control, text) {
    controlTexts.set(control, text);
    const target = element(control);
    if (target) target.textContent = text.replace(/\r\n/g, '\n');
  }
  function getText(control) { return controlTexts.get(control) || ''; }

  function applyEnabled(control) {
    const target = element(control);
    if (!target) return;
    const enabled = wantedEnabled.get(control) !== false && !(flashing && control === core.controls.IDC_UPDATE);
    if (target instanceof HTMLButtonElement) target.disabled = !enabled;
    else target.classList.toggle('disabled', !enabled);
  }
  function enable(control, on) {
    wantedEnabled.set(control, Boolean(on));
    applyEnabled(control);
  }
  function setTitle(title) {
    shown.title = title.trim();
    showTabTitle();
    element('title').textContent = title.trim();
  }

  // A modal box: caption, text, the buttons its flags name. Enter takes the first button,
  // Escape the last (Cancel, No; OK when it stands alone), and so does a close the page could
  // not refuse. Its caption names it, its text describes it; an error box is an alert dialog.
  // The focus goes to its first button, and back to where it was once the box is answered.
  let nextBox = 1;
  function showBox(text, caption, flags) {
    const id = nextBox++;
    const box = document.createElement('dialog');
    const icon = (flags & core.box.iconMask) === core.box.iconError ? 'error' : (flags & core.box.iconMask) === core.box.iconWarning ? 'warning'
      : (flags & core.box.iconMask) === core.box.iconInformation ? 'information' : 'none';
    box.className = `box ${icon}`;
    if (icon === 'error') box.setAttribute('role', 'alertdialog');
    const heading = document.createElement('h2');
    heading.textContent = caption;
    heading.id = `box-${id}-caption`;
    const body = document.createElement('p');
    body.textContent = text.replace(/\r\n/g, '\n');
    body.id = `box-${id}-text`;
    box.setAttribute('aria-labelledby', heading.id);
    box.setAttribute('aria-describedby', body.id);
    const previousFocus = document.activeElement;
    const buttons = document.createElement('div');
    buttons.className = 'buttons';
    const choices = (flags & core.box.typeMask) === core.box.okCancel ? [[texts.ok, core.answers.ok], [texts.cancel, core.answers.cancel]]
      : (flags & core.box.typeMask) === core.box.yesNo ? [[texts.yes, core.answers.yes], [texts.no, core.answers.no]] : [[texts.ok, core.answers.ok]];
    let answered = false;
    const answer = (value) => {
      if (answered) return;
      answered = true;
      if (box.open) box.close();
      box.remove();
      if (previousFocus && previousFocus.isConnected && !previousFocus.disabled) previousFocus.focus();
      post({ kind: 'answer', box: id, value });
    };
    for (const [label, value] of choices) {
      const button = document.createElement('button');
      button.textContent = label;
      button.addEventListener('click', () => answer(value));
      buttons.append(button);
    }
    box.addEventListener('cancel', (event) => {
      event.preventDefault();
      answer(choices[choices.length - 1][1]);
    });
    box.addEventListener('close', () => answer(choices[choices.length - 1][1]));
    box.append(heading, body, buttons);
    document.body.append(box);
    box.showModal();
    buttons.firstChild.focus();
    return id;
  }

  // ---- The progress window -------------------------------------------------------------------
  // It opens at the first flash command with a bar that runs without a value and a line that
  // says what happens (lock, protection off, erase), takes its value at the first block, and
  // stays open until the last flash command: Escape, the dialog's cancel and close are refused
  // meanwhile. The bar moves at once when its percentage changes; the line is drawn at most once
  // a frame. While the tab is hidden its title shows the percentage.
  const progress = () => document.getElementById('progress');
  const shown = { title: '', percent: -1, spoken: -1, line: null, frameAsked: false, previousFocus: null };

  function showProgress(title, line) {
    const window = progress();
    window.querySelector('h2').textContent = title;
    window.querySelector('progress').removeAttribute('value');
    window.querySelector('.line').textContent = line;
    window.querySelector('.spoken').textContent = line;
    shown.percent = -1;
    shown.spoken = -1;
    shown.line = null;
    if (!window.open) {
      shown.previousFocus = document.activeElement;
      window.showModal();
    }
    window.focus();
    showTabTitle();
  }
  // The transfer begins: the bar takes its value.
  function openProgress(title) {
    showProgress(title, '');
    setProgress(0, '');
  }
  function drawLine() {
    shown.frameAsked = false;
    if (shown.line !== null) progress().querySelector('.line').textContent = shown.line;
    shown.line = null;
  }
  function setProgress(position, line) {
    const window = progress();
    shown.line = line;
    if (position !== shown.percent) {
      shown.percent = position;
      window.querySelector('progress').value = position;
      drawLine();
      // Readers hear every tenth.
      if (Math.floor(position / 10) !== Math.floor(shown.spoken / 10)) {
        shown.spoken = position;
        window.querySelector('.spoken').textContent = texts.written.replace('%s', position);
      }
      showTabTitle();
    } else if (!shown.frameAsked) {
      shown.frameAsked = true;
      requestAnimationFrame(drawLine);
    }
  }
  // The transfer has ended; the window stays until the flash commands have.
  function closeProgress() {
    if (!flashing) hideProgress();
  }
  function hideProgress() {
    const window = progress();
    shown.percent = -1;
    showTabTitle();
    if (!window.open) return;
    window.close();
    const back = shown.previousFocus;
    shown.previousFocus = null;
    if (back && back.isConnected && !back.disabled) back.focus();
  }
  function showTabTitle() {
    const percent = Math.max(shown.percent, 0);
    document.title = flashing && document.hidden ? `${percent} % \u00b7 ${shown.title}` : shown.title;
  }
  document.addEventListener('visibilitychange', showTabTitle);
  window.addEventListener('DOMContentLoaded', () => {
    const window = progress();
    window.addEventListener('cancel', (event) => { if (flashing) event.preventDefault(); });
    // Whatever closed it (a close request the page could not refuse): it opens again at once.
    window.addEventListener('close', () => { if (flashing) window.showModal(); });
  });

  // ---- While an ESC is written -------------------------------------------------------------------

  let wakeLock = null;
  function askBeforeLeaving(event) {
    event.preventDefault();
    event.returnValue = texts.leaving;
    return texts.leaving;
  }
  async function keepAwake() {
    if (!flashing || wakeLock || !navigator.wakeLock || document.visibilityState !== 'visible') return;
    try {
      wakeLock = await navigator.wakeLock.request('screen');
      wakeLock.addEventListener('release', () => { wakeLock = null; });
      if (!flashing) wakeLock.release();
    } catch (e) {
      wakeLock = null;
    }
  }
  document.addEventListener('visibilitychange', keepAwake);
  function flashCommands(on, title) {
    flashing = Boolean(on);
    applyEnabled(core.controls.IDC_UPDATE);
    document.getElementById('language').disabled = on;
    if (on) {
      window.addEventListener('beforeunload', askBeforeLeaving);
      keepAwake();
      showProgress(title, texts.preparing);
    } else {
      window.removeEventListener('beforeunload', askBeforeLeaving);
      if (wakeLock) wakeLock.release();
      hideProgress();
    }
  }

  // ---- The page's own words and parts ---------------------------------------------------------

  // `detail`: what follows the text (what the browser said).
  function showNote(key, detail = '') {
    const note = document.getElementById('note');
    note.dataset.key = key || '';
    note.dataset.detail = detail;
    note.textContent = key ? `${texts[key]}${detail ? ` ${detail}` : ''}` : '';
    note.hidden = !key;
  }
  function setPageTexts(pageTexts) {
    texts = pageTexts;
    document.documentElement.lang = texts.languageCode;
    document.getElementById('connect').textContent = texts.connect;
    document.getElementById('save-log').textContent = texts.saveLog;
    document.querySelector('label[for="language"]').textContent = texts.language;
    const note = document.getElementById('note');
    if (note.dataset.key) showNote(note.dataset.key, note.dataset.detail);
    const demo = document.getElementById('demo');
    if (!demo.hidden) demo.querySelector('span').textContent = texts.demo;
    document.getElementById('version').textContent = texts.versionLine.replace('%s', texts.version).replace('%s', texts.firmware);
  }
  function showDemo(problem) {
    const demo = document.getElementById('demo');
    demo.hidden = false;
    demo.querySelector('span').textContent = texts.demo;
    if (problem) demo.querySelector('em').textContent = ` ${texts.badScenario} ${problem}`;
    document.getElementById('connect').hidden = true;
  }
  function startLanguage() {
    const asked = new URLSearchParams(location.search).get('lang');
    const language = asked || navigator.language || 'en';
    return language.toLowerCase().startsWith('de') ? 1 : 0;
  }
  function ready() {
    document.body.classList.remove('loading');
    const language = document.getElementById('language');
    language.value = texts.languageCode;
    if (!hid && document.getElementById('demo').hidden) {
      showNote(!window.isSecureContext ? 'insecure' : 'hid' in navigator ? 'hidBlocked' : 'noWebHid');
    }
    document.getElementById('connect').disabled = !hid;
    document.getElementById('save-log').disabled = false;
  }

  // ---- The log ---------------------------------------------------------------------------------------
  // "Save log": the updater's record of this visit (its version, the browser, the unit, every
  // report with its time, every outcome) as a text file, whenever it is pressed.
  function saveLog() {
    const text = Module.UTF8ToString(Module._velquor_record_text());
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([text], { type: 'text/plain;charset=utf-8' }));
    const now = new Date();
    const stamp = new Date(now.getTime() - now.getTimezoneOffset() * 60000).toISOString().slice(0, 19).replace(/:/g, '-');
    link.download = `velquor-log-${stamp}.txt`;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  // ---- Images ----------------------------------------------------------------------------------------

  // One firmware image from the page's folder; its bytes wait in `fetched` for the updater.
  let fetched = null;
  async function fetchImage(id) {
    fetched = null;
    try {
      const response = await fetch(`images/${id}.bin`, { cache: 'no-store' });
      if (!response.ok) return -1;
      fetched = new Uint8Array(await response.arrayBuffer());
      return fetched.length;
    } catch (e) {
      return -1;
    }
  }
  function takeImage() {
    const bytes = fetched;
    fetched = null;
    return bytes;
  }

  window.addEventListener('DOMContentLoaded', () => {
    document.querySelector('[data-control="IDC_UPDATE"]').addEventListener('click', () => post({ kind: 'update' }));
    document.getElementById('connect').addEventListener('click', connectUnit);
    document.getElementById('save-log').addEventListener('click', saveLog);
    document.getElementById('language').addEventListener('change', (event) => {
      const german = event.target.value === 'de';
      const address = new URL(location.href);
      address.searchParams.set('lang', event.target.value);
      history.replaceState(null, '', address);
      post({ kind: 'language', value: german ? 1 : 0 });
    });
  });

  return {
    setCoreNumbers, sleep, yieldToPage, nextEvent,
    hidList, hidListPath, hidCloseList, hidOpen, hidIds, hidLengths, hidClaim, hidDiscard, hidWrite, hidTake, hidRead, hidClose,
    setText, getText, enable, setTitle, showBox, openProgress, setProgress, closeProgress, flashCommands,
    setPageTexts, showDemo, startLanguage, ready, fetchImage, takeImage,
  };
})();

// The updater's module: it starts once the page's script has set the stage.
var Module = {
  print: (text) => console.log(text),
  printErr: (text) => console.error(text),
  // The WebAssembly could not be fetched, compiled or started (blocked, missing, damaged).
  onAbort: (what) => VelquorStartup.fail('updaterFailed', what),
};
