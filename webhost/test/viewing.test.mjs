// Viewing and driving the desktop from the page, with input allowed.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, meanColour, pictureBox, waitForFrames } from './support/browser.mjs';
import { startHost } from './support/host_server.mjs';
import { startXProbe, until } from './support/x_probe.mjs';

const painted = [0xe0, 0x70, 0x20];
let x;
let host;
let browser;
let page;

before(async () => {
  x = await startXProbe();
  await x.paint(painted.map((c) => c.toString(16).padStart(2, '0')).join(''));
  host = await startHost('--allow-input');
  browser = await launchBrowser();
  page = browser.context.pages()[0];
  await page.goto(host.url);
  await page.waitForFunction(() => document.getElementById('input-state').textContent.startsWith('Input: yours'), null, {
    timeout: 30000,
  });
});

after(async () => {
  await browser?.close();
  await host?.stop();
  await x?.stop();
});

test('the page shows the desktop: decoded frames, in the colour painted on it', async () => {
  await waitForFrames(page);
  const box = await pictureBox(page);
  assert.deepEqual([box.videoWidth, box.videoHeight], [1280, 720]);
  // The middle of the desktop; the probe's own window sits in its corner.
  const middle = { x: box.left + box.width / 2 - 20, y: box.top + box.height / 2 - 20, width: 40, height: 40 };
  const colour = await meanColour(browser.context, await page.screenshot({ clip: middle }));
  colour.forEach((value, channel) => assert.ok(Math.abs(value - painted[channel]) < 24, `seen ${colour}, painted ${painted}`));
});

test('the figures include the delay, and the display list opens without moving the picture', async () => {
  const delay = await page.waitForFunction(() => document.getElementById('delay').textContent.match(/^[0-9.]+ ms$/)?.[0]);
  assert.ok(parseFloat(await delay.jsonValue()) < 1000);
  const where = () => page.$eval('#desktop', (video) => JSON.stringify(video.getBoundingClientRect()));
  const before = await where();
  await page.click('#displays summary');
  assert.match(await page.textContent('#display-list'), /1280×720 at 0, 0 \(shown\)/);
  assert.equal(await where(), before);
  await page.click('#displays summary');
});

test('a click puts the X pointer on the desktop pixel under it', async () => {
  const box = await pictureBox(page);
  const at = { x: box.left + box.width * 0.3, y: box.top + box.height * 0.6 };
  const expected = { x: ((at.x - box.left) / box.width) * 1280, y: ((at.y - box.top) / box.height) * 720 };
  // One page pixel covers this many desktop pixels.
  const tolerance = Math.ceil(1280 / box.width) + 1;
  const near = (pointer) => Math.abs(pointer.x - expected.x) <= tolerance && Math.abs(pointer.y - expected.y) <= tolerance;
  assert.ok(!near(await x.pointer()), 'the pointer is there already');
  await page.mouse.click(at.x, at.y);
  const pointer = await until(() => x.pointer(), near);
  assert.ok(near(pointer), `pointer at ${pointer.x},${pointer.y}, expected ${expected.x},${expected.y}`);
});

test('at 1:1, scrolled, and at 200%, a click lands on the exact desktop pixel', async () => {
  for (const [scale, pixel] of [['1', { x: 1203, y: 677 }], ['2', { x: 333, y: 222 }]]) {
    await page.selectOption('#scale', scale);
    const factor = Number(scale);
    const scrolled = await page.$eval('#viewport', (viewport, to) => {
      viewport.scrollTo(to.x - viewport.clientWidth / 2, to.y - viewport.clientHeight / 2);
      return viewport.scrollLeft > 0 && viewport.scrollTop > 0;
    }, { x: pixel.x * factor, y: pixel.y * factor });
    assert.ok(scrolled, `nothing to scroll at ${scale}`);
    const box = await pictureBox(page);
    assert.deepEqual([box.width, box.height], [1280 * factor, 720 * factor]);
    await page.mouse.click(box.left + (pixel.x + 0.5) * factor, box.top + (pixel.y + 0.5) * factor);
    const at = (pointer) => pointer.x === pixel.x && pointer.y === pixel.y;
    assert.deepEqual(await until(() => x.pointer(), at), pixel, `at ${scale}`);
  }
  await page.selectOption('#scale', 'fit');
});

