// The WebSocket to the host application: the token first, then JSON messages
// both ways. onClose(code, reason) once, when it ends for any cause.
export function openSignalling({ token, onMessage, onClose }) {
  const socket = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/session`);
  socket.onopen = () => socket.send(JSON.stringify({ type: 'hello', token }));
  socket.onmessage = ({ data }) => {
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      return;
    }
    if (message && typeof message === 'object') onMessage(message);
  };
  socket.onclose = ({ code, reason }) => onClose(code, reason);
  return {
    send(message) {
      if (socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
    },
    close: () => socket.close(),
  };
}
