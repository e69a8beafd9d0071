// Which requests may reach the server at all. On loopback only the loopback
// names are accepted as Host, which stops a foreign page that rebinds its own
// name to 127.0.0.1; the WebSocket must also come from a page of this origin.
import { isIP } from 'node:net';

export function isLoopback(address) {
  return address === 'localhost' || address === '::1' || /^127\.\d+\.\d+\.\d+$/.test(address);
}

export function makeRequestChecks({ listen, port, tls }) {
  const scheme = tls ? 'https' : 'http';
  const hosts = isLoopback(listen)
    ? new Set(['127.0.0.1', 'localhost', '[::1]', isIP(listen) === 6 ? `[${listen}]` : listen].map((h) => `${h}:${port}`))
    : null;
  const hostAllowed = (request) => {
    const host = request.headers.host;
    return typeof host === 'string' && (hosts === null || hosts.has(host.toLowerCase()));
  };
  return {
    hostAllowed,
    originAllowed: (request) =>
      hostAllowed(request) && request.headers.origin?.toLowerCase() === `${scheme}://${request.headers.host.toLowerCase()}`,
  };
}
