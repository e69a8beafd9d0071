// Everything the page tells the user in words and figures.
const number = new Intl.NumberFormat(undefined, { maximumFractionDigits: 1 });
const none = '–';

function bitRateText(bitsPerSecond) {
  if (bitsPerSecond >= 1e6) return `${number.format(bitsPerSecond / 1e6)} Mbit/s`;
  return `${number.format(bitsPerSecond / 1e3)} kbit/s`;
}

const milliseconds = (ms) => (ms === null ? none : `${number.format(ms)} ms`);

const inputReasons = {
  waiting: 'Input: waiting for the desktop',
  input_gate: 'Input: not allowed now',
  capture_unavailable: 'Input: paused, the desktop is not being captured',
  input_desktop_unavailable: 'Input: the desktop takes no input',
  channel_closed: 'Input: ended',
  peer_lost: 'Input: ended, connection lost',
  injection_failed: 'Input: ended, the desktop refused an event',
};

export function createStatusView(document) {
  const element = (id) => document.getElementById(id);
  const show = (id, text) => {
    element(id).textContent = text;
  };
  return {
    connection(text) {
      show('connection-state', text);
    },
    input(text) {
      show('input-state', text);
    },
    // The controls that only send input do nothing for a viewer who may only watch.
    inputControls(enabled) {
      for (const id of ['typing-mode', 'send-keys']) element(id).disabled = !enabled;
    },
    control({ ready, reason, displays, activeId }) {
      this.input(ready ? 'Input: yours (click the picture to type)' : inputReasons[reason] ?? `Input: unavailable (${reason})`);
      element('display-list').replaceChildren(...displays.map((display) => {
        const item = document.createElement('li');
        const { id, frameWidth, frameHeight, frameX, frameY } = display;
        item.textContent = `${id}: ${frameWidth}×${frameHeight} at ${frameX}, ${frameY}${id === activeId ? ' (shown)' : ''}`;
        return item;
      }));
    },
    // null when there is no connection to measure: nothing old stays shown.
    figures(figures) {
      const { framesDecoded, frameRate, bitRate, delayMs, roundTripMs, width, height } = figures ?? {};
      show('frame-rate', figures ? number.format(frameRate) : none);
      show('bit-rate', figures ? bitRateText(bitRate) : none);
      show('delay', figures ? milliseconds(delayMs) : none);
      show('round-trip', figures ? milliseconds(roundTripMs) : none);
      show('frames-decoded', figures ? String(framesDecoded) : none);
      show('picture-size', figures ? `${width}×${height}` : none);
    },
    // Whether the picture shown is live; an old one stays, dimmed.
    picture(live) {
      element('stage').classList.toggle('stale', !live);
    },
    // The one message on the page, null for none.
    message(text) {
      const shown = element('message');
      shown.textContent = text ?? '';
      shown.hidden = text === null;
    },
    reconnecting(delayMs, reason) {
      this.connection(`Reconnecting in ${Math.round(delayMs / 1000)} s`);
      this.input('');
      this.message(reason);
    },
    ended(reason) {
      this.connection('Ended');
      this.input('');
      this.message(reason);
    },
  };
}