test('typed and composed text, non-ASCII included, reaches an X client', async () => {
  await page.focus('#keyboard');
  // Symbols typed without Shift held, as synthetic keys come.
  await page.keyboard.type('hello $((6*7)) ');
  // Text no key of the keyboard types arrives as composed text.
  await page.keyboard.insertText('é€ü');
  const expected = 'hello $((6*7)) é€ü';
  assert.equal(await until(() => x.typed(), (text) => text === expected, 10000), expected);
});

test("a German keyboard types its characters; typing by key places, the desktop's layout decides", async () => {
  await page.focus('#keyboard');
  const cdp = await browser.context.newCDPSession(page);
  const key = (type, code, key, text) => cdp.send('Input.dispatchKeyEvent', { type, code, key, text, unmodifiedText: text });
  const press = async (code, character) => {
    await key('keyDown', code, character, character);
    await key('keyUp', code, character);
  };
  const before = await x.typed();
  await press('KeyY', 'z');
  await press('BracketLeft', 'ü');
  await key('rawKeyDown', 'AltRight', 'AltGraph');
  await press('KeyQ', '@');
  await key('keyUp', 'AltRight', 'AltGraph');
  await page.selectOption('#typing-mode', 'places');
  await page.focus('#keyboard');
  await press('KeyY', 'z');
  await page.selectOption('#typing-mode', 'characters');
  const expected = `${before}zü@y`;
  assert.equal(await until(() => x.typed(), (text) => text === expected, 10000), expected);
  assert.deepEqual(await until(() => x.heldKeys(), (keys) => keys.length === 0), []);
});

test('fullscreen locks the keyboard, so Ctrl+W reaches the desktop; outside, the menu sends Alt+Tab', async () => {
  const keysAfter = async (count, expected) => {
    const keys = await until(async () => (await x.keys()).slice(count), (seen) => seen.length >= expected.length);
    assert.deepEqual(keys, expected);
  };
  await page.evaluate(() => {
    const lock = navigator.keyboard.lock.bind(navigator.keyboard);
    navigator.keyboard.lock = (...keys) => {
      window.lockedKeys = keys;
      return lock(...keys);
    };
  });
  let count = (await x.keys()).length;
  await page.click('#fullscreen');
  await page.waitForFunction(() => document.fullscreenElement?.id === 'stage' && document.activeElement.id === 'keyboard');
  assert.deepEqual(await page.evaluate(() => window.lockedKeys), [], 'every key locked');
  // The picture has the whole screen, the header none of it.
  const box = await pictureBox(page);
  assert.deepEqual([box.left, box.width], [0, 1000]);
  // Right of the probe's window, which sits in the desktop's corner.
  const top = await meanColour(browser.context, await page.screenshot({ clip: { x: 300, y: box.top, width: 700, height: 40 } }));
  top.forEach((value, channel) => assert.ok(Math.abs(value - painted[channel]) < 24, `seen ${top}`));
  await page.keyboard.press('Control+KeyW');
  await keysAfter(count, ['+Control_L', '+w', '-w', '-Control_L']);

  await page.keyboard.press('Control+Alt+Enter');
  await page.waitForFunction(() => document.fullscreenElement === null);
  assert.deepEqual(await until(() => x.heldKeys(), (keys) => keys.length === 0), []);
  count = (await x.keys()).length;
  await page.selectOption('#send-keys', 'Alt+Tab');
  await keysAfter(count, ['+Alt_L', '+Tab', '-Tab', '-Alt_L']);
});

test('holding Shift and closing the tab leaves no key held', async () => {
  await page.focus('#keyboard');
  await page.keyboard.down('Shift');
  assert.notDeepEqual(await until(() => x.heldKeys(), (keys) => keys.length > 0), [], 'Shift never went down');
  await page.close();
  assert.deepEqual(await until(() => x.heldKeys(), (keys) => keys.length === 0, 10000), []);
});
