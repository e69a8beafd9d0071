// The drivers' side of their line protocol: one JSON object per line in and
// out, commands handled one after another in the order they arrived; any
// failure is {"type":"error","message"} and exit code 1; the end of input, a
// signal or finish() closes what was opened and ends the driver.
import { createInterface } from 'node:readline';

export function lineDriver() {
  const closers = [];
  let lines;
  let finished = false;
  const emit = (message) => process.stdout.write(`${JSON.stringify(message)}\n`);
  const finish = async (code, error) => {
    if (finished) return;
    finished = true;
    if (error) emit({ type: 'error', message: String(error?.stack ?? error) });
    for (const close of closers) await close();
    process.exitCode = code;
    // Nothing may keep the event loop alive: the driver ends here.
    lines?.close();
    process.stdin.destroy();
    process.stdout.end();
  };
  process.on('SIGTERM', () => finish(143));
  process.on('SIGINT', () => finish(130));
  return {
    emit,
    finish,
    closeAtEnd: (close) => closers.push(close),
    serve(handle) {
      let queue = Promise.resolve();
      lines = createInterface({ input: process.stdin });
      lines.on('line', (line) => {
        queue = queue.then(() => (finished ? undefined : handle(JSON.parse(line)))).catch((error) => finish(1, error));
      });
      lines.on('close', () => {
        queue = queue.then(() => finish(0));
      });
    },
  };
}
