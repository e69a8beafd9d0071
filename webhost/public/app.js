// The controller page: connects to the desktop, and connects again when the
// network, the worker or the server was lost, until the server refuses it.
import { connectToDesktop } from './desktop_connection.js';
import { attachFullscreen } from './fullscreen.js';
import { attachKeyMenu } from './key_menu.js';
import { attachKeyboardCapture } from './keyboard_capture.js';
import { attachPictureScaling } from './picture_scaling.js';
import { attachPointerCapture } from './pointer_capture.js';
import { retryDelay } from './reconnect_policy.js';
import { createStatusView } from './status_view.js';

const view = createStatusView(document);
const video = document.getElementById('desktop');
const keyboard = document.getElementById('keyboard');
const typingMode = document.getElementById('typing-mode');
const stage = document.getElementById('stage');
const scale = document.getElementById('scale');
scale.addEventListener('change', attachPictureScaling({ stage, video, scale: () => scale.value }));

function run(token) {
  let link = null;
  let wasAdmitted = false;
  let failures = 0;
  attachPointerCapture({ video, keyboard, link: () => link });
  attachKeyboardCapture({ keyboard, link: () => link, mode: () => typingMode.value });
  attachKeyMenu({ menu: document.getElementById('send-keys'), keyboard, link: () => link });
  attachFullscreen({ stage, button: document.getElementById('fullscreen'), keyboard, release: () => link?.release() });

  const attempt = () => {
    view.connection('Connecting to the server');
    connectToDesktop({
      token,
      video,
      keyboard,
      view,
      onLink: (current) => {
        link = current;
      },
      onAdmitted: () => {
        wasAdmitted = true;
      },
      onConnected: () => {
        failures = 0;
        view.message(null);
      },
      onEnd: ({ code, reason }) => {
        view.figures(null);
        const delay = retryDelay(code, { wasAdmitted, failures });
        if (delay === null) return view.ended(reason);
        failures += 1;
        view.reconnecting(delay, reason);
        return setTimeout(attempt, delay);
      },
    });
  };
  attempt();
}

const token = new URLSearchParams(location.hash.slice(1)).get('token');
if (token) run(token);
else view.ended('This address has no access token: open the address the server printed, with its "#token=" part.');
