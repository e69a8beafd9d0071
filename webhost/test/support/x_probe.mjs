// The X server as the tests see it, through the x_probe helper (built with
// the tests): the pointer, keys held, keys and text typed into a focused
// client window; it paints the screen and moves the pointer.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { createInterface } from 'node:readline';

export async function startXProbe() {
  const child = spawn(process.env.KELVARN_X_PROBE, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
  const next = async () => JSON.parse((await lines.next()).value);
  await next(); // ready
  const ask = async (command) => {
    child.stdin.write(`${command}\n`);
    return next();
  };
  return {
    pointer: () => ask('pointer'),
    heldKeys: async () => (await ask('held')).keys,
    typed: async () => (await ask('typed')).text,
    keys: async () => (await ask('keys')).keys,
    paint: (rgb) => ask(`paint ${rgb}`),
    move: (x, y) => ask(`move ${x} ${y}`),
    async stop() {
      child.stdin.end();
      if (child.exitCode === null) await once(child, 'exit');
    },
  };
}

// Asks until the answer satisfies the test or the time is up; the last answer.
export async function until(read, satisfied, ms = 5000) {
  const deadline = Date.now() + ms;
  let value = await read();
  while (!satisfied(value) && Date.now() < deadline) {
    await new Promise((resolve) => setTimeout(resolve, 50));
    value = await read();
  }
  return value;
}
