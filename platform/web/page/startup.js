// What the page checks before the updater starts, and what it says when something is in the way:
// a page opened as a file, WebHID blocked for the page (a Permissions-Policy, a frame), a script
// of the page, the timer worker or the WebAssembly that could not be loaded or started. Each
// shows a visible message (#trouble) that says what failed and what to do; the first one stays.
// Its words come from page-texts.js (written by the build from resources/page_texts.inc), as the
// updater, which carries them otherwise, may be what failed. It also registers the service
// worker (sw.js), which stores this version of the page for use without a network.
'use strict';

const VelquorStartup = (() => {
  function language() {
    const asked = new URLSearchParams(location.search).get('lang');
    return (asked || navigator.language || 'en').toLowerCase().startsWith('de') ? 'de' : 'en';
  }
  function text(key) {
    return typeof VelquorPageTexts === 'object' ? VelquorPageTexts[language()][key] : key;
  }

  let trouble = null;
  function show() {
    const element = document.getElementById('trouble');
    element.textContent = text(trouble.key) + (trouble.detail ? `\n${text('browserSaid')} ${trouble.detail}` : '');
    element.hidden = false;
    document.body.classList.remove('loading');
    document.body.classList.add('failed');
  }
  // Says that `key` failed (with what the browser said, when it said something), unless
  // something failed before.
  function fail(key, detail) {
    if (trouble) return;
    trouble = { key, detail: detail ? String(detail) : '' };
    if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', show);
    else show();
  }

  // Whether the page may use WebHID here: a Permissions-Policy of the site or a frame without
  // allow="hid" takes it away, though navigator.hid is still there.
  function hidAllowed() {
    const policy = document.permissionsPolicy || document.featurePolicy;
    return !policy || policy.allowsFeature('hid');
  }

  if (location.protocol === 'file:') fail('fileOpened');
  // A script of the page that did not load (page.js, velquor.js).
  window.addEventListener('error', (event) => {
    if (event.target instanceof HTMLScriptElement) fail('updaterFailed', `${event.target.src}`);
  }, true);
  if ('serviceWorker' in navigator && location.protocol !== 'file:') {
    navigator.serviceWorker.register('sw.js', { updateViaCache: 'none' })
      .catch((error) => console.warn(`the page is not stored for use without a network: ${error}`));
  }

  return { fail, hidAllowed, trouble: () => (trouble ? trouble.key : null) };
})();
