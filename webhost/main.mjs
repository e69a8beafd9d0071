// Starts the reference host application and prints the address to open.
import { accessSync, constants } from 'node:fs';
import { parseOptions, usage, UsageError } from './lib/options.mjs';
import { startServer } from './lib/server.mjs';

const log = (line) => process.stderr.write(`webhost: ${line}\n`);

let options;
try {
  options = parseOptions(process.argv.slice(2));
} catch (error) {
  // parseArgs throws TypeErrors with a code for unknown or malformed options.
  if (!(error instanceof UsageError) && !error.code?.startsWith('ERR_PARSE_ARGS')) throw error;
  process.stderr.write(`webhost: ${error.message}\n${usage}\n`);
  process.exit(2);
}
if (options.help) {
  process.stdout.write(`${usage}\n`);
  process.exit(0);
}

try {
  accessSync(options.worker, constants.X_OK);
} catch {
  log(`no worker at ${options.worker}: build it (bash scripts/build.sh) or name it with --worker`);
  process.exit(1);
}

let server;
try {
  server = await startServer(options, log);
} catch (error) {
  log(`cannot start: ${error.message}`);
  process.exit(1);
}
if (server.exposed && !options.tls)
  log(`WARNING: listening on ${options.listen} without TLS: anyone on the network path can read the access token and the signalling. Give --tls-cert and --tls-key.`);
if (server.exposed && options.iceServers.length === 0)
  log('a viewer behind a NAT needs --stun-server: without an ICE server the worker offers only the addresses it has');
log(options.allowInput ? 'input allowed: the viewer drives this desktop' : 'view only: start with --allow-input to let the viewer drive');
process.stdout.write(`Open ${server.url}\n`);

let stopping = false;
const stop = async () => {
  if (stopping) return;
  stopping = true;
  await server.close();
  process.exit(0);
};
process.on('SIGINT', stop);
process.on('SIGTERM', stop);
