// The controller's side of the desktop's "control" and "motion" data
// channels: reads the display list and whether input is admitted, and sends
// input events with the admitted epoch and a sequence number per channel.
const motionKinds = new Set(['pointer.move', 'pointer.absolute', 'pointer.scroll']);
const textBytesBound = 4096;

function utf8Length(character) {
  const point = character.codePointAt(0);
  return point < 0x80 ? 1 : point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
}

// Pieces of at most textBytesBound UTF-8 bytes, never splitting a character.
function textPieces(text) {
  const pieces = [];
  let piece = '';
  let bytes = 0;
  for (const character of text) {
    const length = utf8Length(character);
    if (bytes + length > textBytesBound) {
      pieces.push(piece);
      piece = '';
      bytes = 0;
    }
    piece += character;
    bytes += length;
  }
  if (piece) pieces.push(piece);
  return pieces;
}

// generation: the session's, which "input.releasedState" must name.
// onChange({ready, reason, displays, activeId}) after every control message.
export function createControlLink({ generation, onChange }) {
  const channels = {};
  const sequences = { control: 0, motion: 0 };
  const heldKeys = new Set();
  const heldButtons = new Set();
  const state = { ready: false, reason: 'waiting', displays: [], activeId: null };
  let epoch = null;

  const changed = () => onChange({ ...state });
  // Events name the display they aim at once the list has named it.
  const onDisplay = () => (state.activeId ? { displayId: state.activeId } : {});

  const read = ({ data }) => {
    if (typeof data !== 'string') return;
    let message;
    try {
      message = JSON.parse(data);
    } catch {
      return;
    }
    if (message?.type === 'displayList' && Array.isArray(message.displays)) {
      state.displays = message.displays;
      state.activeId = message.activeId;
    } else if (message?.type === 'controlReady') {
      // Sequences count afresh for every admission.
      epoch = message.inputEpoch;
      sequences.control = 0;
      sequences.motion = 0;
      state.ready = true;
      state.reason = '';
    } else if (message?.type === 'controlUnavailable') {
      state.ready = false;
      state.reason = String(message.reason);
      heldKeys.clear();
      heldButtons.clear();
    } else {
      return;
    }
    changed();
  };

  const send = (kind, fields, modifiers = 0) => {
    const label = motionKinds.has(kind) ? 'motion' : 'control';
    const channel = channels[label];
    if (!state.ready || channel?.readyState !== 'open') return false;
    sequences[label] += 1;
    channel.send(JSON.stringify({
      kind,
      sequence: sequences[label],
      inputEpoch: epoch,
      modifiers: { rawValue: modifiers },
      pressedKeys: [...heldKeys].slice(0, 32),
      pressedButtons: [...heldButtons].slice(0, 8),
      ...fields,
    }));
    return true;
  };

  return {
    attach(channel) {
      if (channel.label !== 'control' && channel.label !== 'motion') return;
      channels[channel.label] = channel;
      if (channel.label === 'control') channel.onmessage = read;
      channel.onclose = () => {
        state.ready = false;
        state.reason = 'channel_closed';
        changed();
      };
    },
    activeDisplay: () => state.displays.find((display) => display.id === state.activeId) ?? null,
    isReady: () => state.ready,
    pointerTo(point, modifiers) {
      send('pointer.absolute', { ...onDisplay(), ...point }, modifiers);
    },
    button(button, isDown, point, modifiers) {
      if (isDown === heldButtons.has(button)) return;
      if (send('pointer.button', { button, isDown, ...onDisplay(), ...point }, modifiers)) {
        if (isDown) heldButtons.add(button);
        else heldButtons.delete(button);
      }
    },
    scroll(deltaX, deltaY, modifiers) {
      send('pointer.scroll', { deltaX, deltaY, ...onDisplay() }, modifiers);
    },
    // code: the page's name of the key, kept for pressedKeys.
    key(code, keyCode, isDown, modifiers) {
      if (isDown ? !state.ready : !heldKeys.has(code)) return;
      if (isDown) heldKeys.add(code);
      else heldKeys.delete(code);
      send('keyboard.key', { keyCode, isDown }, modifiers);
    },
    text(text) {
      for (const piece of textPieces(text)) send('keyboard.text', { text: piece });
    },
    // Lets go of every key and button the desktop holds for us.
    release() {
      heldKeys.clear();
      heldButtons.clear();
      send('input.releasedState', { generation });
    },
  };
}
