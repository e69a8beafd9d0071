// Who gets what: the page for anyone who can reach the server, the desktop
// only for a socket of the page's origin that first presents the token.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { request } from 'node:http';
import WebSocket from 'ws';
import { launchBrowser, waitForFrames } from './support/browser.mjs';
import { startHost } from './support/host_server.mjs';

let host;

before(async () => {
  host = await startHost();
});

after(async () => {
  await host?.stop();
});

function get(path, headers = {}) {
  return new Promise((resolve, reject) => {
    request(`${host.origin}${path}`, { headers }, (response) => {
      response.resume();
      resolve(response);
    }).on('error', reject).end();
  });
}

// What a socket received and how it was closed, after sending the messages.
async function converse(messages, origin = host.origin) {
  const socket = new WebSocket(`${host.origin.replace('http', 'ws')}/session`, { origin });
  const received = [];
  socket.on('message', (data) => received.push(String(data)));
  socket.on('open', () => messages.forEach((message) => socket.send(message)));
  const outcome = await Promise.race([
    once(socket, 'close').then(([code, reason]) => ({ code, reason: String(reason) })),
    once(socket, 'unexpected-response').then(([, response]) => ({ status: response.statusCode })),
  ]);
  return { received, ...outcome };
}

test('the page comes with a strict policy, and nothing else is served', async () => {
  const page = await get('/');
  assert.equal(page.statusCode, 200);
  assert.match(page.headers['content-security-policy'], /default-src 'none'; script-src 'self';/);
  assert.equal(page.headers['referrer-policy'], 'no-referrer');
  assert.equal((await get('/favicon.ico')).headers['content-type'], 'image/svg+xml');
  for (const path of ['/main.mjs', '/lib/server.mjs', '/%2e%2e/main.mjs', '/session', '/package.json'])
    assert.equal((await get(path)).statusCode, 404, path);
  assert.equal((await get('/', { host: 'rebound.example:80' })).statusCode, 421);
});

test('without the token a socket gets nothing, is closed, and starts no worker', async () => {
  const cases = [
    [JSON.stringify({ type: 'hello', token: `${host.token}x` })],
    [JSON.stringify({ type: 'answer', sdp: 'v=0' })],
    ['not json'],
    [], // silence: the token is due within seconds
  ];
  for (const messages of cases) {
    const { received, code } = await converse(messages);
    assert.deepEqual(received, [], messages[0]);
    assert.equal(code, 4401, messages[0]);
  }
  assert.deepEqual(host.workers(), []);
});

test('a socket from a page of another origin is refused at the handshake', async () => {
  assert.equal((await converse([], 'http://elsewhere.example')).status, 403);
});

test('a message beyond the size bound closes the socket', async () => {
  const { code } = await converse([JSON.stringify({ type: 'hello', token: 'x'.repeat(70000) })]);
  assert.equal(code, 1009);
});

test('silent sockets cannot keep the viewer out: the ones that waited longest make room', async () => {
  const browser = await launchBrowser();
  try {
    const silent = await Promise.all(Array.from({ length: 10 }, async () => {
      const socket = new WebSocket(`${host.origin.replace('http', 'ws')}/session`, { origin: host.origin });
      const closed = once(socket, 'close').then(([code]) => code);
      await once(socket, 'open');
      return { closed };
    }));
    const page = browser.context.pages()[0];
    await page.goto(host.url);
    assert.ok((await waitForFrames(page)) > 0);
    // Four wait at most per source: six made room for the next ones, one for
    // the viewer, and three waited until their time for the token was up.
    const codes = await Promise.all(silent.map(({ closed }) => closed));
    assert.deepEqual(codes.sort(), [...Array(7).fill(1006), 4401, 4401, 4401]);
  } finally {
    await browser.close();
  }
});

test('a page without the token says so and opens no socket', async () => {
  const browser = await launchBrowser();
  try {
    const page = browser.context.pages()[0];
    const sockets = [];
    page.on('websocket', (socket) => sockets.push(socket));
    await page.goto(`${host.origin}/`);
    await page.waitForSelector('#message:not([hidden])');
    assert.match(await page.textContent('#message'), /no access token/);
    assert.equal(await page.textContent('#connection-state'), 'Ended');
    assert.deepEqual(sockets, []);
  } finally {
    await browser.close();
  }
});
