// What a viewer may send over the WebSocket, and how much. Input never passes
// here (it goes straight to the worker over the data channels): only the
// token, the answer and the page's ICE candidates, a handful per session.
export const limits = {
  maximumMessageBytes: 64 * 1024,
  messagesPerSecond: 20,
  messageBurst: 60,
  secondsToAuthenticate: 5,
  // Sockets waiting for their token, from one address and in all.
  waitingPerSource: 4,
  waitingConnections: 32,
};

// A token bucket: bursts of messageBurst, then messagesPerSecond.
export function makeRateLimit({ perSecond = limits.messagesPerSecond, burst = limits.messageBurst, now = Date.now } = {}) {
  let tokens = burst;
  let last = now();
  return () => {
    const time = now();
    tokens = Math.min(burst, tokens + ((time - last) / 1000) * perSecond);
    last = time;
    if (tokens < 1) return false;
    tokens -= 1;
    return true;
  };
}

const isText = (value, low, high) =>
  typeof value === 'string' && value.length >= low && value.length <= high && !value.includes('\0');

// The parsed message when it is one the viewer may send, otherwise null. The
// bounds are the worker's own, so nothing a viewer sends can make the worker
// refuse a command (which would end the session).
export function readViewerMessage(text) {
  let message;
  try {
    message = JSON.parse(text);
  } catch {
    return null;
  }
  if (message === null || typeof message !== 'object' || Array.isArray(message)) return null;
  switch (message.type) {
    case 'hello':
      return isText(message.token, 1, 256) ? { type: 'hello', token: message.token } : null;
    case 'answer':
      return isText(message.sdp, 1, limits.maximumMessageBytes) ? { type: 'answer', sdp: message.sdp } : null;
    case 'candidate': {
      const { candidate, sdpMid, sdpMLineIndex } = message;
      const valid =
        isText(candidate, 1, 16384) && isText(sdpMid, 0, 256) && Number.isInteger(sdpMLineIndex) &&
        sdpMLineIndex >= 0 && sdpMLineIndex <= 65535;
      return valid ? { type: 'candidate', candidate, sdpMid, sdpMLineIndex } : null;
    }
    default:
      return null;
  }
}
