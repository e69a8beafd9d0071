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
import { openHeadlessPage } from './headless_page.mjs';
import { lineDriver } from './line_driver.mjs';

const { emit, finish, closeAtEnd, serve } = lineDriver();

async function launch() {
  const page = ['candidate_report.js', 'peer_page.js'];
  const scripts = process.env.KELVARN_READ_STAMPS === '1' ? ['frame_stamp.js', ...page] : page;
  const browser = await openHeadlessPage({
    executablePath: process.env.KELVARN_CHROMIUM,
    scripts,
    report: (message) => emit(message),
    onCrash: () => finish(1, 'the page crashed'),
  });
  closeAtEnd(browser.close);
  return browser;
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

try {
  const browser = await launch();
  emit({ type: 'ready', browser: browser.version });
  serve((command) => handle(browser.page, command));
} catch (error) {
  await finish(1, error);
}
