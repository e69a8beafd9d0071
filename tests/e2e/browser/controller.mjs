// A headless Chromium page as the remote controller of a host worker. The
// test relays between the worker and this driver, one JSON object per line:
//   in:  {"type":"offer","sdp"}             out: {"type":"answer","sdp"}
//   in:  {"type":"candidate",...}           out: {"type":"candidate",...} as the page gathers them
//   in:  {"type":"send","label","data"}     out: {"type":"sent"}
//   in:  {"type":"stats"}                   out: {"type":"stats","framesDecoded",...}
//   in:  {"type":"presented"}               out: {"type":"presented","frames":[[number|null, ms],...]}
//                                           (frame stamps read since the last ask; KELVARN_READ_STAMPS=1)
//   in:  {"type":"close"} or end of input   the browser closes and the driver exits 0
// Unsolicited: {"type":"ready"} once the page runs, "state", "channel", "message".
// Any failure: {"type":"error","message"} and exit code 1.
import { createInterface } from 'node:readline';
import { openHeadlessPage } from './headless_page.mjs';

let browser;
let lines;
let finished = false;

const emit = (message) => process.stdout.write(`${JSON.stringify(message)}\n`);

async function finish(code, error) {
  if (finished) return;
  finished = true;
  if (error) emit({ type: 'error', message: String(error?.stack ?? error) });
  await browser?.close();
  process.exitCode = code;
  // Nothing may keep the event loop alive: the driver ends here.
  lines?.close();
  process.stdin.destroy();
  process.stdout.end();
}

async function launch() {
  const scripts = process.env.KELVARN_READ_STAMPS === '1' ? ['frame_stamp.js', 'peer_page.js'] : ['peer_page.js'];
  browser = await openHeadlessPage({
    executablePath: process.env.KELVARN_CHROMIUM,
    scripts,
    report: (message) => emit(message),
    onCrash: () => finish(1, 'the page crashed'),
  });
  return browser.page;
}

async function handle(page, command) {
  switch (command.type) {
    case 'offer':
      emit({ type: 'answer', sdp: await page.evaluate((sdp) => window.controller.answer(sdp), command.sdp) });
      return;
    case 'candidate': {
      const { candidate, sdpMid, sdpMLineIndex } = command;
      await page.evaluate((c) => window.controller.addCandidate(c), { candidate, sdpMid, sdpMLineIndex });
      return;
    }
    case 'send':
      await page.evaluate(([label, data]) => window.controller.send(label, data), [command.label, command.data]);
      emit({ type: 'sent' });
      return;
    case 'stats':
      emit({ type: 'stats', ...(await page.evaluate(() => window.controller.stats())) });
      return;
    case 'presented':
      emit({ type: 'presented', frames: await page.evaluate(() => window.controller.takePresented()) });
      return;
    case 'close':
      await page.evaluate(() => window.controller.close());
      await finish(0);
      return;
    default:
      throw new Error(`unknown command ${command.type}`);
  }
}

process.on('SIGTERM', () => finish(143));
process.on('SIGINT', () => finish(130));

try {
  const page = await launch();
  emit({ type: 'ready', browser: browser.version });
  // Commands run one after another, in the order they arrived.
  let queue = Promise.resolve();
  lines = createInterface({ input: process.stdin });
  lines.on('line', (line) => {
    queue = queue.then(() => (finished ? undefined : handle(page, JSON.parse(line)))).catch((error) => finish(1, error));
  });
  lines.on('close', () => {
    queue = queue.then(() => finish(0));
  });
} catch (error) {
  await finish(1, error);
}
