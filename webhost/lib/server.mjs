// The reference host application: serves the controller page and, for the
// one viewer admitted at a time, a worker of its own in the role "host".
import { createServer as createHttpServer } from 'node:http';
import { createServer as createHttpsServer } from 'node:https';
import { readFileSync } from 'node:fs';
import { hostname } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { makeAccessToken } from './access_token.mjs';
import { DesktopSession } from './desktop_session.mjs';
import { loadPageFiles, makePageHandler } from './page_files.mjs';
import { isLoopback, makeRequestChecks } from './request_checks.mjs';
import { makeViewerGate } from './viewer_gate.mjs';
import { WorkerProcess } from './worker_process.mjs';

const pageDirectory = join(dirname(fileURLToPath(import.meta.url)), '..', 'public');

function listen(server, port, address) {
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, address, () => {
      server.off('error', reject);
      resolve(server.address().port);
    });
  });
}

const isUnspecified = (address) => address === '0.0.0.0' || address === '::';

function urlHost(address) {
  if (isUnspecified(address)) return hostname();
  return address.includes(':') ? `[${address}]` : address;
}

export async function startServer(options, log = () => {}) {
  const token = makeAccessToken();
  const files = loadPageFiles(pageDirectory);
  const server = options.tls
    ? createHttpsServer({ cert: readFileSync(options.tls.cert), key: readFileSync(options.tls.key) })
    : createHttpServer();
  const port = await listen(server, options.port, options.listen);
  // The worker listens where the server does: on loopback, on the one other
  // address the server is bound to, or on every interface when it is bound
  // to all. Loopback means 127.0.0.1 even for ::1, which a browser without
  // IPv6 could not reach.
  const bound = server.address().address;
  const iceAddresses = isLoopback(bound) ? ['127.0.0.1'] : isUnspecified(bound) ? null : [bound];
  const checks = makeRequestChecks({ listen: options.listen, port, tls: Boolean(options.tls) });
  const workers = new Set();
  let nextInputEpoch = 1;

  const startSession = (viewer) => {
    const worker = new WorkerProcess(options.worker, { iceAddresses, log });
    workers.add(worker);
    worker.on('exit', () => workers.delete(worker));
    log(`viewer admitted; ${worker.label}`);
    viewer.send({
      type: 'welcome',
      viewOnly: !options.allowInput,
      generation: worker.identity.generation,
      iceServers: options.iceServers,
    });
    return new DesktopSession({
      worker,
      viewer,
      fps: options.fps,
      iceServers: options.iceServers,
      // A fresh epoch per viewer: input approved for one never applies to another.
      inputEpoch: options.allowInput ? nextInputEpoch++ : null,
      log,
    });
  };

  const gate = makeViewerGate({ token, checks, startSession });
  server.on('request', makePageHandler(files, checks.hostAllowed));
  server.on('upgrade', gate.onUpgrade);
  server.on('clientError', (error, socket) => socket.destroy());

  return {
    url: `${options.tls ? 'https' : 'http'}://${urlHost(options.listen)}:${port}/#token=${token}`,
    port,
    exposed: !isLoopback(options.listen),
    // Closes the viewer and waits for every worker to end.
    async close() {
      gate.closeAll(1001, 'server stopping');
      server.close();
      await Promise.all([...workers].map((worker) => new Promise((resolve) => {
        worker.once('exit', resolve);
        worker.stop();
      })));
    },
  };
}
