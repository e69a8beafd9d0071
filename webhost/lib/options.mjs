// The command line of the reference host application.
import { parseArgs } from 'node:util';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const repository = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');

export const usage = `usage: node webhost/main.mjs [options]
  --listen ADDRESS     address to listen on (default 127.0.0.1, this machine only)
  --port N             TCP port, 0 for any free one (default 8420)
  --allow-input        let the viewer drive the pointer and keyboard (default: view only)
  --tls-cert FILE      serve HTTPS and WSS with this certificate (PEM) ...
  --tls-key FILE       ... and this private key (PEM)
  --stun-server URL    a STUN server (stun:HOST:PORT) for the viewer and the worker, up to 8;
                       a viewer behind a NAT needs one, see README
  --fps N              capture rate, 1 to 60 (default 15)
  --worker FILE        the worker executable (default build/kelvarn-remote-native)
  --help               this text`;

export class UsageError extends Error {}

function integer(text, name, low, high) {
  if (!/^[0-9]+$/.test(text) || Number(text) < low || Number(text) > high)
    throw new UsageError(`${name} must be an integer from ${low} to ${high}`);
  return Number(text);
}

// Throws UsageError on anything it cannot use; the caller prints usage.
export function parseOptions(argv, environment = process.env) {
  const { values, positionals } = parseArgs({
    args: argv,
    strict: true,
    allowPositionals: true,
    options: {
      listen: { type: 'string', default: '127.0.0.1' },
      port: { type: 'string', default: '8420' },
      'allow-input': { type: 'boolean', default: false },
      'tls-cert': { type: 'string' },
      'tls-key': { type: 'string' },
      'stun-server': { type: 'string', multiple: true, default: [] },
      fps: { type: 'string', default: '15' },
      worker: { type: 'string' },
      help: { type: 'boolean', default: false },
    },
  });
  if (positionals.length > 0) throw new UsageError(`unexpected argument ${positionals[0]}`);
  if (Boolean(values['tls-cert']) !== Boolean(values['tls-key']))
    throw new UsageError('--tls-cert and --tls-key go together');
  const stunServers = values['stun-server'];
  if (stunServers.length > 8) throw new UsageError('at most 8 STUN servers');
  for (const url of stunServers)
    if (!/^stun:[A-Za-z0-9.:[\]-]+$/.test(url)) throw new UsageError(`not a STUN URL: ${url}`);
  return {
    help: values.help,
    listen: values.listen,
    port: integer(values.port, '--port', 0, 65535),
    allowInput: values['allow-input'],
    tls: values['tls-cert'] ? { cert: values['tls-cert'], key: values['tls-key'] } : null,
    iceServers: stunServers,
    fps: integer(values.fps, '--fps', 1, 60),
    worker: values.worker ?? environment.KELVARN_WORKER ?? join(repository, 'build', 'kelvarn-remote-native'),
  };
}
