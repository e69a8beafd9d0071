// The controller page: a fixed set of files read once at start, served with
// headers that keep the page to its own scripts and its own server. Nothing
// else is served over HTTP; the desktop itself needs the WebSocket's token.
import { readdirSync, readFileSync } from 'node:fs';
import { extname, join } from 'node:path';

const contentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.svg': 'image/svg+xml',
};

export const securityHeaders = {
  'Content-Security-Policy':
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; " +
    "media-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'",
  'Referrer-Policy': 'no-referrer',
  'X-Content-Type-Options': 'nosniff',
  'X-Frame-Options': 'DENY',
  'Cross-Origin-Opener-Policy': 'same-origin',
  'Cross-Origin-Resource-Policy': 'same-origin',
  'Permissions-Policy': 'camera=(), microphone=(), geolocation=(), display-capture=()',
  'Cache-Control': 'no-store',
};

export function loadPageFiles(directory) {
  const files = new Map();
  for (const name of readdirSync(directory)) {
    const type = contentTypes[extname(name)];
    if (type) files.set(`/${name}`, { body: readFileSync(join(directory, name)), type });
  }
  files.set('/', files.get('/index.html'));
  // Where browsers and tools look for the icon without reading the page.
  files.set('/favicon.ico', files.get('/favicon.svg'));
  return files;
}

export function makePageHandler(files, hostAllowed) {
  return (request, response) => {
    const reply = (status, body, type = 'text/plain; charset=utf-8') => {
      response.writeHead(status, { ...securityHeaders, 'Content-Type': type, 'Content-Length': body.length });
      response.end(request.method === 'HEAD' ? undefined : body);
    };
    if (!hostAllowed(request)) return reply(421, Buffer.from('unknown host\n'));
    if (request.method !== 'GET' && request.method !== 'HEAD') return reply(405, Buffer.from('method not allowed\n'));
    // The query string plays no part; the token travels in the fragment, which never reaches us.
    const file = files.get(request.url.split('?')[0]);
    if (!file) return reply(404, Buffer.from('not found\n'));
    return reply(200, file.body, file.type);
  };
}
