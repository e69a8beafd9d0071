// Which keys reach the desktop as the characters they type, and which as the
// key at their place on the keyboard. Typing characters (the default) sends
// what the person typed, so that a keyboard whose layout differs from the
// desktop's still types the right characters; shortcuts (with Ctrl, Alt or
// the Windows key) and keys that type nothing still go by their place. Typing
// by places sends every key by its place, for games and for shortcuts that
// mean a place rather than a character.

// Whether the page lets the browser type this key into its text field, which
// then sends what it got as text. A dead key is let through too: the next
// key composes with it.
export function typesCharacter(event) {
  if (event.key === 'Dead') return true;
  const shortcut = (event.ctrlKey || event.altKey || event.metaKey) && !event.getModifierState('AltGraph');
  return !shortcut && [...event.key].length === 1;
}

// AltGr picks a layout's further characters; typing characters, it is no
// key of the desktop's.
export function isLevelShift(event) {
  return event.key === 'AltGraph';
}
