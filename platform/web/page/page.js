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
  const UNIT_FILTERS = [{ vendorId: 0x21b8, productId: 1 }, { vendorId: 0x21b8, productId: 2 }];
  // Windows' codes, so that a failure box reads as it does in the window.
  const ERROR_FILE_NOT_FOUND = 2;
  const ERROR_ACCESS_DENIED = 5;
  const ERROR_INVALID_HANDLE = 6;
  const ERROR_GEN_FAILURE = 31;
  const ERROR_BUSY = 170;
  const ERROR_DEVICE_NOT_CONNECTED = 1167;
  const ERROR_TIMEOUT = 1460;
  // Input reports kept for a reader, as a HID stack keeps them; the oldest goes first.
  const QUEUE_LIMIT = 64;
  // Event kinds (platform/web/page.h).
  const EVENT_UPDATE = 1, EVENT_ARRIVED = 2, EVENT_REMOVED = 3, EVENT_ANSWER = 4, EVENT_LANGUAGE = 5;
  // Message box flags and answers (app/ui_platform.h).
  const BOX_OKCANCEL = 0x01, BOX_YESNO = 0x04, BOX_ICONERROR = 0x10, BOX_ICONWARNING = 0x30, BOX_ICONINFORMATION = 0x40;
  const ANSWER_OK = 1, ANSWER_CANCEL = 2, ANSWER_YES = 6, ANSWER_NO = 7;
  const CONTROL_UPDATE = 1002;

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
  async function nextEvent() {
    while (events.length === 0) await new Promise((resolve) => { eventWaiter = resolve; });
    return events.shift();
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
    if (!device || gone.has(device)) return -ERROR_FILE_NOT_FOUND;
    if (!device.opened) {
      try {
        await device.open();
      } catch (e) {
        return -ERROR_ACCESS_DENIED;
      }
    }
    device.addEventListener('inputreport', onInputReport);
    const id = nextHandle++;
    handles.set(id, { device, queue: [], waiter: null, release: null });
    return id;
  }

  function withHandle(id, use) {
    const handle = handles.get(id);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (gone.has(handle.device)) return ERROR_DEVICE_NOT_CONNECTED;
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

  // Another tab or window of this page that holds the same unit is told by the browser's lock.
  async function hidClaim(id) {
    const handle = handles.get(id);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (!navigator.locks) return 0;
    const device = handle.device;
    const name = `velquor-unit:${hex4(device.vendorId)}:${hex4(device.productId)}:${device.productName}`;
    return new Promise((resolve) => {
      navigator.locks.request(name, { ifAvailable: true }, (lock) => {
        if (!lock) {
          resolve(ERROR_BUSY);
          return undefined;
        }
        resolve(0);
        return new Promise((release) => { handle.release = release; });
      });
    });
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
    if (!handle) return ERROR_INVALID_HANDLE;
    if (gone.has(handle.device)) return ERROR_DEVICE_NOT_CONNECTED;
    const sent = handle.device.sendReport(report[0], report.subarray(1)).then(
      () => 0,
      () => (gone.has(handle.device) ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE));
    return Promise.race([sent, after(timeoutMs).then(() => ERROR_TIMEOUT)]);
  }

  // The next input report as `length` bytes, id byte first and zeros after a shorter report;
  // or the failure's code.
  async function hidRead(id, length, timeoutMs) {
    const handle = handles.get(id);
    if (!handle) return ERROR_INVALID_HANDLE;
    const deadline = performance.now() + timeoutMs;
    while (handle.queue.length === 0) {
      if (gone.has(handle.device)) return ERROR_DEVICE_NOT_CONNECTED;
      const left = deadline - performance.now();
      if (left <= 0) return ERROR_TIMEOUT;
      await Promise.race([new Promise((resolve) => { handle.waiter = resolve; }), after(Math.ceil(left))]);
      handle.waiter = null;
    }
    const report = handle.queue.shift();
    const bytes = new Uint8Array(length);
    bytes[0] = report.id;
    bytes.set(report.data.subarray(0, length - 1), 1);
    return bytes;
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
    hid.addEventListener('connect', (event) => post({ kind: EVENT_ARRIVED, path: devicePath(event.device) }));
    hid.addEventListener('disconnect', (event) => {
      gone.add(event.device);
      for (const handle of handles.values()) if (handle.device === event.device) wakeReader(handle);
      post({ kind: EVENT_REMOVED, path: devicePath(event.device) });
    });
  }

  // The browser's chooser, which only a click may open.
  async function connectUnit() {
    let devices = [];
    try {
      devices = await hid.requestDevice({ filters: UNIT_FILTERS });
    } catch (e) {
      devices = [];
    }
    const onLinux = /Linux/.test(navigator.userAgent) && !/Android|CrOS/.test(navigator.userAgent);
    showNote(devices.length === 0 && onLinux ? 'linuxAccess' : null);
    for (const device of devices) post({ kind: EVENT_ARRIVED, path: devicePath(device) });
  }

  // ---- The window's content ------------------------------------------------------------------------

  const element = (control) => document.querySelector(`[data-control="${control}"]`);
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
    const enabled = wantedEnabled.get(control) !== false && !(flashing && control === CONTROL_UPDATE);
    if (target instanceof HTMLButtonElement) target.disabled = !enabled;
    else target.classList.toggle('disabled', !enabled);
  }
  function enable(control, on) {
    wantedEnabled.set(control, Boolean(on));
    applyEnabled(control);
  }
  function setTitle(title) {
    document.title = title.trim();
    element('title').textContent = title.trim();
  }

  // A modal box: caption, text, the buttons its flags name. Enter takes the first button,
  // Escape the last (Cancel, No; OK when it stands alone).
  let nextBox = 1;
  function showBox(text, caption, flags) {
    const id = nextBox++;
    const box = document.createElement('dialog');
    const icon = (flags & 0xf0) === BOX_ICONERROR ? 'error' : (flags & 0xf0) === BOX_ICONWARNING ? 'warning'
      : (flags & 0xf0) === BOX_ICONINFORMATION ? 'information' : 'none';
    box.className = `box ${icon}`;
    const heading = document.createElement('h2');
    heading.textContent = caption;
    const body = document.createElement('p');
    body.textContent = text.replace(/\r\n/g, '\n');
    const buttons = document.createElement('div');
    buttons.className = 'buttons';
    const choices = (flags & 0x0f) === BOX_OKCANCEL ? [[texts.ok, ANSWER_OK], [texts.cancel, ANSWER_CANCEL]]
      : (flags & 0x0f) === BOX_YESNO ? [[texts.yes, ANSWER_YES], [texts.no, ANSWER_NO]] : [[texts.ok, ANSWER_OK]];
    const answer = (value) => {
      box.close();
      box.remove();
      post({ kind: EVENT_ANSWER, box: id, value });
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
    box.append(heading, body, buttons);
    document.body.append(box);
    box.showModal();
    buttons.firstChild.focus();
    return id;
  }

  const progress = () => document.getElementById('progress');
  function openProgress(title) {
    const window = progress();
    window.querySelector('h2').textContent = title;
    window.querySelector('progress').value = 0;
    window.querySelector('p').textContent = '';
    window.showModal();
  }
  function setProgress(position, line) {
    const window = progress();
    window.querySelector('progress').value = position;
    window.querySelector('p').textContent = line;
  }
  function closeProgress() { progress().close(); }

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
  function flashCommands(on) {
    flashing = Boolean(on);
    applyEnabled(CONTROL_UPDATE);
    document.getElementById('language').disabled = on;
    if (on) {
      window.addEventListener('beforeunload', askBeforeLeaving);
      keepAwake();
    } else {
      window.removeEventListener('beforeunload', askBeforeLeaving);
      if (wakeLock) wakeLock.release();
    }
  }

  // ---- The page's own words and parts ---------------------------------------------------------

  function showNote(key) {
    const note = document.getElementById('note');
    note.dataset.key = key || '';
    note.textContent = key ? texts[key] : '';
    note.hidden = !key;
  }
  function setPageTexts(pageTexts) {
    texts = pageTexts;
    document.documentElement.lang = texts.languageCode;
    document.getElementById('connect').textContent = texts.connect;
    document.querySelector('label[for="language"]').textContent = texts.language;
    const note = document.getElementById('note');
    if (note.dataset.key) note.textContent = texts[note.dataset.key];
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
    element(CONTROL_UPDATE).addEventListener('click', () => post({ kind: EVENT_UPDATE }));
    document.getElementById('connect').addEventListener('click', connectUnit);
    document.getElementById('language').addEventListener('change', (event) => {
      const german = event.target.value === 'de';
      const address = new URL(location.href);
      address.searchParams.set('lang', event.target.value);
      history.replaceState(null, '', address);
      post({ kind: EVENT_LANGUAGE, value: german ? 1 : 0 });
    });
  });

  return {
    sleep, yieldToPage, nextEvent,
    hidList, hidListPath, hidCloseList, hidOpen, hidIds, hidLengths, hidClaim, hidDiscard, hidWrite, hidRead, hidClose,
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
