// The reference pair for the network benchmark: one headless Chromium
// streaming a canvas to another, each browser in its own network namespace
// (KELVARN_SENDER_CHROMIUM and KELVARN_RECEIVER_CHROMIUM run Chromium there),
// signalled by this driver. KELVARN_CANVAS holds the canvas's options as JSON
// (width, height, still). One JSON object per line:
//   out: {"type":"connected"} once the receiver presents pictures
//   in:  {"type":"presented"}  out: {"type":"presented","frames":[[number|null, ms],...],
//                                    "painted":[[number, ms],...],"codec"}
//   in:  {"type":"move"}: a still canvas starts moving
//   in:  {"type":"close"} or end of input: both browsers close, exit 0
// Any failure: {"type":"error","message"} and exit code 1.
import { openHeadlessPage } from './headless_page.mjs';
import { lineDriver } from './line_driver.mjs';

const { emit, finish, closeAtEnd, serve } = lineDriver();

async function connect() {
  let sender;
  let receiver;
  let announced = false;
  const pending = { sender: [], receiver: [] };
  const relay = (to, candidate) => {
    const page = to === 'sender' ? sender?.page : receiver?.page;
    const call = to === 'sender' ? (c) => window.canvasSender.addCandidate(c) : (c) => window.controller.addCandidate(c);
    if (!page) pending[to].push(candidate);
    else page.evaluate(call, candidate).catch((error) => finish(1, error));
  };
  const candidateOf = ({ candidate, sdpMid, sdpMLineIndex }) => ({ candidate, sdpMid, sdpMLineIndex });
  sender = await openHeadlessPage({
    executablePath: process.env.KELVARN_SENDER_CHROMIUM,
    scripts: ['frame_stamp.js', 'candidate_report.js', 'canvas_sender.js'],
    globals: { canvasOptions: JSON.parse(process.env.KELVARN_CANVAS || '{}') },
    report: (message) => message.type === 'candidate' && relay('receiver', candidateOf(message)),
    onCrash: () => finish(1, 'the sending page crashed'),
  });
  closeAtEnd(sender.close);
  receiver = await openHeadlessPage({
    executablePath: process.env.KELVARN_RECEIVER_CHROMIUM,
    scripts: ['frame_stamp.js', 'candidate_report.js', 'peer_page.js'],
    report: (message) => {
      if (message.type === 'candidate') relay('sender', candidateOf(message));
    },
    onCrash: () => finish(1, 'the receiving page crashed'),
  });
  closeAtEnd(receiver.close);
  const offer = await sender.page.evaluate(() => window.canvasSender.offer());
  const answer = await receiver.page.evaluate((sdp) => window.controller.answer(sdp), offer);
  await sender.page.evaluate((sdp) => window.canvasSender.accept(sdp), answer);
  for (const candidate of pending.receiver.splice(0)) relay('receiver', candidate);
  for (const candidate of pending.sender.splice(0)) relay('sender', candidate);
  while (!announced) {
    const stats = await receiver.page.evaluate(() => window.controller.stats());
    if (stats.presentedFrames > 0) announced = true;
    else await new Promise((resolve) => setTimeout(resolve, 100));
  }
  emit({ type: 'connected', browser: sender.version });
  return { sender, receiver };
}

async function handle({ sender, receiver }, command) {
  switch (command.type) {
    case 'presented':
      emit({
        type: 'presented',
        frames: await receiver.page.evaluate(() => window.controller.takePresented()),
        painted: await sender.page.evaluate(() => window.canvasSender.takePainted()),
        codec: await sender.page.evaluate(() => window.canvasSender.codec()),
      });
      return;
    case 'move':
      await sender.page.evaluate(() => window.canvasSender.move());
      return;
    case 'close':
      await finish(0);
      return;
    default:
      throw new Error(`unknown command ${command.type}`);
  }
}

try {
  const pair = await connect();
  serve((command) => handle(pair, command));
} catch (error) {
  await finish(1, error);
}
