// Turns what the user does with the pointer over the video into input
// events: where it is, its buttons and its wheel.
import { modifierBits } from './key_codes.js';
import { pictureBox, picturePoint } from './picture_geometry.js';

const buttonNames = ['left', 'middle', 'right'];
// The protocol's wheel: 20 units a notch, positive up and left; pages
// scroll by about 100 pixels or 3 lines a notch, positive down and right.
const wheelUnitsPer = [20 / 100, 20 / 3, 200]; // by WheelEvent.deltaMode: pixels, lines, pages

// video: the desktop's video element; keyboard: a hidden textarea that holds
// the focus while the user works on the desktop; link(): the control link of
// control_link.js that input goes to now, null while there is none.
export function attachPointerCapture({ video, keyboard, link }) {
  const pointAt = (event, clamp = false) =>
    picturePoint(pictureBox(video), link()?.activeDisplay(), event.clientX, event.clientY, clamp);

  // Motion goes out at most once a frame, the newest position only.
  let pendingMove = null;
  const sendMove = () => {
    const point = pointAt(pendingMove);
    if (point) link()?.pointerTo(point, modifierBits(pendingMove));
    pendingMove = null;
  };
  video.addEventListener('pointermove', (event) => {
    if (!link()?.isReady()) return;
    if (!pendingMove) requestAnimationFrame(sendMove);
    pendingMove = event;
  });
  video.addEventListener('pointerdown', (event) => {
    keyboard.focus({ preventScroll: true });
    const point = pointAt(event);
    const button = buttonNames[event.button];
    if (!point || !button) return;
    video.setPointerCapture(event.pointerId);
    link()?.button(button, true, point, modifierBits(event));
  });
  video.addEventListener('pointerup', (event) => {
    const button = buttonNames[event.button];
    if (button) link()?.button(button, false, pointAt(event, true), modifierBits(event));
  });
  // Keeps the focus on the keyboard textarea and the page free of selections.
  video.addEventListener('mousedown', (event) => event.preventDefault());
  video.addEventListener('contextmenu', (event) => event.preventDefault());
  video.addEventListener('wheel', (event) => {
    event.preventDefault();
    const scale = wheelUnitsPer[event.deltaMode] ?? wheelUnitsPer[0];
    link()?.scroll(-event.deltaX * scale, -event.deltaY * scale, modifierBits(event));
  }, { passive: false });
}
