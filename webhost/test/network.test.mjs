// A network that drops everything for a while, in a namespace of the test's
// own (tests/webhost/private_network.sh): the page says so, gives the
// connection up, and comes back by itself once the network does.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { launchBrowser, waitForFrames } from './support/browser.mjs';
import { startHost } from './support/host_server.mjs';

let host;
let browser;

const nft = (commands) => execFileSync('nft', ['-f', '-'], { input: commands });

before(async () => {
  host = await startHost();
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

test('a dropped network: the page reconnects by itself once it is back', async () => {
  const page = browser.context.pages()[0];
  const states = [];
  await page.exposeFunction('noteState', (state) => states.push(state));
  await page.goto(host.url);
  await page.evaluate(() => new MutationObserver(() => window.noteState(document.getElementById('connection-state').textContent))
    .observe(document.getElementById('connection-state'), { childList: true }));
  await waitForFrames(page);
  // UDP and TCP, loopback included; the display and the browser's driver use other ways.
  nft('table inet cut {\n chain output {\n type filter hook output priority 0; policy drop;\n }\n}\n');
  await page.waitForFunction(() => document.getElementById('connection-state').textContent.startsWith('Reconnecting'), null, {
    timeout: 30000,
  });
  const decoded = await page.textContent('#frames-decoded');
  nft('delete table inet cut\n');
  await waitForFrames(page);
  assert.equal(decoded, '–');
  assert.ok(states.includes('Connection interrupted'), states.join(', '));
  assert.equal(states.at(-1), 'Connected');
});
