// One worker child in the role "host", spoken to one JSON object per line
// over its standard input and output. Emits 'event' for each line it writes
// and 'exit' once, when it has ended (or could not start) and its output is read.
import { spawn } from 'node:child_process';
import { randomBytes, randomUUID } from 'node:crypto';
import { EventEmitter } from 'node:events';
import { createInterface } from 'node:readline';

export class WorkerProcess extends EventEmitter {
  #child = null;
  #nextRequest = 1;
  #ended = false;
  #stopping = false;
  #killTimer = null;
  #stopGraceMs;
  #log;

  // iceAddresses: the only local addresses it may gather candidates on, null for all.
  constructor(executable, { iceAddresses = null, stopGraceMs = 5000, log = () => {} } = {}) {
    super();
    this.#stopGraceMs = stopGraceMs;
    this.#log = log;
    // Fixed for the worker's life; every command repeats it.
    this.identity = { accountId: 'webhost', sessionId: randomUUID(), generation: `g${randomBytes(8).toString('hex')}` };
    const env = iceAddresses ? { ...process.env, KELVARN_ICE_ADDRESSES: iceAddresses.join(',') } : process.env;
    this.#child = spawn(executable, ['--serve'], { stdio: ['pipe', 'pipe', 'pipe'], env });
    this.pid = this.#child.pid;
    this.#child.on('error', (error) => this.#end({ error }));
    this.#child.on('close', (code, signal) => this.#end({ code, signal }));
    // A worker that has died closes its end; its exit is reported instead.
    this.#child.stdin.on('error', () => {});
    createInterface({ input: this.#child.stdout }).on('line', (line) => this.#read(line));
    createInterface({ input: this.#child.stderr }).on('line', (line) => this.#log(`${this.label}: ${line}`));
  }

  // How the log names it.
  get label() {
    return `worker ${this.pid ?? '(not started)'}`;
  }

  // Writes one command; returns its requestId, or null once the worker cannot take it.
  command(type, members = {}) {
    if (this.#ended || !this.#child.stdin.writable) return null;
    const requestId = `r${this.#nextRequest++}`;
    this.#child.stdin.write(`${JSON.stringify({ version: 1, type, requestId, ...this.identity, ...members })}\n`);
    return requestId;
  }

  // Asks the worker to close, then ends its input; kills it if it lingers.
  stop() {
    if (this.#ended || this.#stopping) return;
    this.#stopping = true;
    this.command('peer.close');
    this.#child.stdin.end();
    this.#killTimer = setTimeout(() => this.#child.kill('SIGKILL'), this.#stopGraceMs);
  }

  #read(line) {
    let message;
    try {
      message = JSON.parse(line);
    } catch {
      this.#log(`${this.label} wrote a line that is not JSON`);
      return;
    }
    if (message !== null && typeof message === 'object' && typeof message.type === 'string') this.emit('event', message);
  }

  #end(outcome) {
    if (this.#ended) return;
    this.#ended = true;
    clearTimeout(this.#killTimer);
    this.emit('exit', { ...outcome, requested: this.#stopping });
  }
}
