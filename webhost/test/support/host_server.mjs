// The host application as a user starts it: its own process, the address
// read from what it prints.
import { spawn } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { once } from 'node:events';
import { createInterface } from 'node:readline';

const main = join(dirname(fileURLToPath(import.meta.url)), '..', '..', 'main.mjs');

export async function startHost(...options) {
  const child = spawn(process.execPath, [main, '--port', '0', '--fps', '10', ...options], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const log = [];
  createInterface({ input: child.stderr }).on('line', (line) => log.push(line));
  const [line] = await once(createInterface({ input: child.stdout }), 'line');
  const url = line.replace(/^Open /, '');
  return {
    url,
    origin: new URL(url).origin,
    token: new URL(url).hash.replace('#token=', ''),
    log,
    // The workers it runs now: its child processes.
    workers() {
      const children = readFileSync(`/proc/${child.pid}/task/${child.pid}/children`, 'utf8').trim();
      return children ? children.split(' ').map(Number) : [];
    },
    async stop() {
      if (child.exitCode !== null) return child.exitCode;
      child.kill('SIGTERM');
      const [code] = await once(child, 'exit');
      return code;
    },
  };
}
