// Who gets a desktop: a WebSocket from a page of our own origin, whose first
// message carries the access token, while no other viewer has one. Everything
// a viewer sends is bounded in size and rate; a breach closes its socket.
import { WebSocketServer, WebSocket } from 'ws';
import { tokenMatches } from './access_token.mjs';
import { limits, makeRateLimit, readViewerMessage } from './viewer_messages.mjs';
import { makeWaitingRoom } from './waiting_room.mjs';

export const closeCodes = {
  tokenRefused: 4401,
  anotherViewer: 4409,
  policy: 1008,
};

// A socket that ends its session is let go after this long even when the
// other side never answers the closing handshake (a lost network), so that
// the next viewer need not wait for it.
const closingGraceMs = 2000;

function refuseUpgrade(socket, status, text) {
  socket.end(`HTTP/1.1 ${status} ${text}\r\nConnection: close\r\nContent-Length: 0\r\n\r\n`);
}

function closeWithin(ws, code, reason) {
  ws.close(code, reason);
  setTimeout(() => ws.terminate(), closingGraceMs).unref();
}

// startSession(viewer) returns the session object of desktop_session.mjs.
export function makeViewerGate({ token, checks, startSession }) {
  const sockets = new WebSocketServer({ noServer: true, maxPayload: limits.maximumMessageBytes });
  const room = makeWaitingRoom({
    perSource: limits.waitingPerSource,
    total: limits.waitingConnections,
    turnOut: (ws) => ws.terminate(),
  });
  let active = null;

  const admit = (ws, request) => {
    room.enter(request.socket.remoteAddress, ws);
    let waiting = true;
    let session = null;
    const withinRate = makeRateLimit();
    const stopWaiting = () => {
      if (!waiting) return;
      waiting = false;
      room.leave(ws);
      clearTimeout(timer);
    };
    const timer = setTimeout(() => {
      stopWaiting();
      closeWithin(ws, closeCodes.tokenRefused, 'access token required');
    }, limits.secondsToAuthenticate * 1000);
    const viewer = {
      send: (message) => ws.readyState === WebSocket.OPEN && ws.send(JSON.stringify(message)),
      close: (code, reason) => closeWithin(ws, code, reason),
    };

    ws.on('error', stopWaiting); // a broken frame closes the socket, which waits no more
    ws.on('message', (data, isBinary) => {
      if (ws.readyState !== WebSocket.OPEN) return;
      if (!withinRate()) return closeWithin(ws, closeCodes.policy, 'too many messages');
      const message = isBinary ? null : readViewerMessage(data.toString('utf8'));
      if (waiting) {
        stopWaiting();
        if (message?.type !== 'hello' || !tokenMatches(token, message.token))
          return closeWithin(ws, closeCodes.tokenRefused, 'access token refused');
        if (active) return closeWithin(ws, closeCodes.anotherViewer, 'another viewer is watching; only one at a time');
        active = ws;
        session = startSession(viewer);
        return undefined;
      }
      if (!message || !session.fromViewer(message)) closeWithin(ws, closeCodes.policy, 'unexpected message');
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
      return sockets.handleUpgrade(request, socket, head, admit);
    },
    closeAll(code, reason) {
      for (const ws of sockets.clients) ws.close(code, reason);
    },
  };
}
