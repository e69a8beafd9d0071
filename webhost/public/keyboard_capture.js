// Turns keys, and typed, composed and pasted text, into input events, as the
// typing mode says (typing_mode.js). Whenever the page stops getting keys
// (blur, hidden, left) it lets go of everything, so that nothing stays held
// on the desktop.
import { keyCodeOf, modifierBits } from './key_codes.js';
import { isLevelShift, typesCharacter } from './typing_mode.js';

// keyboard: a hidden textarea that holds the focus while the user works on
// the desktop; link(): the control link input goes to now, or null;
// mode(): 'characters' or 'places'.
export function attachKeyboardCapture({ keyboard, link, mode }) {
  let composing = false;
  const sendTyped = () => {
    const text = keyboard.value;
    keyboard.value = '';
    if (text) link()?.text(text);
  };
  const isPasteShortcut = (event) => event.code === 'KeyV' && (event.ctrlKey || event.metaKey) && !event.altKey;
  const byCharacter = (event) => mode() === 'characters' && typesCharacter(event);

  keyboard.addEventListener('keydown', (event) => {
    const keyCode = keyCodeOf(event.code);
    // Keys without a code, and keys that compose, arrive as text instead;
    // the paste shortcut pastes this computer's clipboard.
    if (composing || event.isComposing || keyCode === undefined || isPasteShortcut(event) || byCharacter(event)) return;
    if (mode() === 'characters' && isLevelShift(event)) {
      // Windows reports AltGr as Ctrl, then AltGr: that Ctrl goes up again.
      link()?.key('ControlLeft', keyCodeOf('ControlLeft'), false, 0);
      return;
    }
    event.preventDefault();
    if (!event.repeat) link()?.key(event.code, keyCode, true, modifierBits(event));
  });
  keyboard.addEventListener('keyup', (event) => {
    const keyCode = keyCodeOf(event.code);
    if (keyCode === undefined) return;
    event.preventDefault();
    link()?.key(event.code, keyCode, false, modifierBits(event));
  });
  keyboard.addEventListener('compositionstart', () => {
    composing = true;
  });
  keyboard.addEventListener('compositionend', () => {
    composing = false;
    sendTyped();
  });
  keyboard.addEventListener('input', () => {
    if (!composing) sendTyped();
  });
  keyboard.addEventListener('paste', (event) => {
    event.preventDefault();
    // The shortcut's own modifier is still down on the desktop: let go first,
    // or the text would arrive as shortcuts.
    link()?.release();
    link()?.text(event.clipboardData?.getData('text/plain') ?? '');
  });

  const release = () => link()?.release();
  keyboard.addEventListener('blur', release);
  window.addEventListener('blur', release);
  window.addEventListener('pagehide', release);
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) release();
  });
}
