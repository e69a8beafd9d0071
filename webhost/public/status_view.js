// Everything the page tells the user in words and figures.
const number = new Intl.NumberFormat(undefined, { maximumFractionDigits: 1 });

function bitRateText(bitsPerSecond) {
  if (bitsPerSecond >= 1e6) return `${number.format(bitsPerSecond / 1e6)} Mbit/s`;
  return `${number.format(bitsPerSecond / 1e3)} kbit/s`;
}

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
  return {
    connection(text) {
      element('connection-state').textContent = text;
    },
    input(text) {
      element('input-state').textContent = text;
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
    figures({ framesDecoded, frameRate, bitRate, roundTripMs, width, height }) {
      element('frame-rate').textContent = number.format(frameRate);
      element('bit-rate').textContent = bitRateText(bitRate);
      element('round-trip').textContent = roundTripMs === null ? '–' : `${number.format(roundTripMs)} ms`;
      element('frames-decoded').textContent = String(framesDecoded);
      element('picture-size').textContent = `${width}×${height}`;
    },
    // The one message on the page; the first of several causes stays.
    message(text) {
      const shown = element('message');
      if (!shown.hidden) return;
      shown.textContent = text;
      shown.hidden = false;
    },
  };
}
