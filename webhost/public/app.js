// The controller page: joins the pieces once the server admits us.
import { attachInputCapture } from './input_capture.js';
import { createControlLink } from './control_link.js';
import { startLiveFigures } from './live_figures.js';
import { openSignalling } from './signalling.js';
import { createStatusView } from './status_view.js';
import { createViewerPeer } from './viewer_peer.js';

const view = createStatusView(document);
const video = document.getElementById('desktop');
const keyboard = document.getElementById('keyboard');

function start(token) {
  let peer = null;
  let link = null;
  let stopFigures = () => {};
  // Messages are handled one after another: a candidate only after the offer.
  let queue = Promise.resolve();

  const end = () => {
    stopFigures();
    link?.release();
    peer?.close();
    view.connection('Ended');
  };

  const admitted = ({ viewOnly, generation, iceServers }) => {
    peer = createViewerPeer({
      iceServers: Array.isArray(iceServers) ? iceServers : [],
      video,
      onCandidate: (candidate) => signalling.send({ type: 'candidate', ...candidate }),
      onChannel: (channel) => link.attach(channel),
      onState: (state) => {
        view.connection(state === 'connected' ? 'Connected' : `Connection: ${state}`);
        if (state === 'failed') view.message('The connection to the desktop failed.');
      },
    });
    link = createControlLink({
      generation,
      onChange: (state) => {
        view.control(state);
        if (viewOnly) view.input('View only');
        else if (state.ready) keyboard.focus({ preventScroll: true });
      },
    });
    if (viewOnly) view.input('View only');
    else attachInputCapture({ video, keyboard, link });
    stopFigures = startLiveFigures(peer.connection, (figures) => view.figures(figures));
    view.connection('Waiting for the desktop');
  };

  const handle = async (message) => {
    switch (message.type) {
      case 'welcome':
        return admitted(message);
      case 'offer':
        view.connection('Connecting');
        return signalling.send({ type: 'answer', sdp: await peer.answer(message.sdp) });
      case 'candidate':
        return peer.addCandidate({ candidate: message.candidate, sdpMid: message.sdpMid, sdpMLineIndex: message.sdpMLineIndex });
      case 'error':
        view.message(message.message);
        return end();
      default:
        return undefined;
    }
  };

  const signalling = openSignalling({
    token,
    onMessage: (message) => {
      queue = queue.then(() => handle(message)).catch((error) => view.message(`The page failed: ${error.message}`));
    },
    onClose: (code, reason) => {
      view.message(reason ? `Disconnected: ${reason}.` : 'The connection to the server closed.');
      end();
    },
  });
}

const token = new URLSearchParams(location.hash.slice(1)).get('token');
if (token) start(token);
else view.message('This address has no access token: open the address the server printed, with its "#token=" part.');
