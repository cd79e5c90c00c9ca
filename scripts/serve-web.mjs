// Serves a folder (the page: build/web/page) on http://127.0.0.1:PORT/, which browsers count as
// a secure context, so WebHID is offered. Static files only, with the types browsers want.
//   node scripts/serve-web.mjs [FOLDER] [PORT]
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve } from 'node:path';

const folder = resolve(process.argv[2] || 'build/web/page');
const port = Number(process.argv[3] || 8000);
const types = {
  '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8', '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8', '.wasm': 'application/wasm', '.bmp': 'image/bmp', '.ico': 'image/x-icon',
  '.png': 'image/png', '.json': 'application/json',
};

createServer(async (request, response) => {
  const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  const file = normalize(join(folder, path.endsWith('/') ? `${path}index.html` : path));
  if (!file.startsWith(folder)) {
    response.writeHead(403).end();
    return;
  }
  try {
    const body = await readFile(file);
    response.writeHead(200, { 'Content-Type': types[extname(file)] || 'application/octet-stream', 'Cache-Control': 'no-cache' });
    response.end(body);
  } catch {
    response.writeHead(404).end();
  }
}).listen(port, '127.0.0.1', () => console.log(`serving ${folder} at http://127.0.0.1:${port}/`));
