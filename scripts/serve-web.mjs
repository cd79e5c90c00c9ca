// Serves a folder (the page: build/web/page) on http://127.0.0.1:PORT/, which browsers count as
// a secure context, so WebHID is offered. Static files only, with the types browsers want, and
// the headers a host of the page should send (README, "Publishing"): the page's
// Content-Security-Policy with frame-ancestors, which a <meta> can't carry. An address that can't
// be decoded is answered with 400; no file outside the folder is ever served.
//   node scripts/serve-web.mjs [FOLDER] [PORT]        (PORT 0: a free one, printed)
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, resolve, sep } from 'node:path';

const folder = resolve(process.argv[2] || 'build/web/page');
const port = Number(process.argv[3] || 8000);
const types = {
  '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8', '.wasm': 'application/wasm', '.bmp': 'image/bmp', '.ico': 'image/x-icon',
  '.png': 'image/png', '.json': 'application/json', '.webmanifest': 'application/manifest+json',
};
const headers = {
  'Content-Security-Policy': "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; worker-src 'self'; "
    + "connect-src 'self'; img-src 'self'; style-src 'self'; manifest-src 'self'; base-uri 'none'; "
    + "form-action 'none'; frame-ancestors 'none'",
  'X-Frame-Options': 'DENY',
  'X-Content-Type-Options': 'nosniff',
  'Referrer-Policy': 'no-referrer',
  'Cache-Control': 'no-cache',
};

// The file an address names, or null when it names none inside the folder; undefined when the
// address can't be decoded.
function fileOf(url) {
  let path;
  try {
    path = decodeURIComponent(new URL(url, 'http://localhost').pathname);
  } catch {
    return undefined;
  }
  if (path.includes('\0')) return undefined;
  const file = resolve(join(folder, path.endsWith('/') ? `${path}index.html` : path));
  return file.startsWith(folder + sep) ? file : null;
}

createServer(async (request, response) => {
  if (request.method !== 'GET' && request.method !== 'HEAD') {
    response.writeHead(405, { ...headers, Allow: 'GET, HEAD' }).end();
    return;
  }
  const file = fileOf(request.url);
  if (file === undefined) {
    response.writeHead(400, headers).end();
    return;
  }
  try {
    if (file === null) throw new Error('outside the folder');
    const body = await readFile(file);
    response.writeHead(200, { ...headers, 'Content-Type': types[extname(file)] || 'application/octet-stream' });
    response.end(request.method === 'HEAD' ? undefined : body);
  } catch {
    response.writeHead(404, headers).end();
  }
}).listen(port, '127.0.0.1', function listening() {
  console.log(`serving ${folder} at http://127.0.0.1:${this.address().port}/`);
});
