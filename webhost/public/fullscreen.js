// The picture in fullscreen, with the keyboard locked to the page, so that
// the keys the browser otherwise keeps (Ctrl+W, Alt+Tab, the Windows key,
// Escape) go to the desktop; holding Escape leaves, as the browser says.
// The button, or Ctrl+Alt+Enter anywhere on the page, goes in and out.
const isToggle = (event) => event.code === 'Enter' && event.ctrlKey && event.altKey && !event.metaKey;

// release() lets go of what the desktop holds: the keys that led here or
// out of here are half pressed.
export function attachFullscreen({ stage, button, keyboard, release }) {
  const toggle = async () => {
    if (document.fullscreenElement) return document.exitFullscreen();
    await stage.requestFullscreen({ navigationUI: 'hide' });
    // Without the Keyboard Lock API (or refused) the browser keeps its keys, as outside.
    return navigator.keyboard?.lock().catch(() => {});
  };
  button.addEventListener('click', () => toggle().catch(() => {}));
  // Before the keyboard's own handler, which would send it to the desktop.
  window.addEventListener('keydown', (event) => {
    if (!isToggle(event)) return;
    event.preventDefault();
    event.stopImmediatePropagation();
    toggle().catch(() => {});
  }, { capture: true });
  document.addEventListener('fullscreenchange', () => {
    if (!document.fullscreenElement) navigator.keyboard?.unlock();
    release();
    keyboard.focus({ preventScroll: true });
  });
}
