// Who gets a desktop: a WebSocket from a page of our own origin, whose first
// message carries the access token, while no other viewer has one. Everything
// a viewer sends is bounded in size and rate; a breach closes its socket.
import { WebSocketServer, WebSocket } from 'ws';
import { tokenMatches } from './access_token.mjs';
import { limits, makeRateLimit, readViewerMessage } from './viewer_messages.mjs';

export const closeCodes = {
  tokenRefused: 4401,
  anotherViewer: 4409,
  policy: 1008,
};

function refuseUpgrade(socket, status, text) {
  socket.end(`HTTP/1.1 ${status} ${text}\r\nConnection: close\r\nContent-Length: 0\r\n\r\n`);
}

// startSession(viewer) returns the session object of desktop_session.mjs.
export function makeViewerGate({ token, checks, startSession }) {
  const sockets = new WebSocketServer({ noServer: true, maxPayload: limits.maximumMessageBytes });
  let pending = 0;
  let active = null;

  const admit = (ws) => {
    pending += 1;
    let waiting = true;
    let session = null;
    const withinRate = makeRateLimit();
    const timer = setTimeout(() => ws.close(closeCodes.tokenRefused, 'access token required'), limits.secondsToAuthenticate * 1000);
    const stopWaiting = () => {
      if (!waiting) return;
      waiting = false;
      pending -= 1;
      clearTimeout(timer);
    };
    const viewer = {
      send: (message) => ws.readyState === WebSocket.OPEN && ws.send(JSON.stringify(message)),
      close: (code, reason) => ws.close(code, reason),
    };

    ws.on('error', () => {}); // a broken frame closes the socket; nothing more to do
    ws.on('message', (data, isBinary) => {
      if (ws.readyState !== WebSocket.OPEN) return;
      if (!withinRate()) return ws.close(closeCodes.policy, 'too many messages');
      const message = isBinary ? null : readViewerMessage(data.toString('utf8'));
      if (waiting) {
        stopWaiting();
        if (message?.type !== 'hello' || !tokenMatches(token, message.token))
          return ws.close(closeCodes.tokenRefused, 'access token refused');
        if (active) return ws.close(closeCodes.anotherViewer, 'another viewer is watching; only one at a time');
        active = ws;
        session = startSession(viewer);
        return undefined;
      }
      if (!message || !session.fromViewer(message)) ws.close(closeCodes.policy, 'unexpected message');
      return undefined;
    });
    ws.on('close', () => {
      stopWaiting();
      if (active !== ws) return;
      active = null;
      session.viewerLeft();
    });
  };

  return {
    onUpgrade(request, socket, head) {
      socket.on('error', () => {});
      if (request.url !== '/session' || !checks.originAllowed(request)) return refuseUpgrade(socket, 403, 'Forbidden');
      if (pending >= limits.pendingConnections) return refuseUpgrade(socket, 503, 'Busy');
      return sockets.handleUpgrade(request, socket, head, admit);
    },
    closeAll(code, reason) {
      for (const ws of sockets.clients) ws.close(code, reason);
    },
  };
}
