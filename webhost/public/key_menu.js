// A menu of the combinations the browser keeps for itself outside
// fullscreen, each sent as a press and a release of its last key, typed with
// the others.
import { keyCodeOf } from './key_codes.js';

const modifierBits = { Shift: 0x01, Ctrl: 0x02, Alt: 0x04, Win: 0x08 };
const combinations = ['Ctrl+Alt+Delete', 'Alt+Tab', 'Alt+F4', 'Ctrl+W', 'Ctrl+T', 'Ctrl+N', 'Ctrl+Tab', 'Win', 'Escape', 'F11'];

// 'Ctrl+W' as { code: 'KeyW', modifiers: 0x02 }; the Windows key alone is a key of its own.
function keysOf(name) {
  const parts = name.split('+');
  const last = parts.pop();
  const code = last === 'Win' ? 'MetaLeft' : last.length === 1 ? `Key${last}` : last;
  return { code, modifiers: parts.reduce((bits, part) => bits | modifierBits[part], 0) };
}

// menu: a select whose first option names it; link(): the control link, or null.
export function attachKeyMenu({ menu, keyboard, link }) {
  menu.append(...combinations.map((name) => new Option(name, name)));
  menu.addEventListener('change', () => {
    const { code, modifiers } = keysOf(menu.value);
    link()?.key(code, keyCodeOf(code), true, modifiers);
    link()?.key(code, keyCodeOf(code), false, modifiers);
    menu.selectedIndex = 0;
    keyboard.focus({ preventScroll: true });
  });
}
