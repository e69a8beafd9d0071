// A host started without --allow-input, one viewer at a time, and a worker
// that dies under its viewer.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { setTimeout as sleep } from 'node:timers/promises';
import { promisify } from 'node:util';
import { launchBrowser, meanColour, pictureBox, waitForFrames } from './support/browser.mjs';
import { startHost } from './support/host_server.mjs';
import { startXProbe, until } from './support/x_probe.mjs';

let x;
let host;
let browser;
let viewer;

// Keeps the data channels the desktop opens, to send on them behind the page's back.
function recordChannels() {
  const Native = window.RTCPeerConnection;
  window.desktopChannels = [];
  window.RTCPeerConnection = class extends Native {
    constructor(...settings) {
      super(...settings);
      this.addEventListener('datachannel', ({ channel }) => window.desktopChannels.push(channel));
    }
  };
}

before(async () => {
  x = await startXProbe();
  host = await startHost();
  browser = await launchBrowser();
  viewer = browser.context.pages()[0];
  await viewer.addInitScript(recordChannels);
  await viewer.goto(host.url);
  await waitForFrames(viewer);
});

after(async () => {
  await browser?.close();
  await host?.stop();
  await x?.stop();
});

test('view only: clicks, keys and even a forged input event change nothing', async () => {
  assert.equal(await viewer.textContent('#input-state'), 'View only');
  assert.ok(await viewer.isDisabled('#send-keys'));
  const pointer = await x.pointer();
  const box = await pictureBox(viewer);
  await viewer.mouse.click(box.left + box.width * 0.3, box.top + box.height * 0.6);
  await viewer.focus('#keyboard');
  await viewer.keyboard.type('abc');
  const forged = await viewer.evaluate(() => {
    const control = window.desktopChannels.find((channel) => channel.label === 'control');
    const event = { kind: 'keyboard.text', sequence: 1, inputEpoch: 1, text: 'forged' };
    control.send(JSON.stringify({ ...event, modifiers: { rawValue: 0 }, pressedKeys: [], pressedButtons: [] }));
    return control.readyState;
  });
  assert.equal(forged, 'open');
  await sleep(1500);
  assert.deepEqual(await x.pointer(), pointer);
  assert.equal(await x.typed(), '');
});

test("the picture shows the desktop's pointer where it moved, on a still screen", async () => {
  await x.paint('2060a0');
  const box = await pictureBox(viewer);
  const scale = box.width / box.videoWidth;
  // The page's pixels around the desktop's point (900, 500), where the pointer's hot spot goes.
  const around = { x: box.left + 890 * scale, y: box.top + 490 * scale, width: 20 * scale, height: 20 * scale };
  const background = [0x20, 0x60, 0xa0];
  const differs = (colour) => colour.some((value, channel) => Math.abs(value - background[channel]) > 24);
  const seen = async () => meanColour(browser.context, await viewer.screenshot({ clip: around }));
  assert.ok(!differs(await until(seen, (colour) => !differs(colour))), 'no plain background there at first');
  await x.move(900, 500);
  const colour = await until(seen, differs);
  assert.ok(differs(colour), `only the background, ${colour}, where the pointer is`);
});

test('on loopback the worker listens on loopback only, over UDP and TCP', async () => {
  const [worker] = host.workers();
  const { stdout } = await promisify(execFile)('ss', ['-Htulnp']);
  const sockets = stdout.split('\n').filter((line) => line.includes(`pid=${worker},`)).map((line) => line.split(/\s+/));
  assert.deepEqual([...new Set(sockets.map(([protocol]) => protocol))].sort(), ['tcp', 'udp'], stdout);
  for (const [, , , , local] of sockets) assert.match(local, /^127\.0\.0\.1:\d+$/);
});

test('a second viewer is refused while the first one watches', async () => {
  const second = await browser.context.newPage();
  await second.goto(host.url);
  await second.waitForSelector('#message:not([hidden])');
  assert.match(await second.textContent('#message'), /another viewer/);
  await second.close();
  const decoded = Number(await viewer.textContent('#frames-decoded'));
  await waitForFrames(viewer, decoded + 5);
});

test('a killed worker is reported, nothing old stays shown, and the page comes back by itself', async () => {
  const [worker] = host.workers();
  assert.ok(worker, 'no worker is running');
  process.kill(worker, 'SIGKILL');
  const handle = await viewer.waitForFunction(() => {
    const text = (id) => document.getElementById(id).textContent;
    return text('connection-state').startsWith('Reconnecting') &&
      { message: text('message'), figures: ['frame-rate', 'delay', 'frames-decoded'].map(text) };
  });
  const { message, figures } = await handle.jsonValue();
  assert.match(message, /stopped unexpectedly \(killed by SIGKILL\)/);
  assert.deepEqual(figures, ['–', '–', '–']);
  await waitForFrames(viewer);
  assert.equal(await viewer.textContent('#connection-state'), 'Connected');
  assert.ok(await viewer.isHidden('#message'));
});
