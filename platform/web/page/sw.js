// The page's service worker: it keeps one store (a Cache) per version of the page, so that the
// page opens, identifies and updates with no network at all once it was opened with one.
//   - Installing stores every file of this version, the 41 firmware images among them, as the
//     build listed them in sw-store.js with their SHA-256; a file that can't be fetched or is
//     not the listed one fails the installation and nothing of it is kept (the browser tries
//     again at a later visit). A store is therefore either complete and of one version, or none.
//   - Each file is stored with the host's headers that protect a page (KEPT_HEADERS: its
//     Content-Security-Policy with frame-ancestors, X-Frame-Options, ...) and served with them,
//     online and offline: a page of another origin can frame the stored page no more than the
//     one the host sends, on the tenth visit as on the first.
//   - A new version takes each file whose bytes are already in an older store (checked against
//     this version's digest like a download) and downloads only the rest. The headers of a file
//     taken over are the host's of now, asked for with a HEAD request: a host that tightened its
//     policy for the new version gets it on every file, changed or not.
//   - The worker never skips waiting and never claims a page: a new version is used only by
//     pages opened after every page of the old one has been closed. A page keeps the version it
//     was opened with to its end, so an old velquor.js never meets a new velquor.wasm, and a
//     running update is never interrupted by a version change.
//   - Once active, it serves the version's files from its store (a navigation to the folder, with
//     any query, is the page itself), and removes the stores of other versions.
'use strict';
importScripts('sw-store.js');

const STORE = self.VELQUOR_STORE;
const STORE_PREFIX = 'velquor-';
const scope = new URL('./', self.location).href;
const listed = new Set(STORE.files.map(([file]) => new URL(file, scope).href));

const hex = (buffer) => [...new Uint8Array(buffer)].map((byte) => byte.toString(16).padStart(2, '0')).join('');

// The headers a stored file keeps: those that tell the browser how to treat the page (what it
// may load and run, who may frame it, what it may use, what it tells other sites), and its type.
// Nothing else of an answer is replayed: caching and validators (Cache-Control, ETag, Date),
// the transfer's (Content-Length, Content-Encoding of bytes that are stored decoded), what must
// happen once only (Set-Cookie, Clear-Site-Data, which would empty the store at every opening)
// and whatever a host adds that no one checked for replaying.
const KEPT_HEADERS = [
  'Content-Type', 'Content-Security-Policy', 'Content-Security-Policy-Report-Only', 'X-Frame-Options',
  'X-Content-Type-Options', 'Referrer-Policy', 'Permissions-Policy', 'Cross-Origin-Opener-Policy',
  'Cross-Origin-Embedder-Policy', 'Cross-Origin-Resource-Policy',
];

function keptHeaders(response) {
  const headers = new Headers();
  for (const name of KEPT_HEADERS) {
    const value = response.headers.get(name);
    if (value !== null) headers.set(name, value);
  }
  if (!headers.has('Content-Type')) headers.set('Content-Type', 'application/octet-stream');
  return headers;
}

const ask = (file, method) => fetch(new Request(new URL(file, scope), { method, cache: 'reload', credentials: 'same-origin' }));

// The file's bytes when one of the older stores holds the listed ones, else null.
async function olderBytes(olderStores, url, digest) {
  for (const older of olderStores) {
    const stored = await older.match(url);
    if (!stored) continue;
    const bytes = await stored.arrayBuffer();
    if (hex(await crypto.subtle.digest('SHA-256', bytes)) === digest) return bytes;
  }
  return null;
}

// Stores one file of this version: taken from an older store with the host's headers of now, or
// downloaded (also when the host does not answer the HEAD request as it should).
async function storeOne(cache, olderStores, file, digest) {
  const url = new URL(file, scope);
  const taken = await olderBytes(olderStores, url, digest);
  const now = taken && (await ask(file, 'HEAD'));
  if (now && now.ok) {
    await cache.put(url, new Response(taken, { status: 200, headers: keptHeaders(now) }));
    return;
  }
  const response = await ask(file, 'GET');
  if (!response.ok) throw new Error(`${file}: answered ${response.status}`);
  const bytes = await response.arrayBuffer();
  if (hex(await crypto.subtle.digest('SHA-256', bytes)) !== digest) throw new Error(`${file}: not the file of this version`);
  await cache.put(url, new Response(bytes, { status: 200, headers: keptHeaders(response) }));
}

async function fillStore() {
  await caches.delete(STORE.name);
  const olderNames = (await caches.keys()).filter((name) => name.startsWith(STORE_PREFIX) && name !== STORE.name);
  const olderStores = await Promise.all(olderNames.map((name) => caches.open(name)));
  const cache = await caches.open(STORE.name);
  try {
    await Promise.all(STORE.files.map(([file, digest]) => storeOne(cache, olderStores, file, digest)));
  } catch (error) {
    await caches.delete(STORE.name);
    throw error;
  }
}

async function dropOtherStores() {
  for (const name of await caches.keys()) {
    if (name.startsWith(STORE_PREFIX) && name !== STORE.name) await caches.delete(name);
  }
}

async function serve(request, url) {
  const cache = (await caches.has(STORE.name)) ? await caches.open(STORE.name) : null;
  const stored = cache && (await cache.match(url));
  return stored || fetch(request);
}

self.addEventListener('install', (event) => event.waitUntil(fillStore()));
self.addEventListener('activate', (event) => event.waitUntil(dropOtherStores()));
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET') return;
  const url = new URL(request.url);
  url.hash = '';
  if (request.mode === 'navigate' && url.href.split('?')[0] === scope) {
    event.respondWith(serve(request, new URL('index.html', scope).href));
    return;
  }
  url.search = '';
  if (listed.has(url.href)) event.respondWith(serve(request, url.href));
});
