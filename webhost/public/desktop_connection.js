// One attempt at the desktop: the WebSocket to the server, the peer
// connection it negotiates, the control link and the live figures. It ends
// once, for whatever cause comes first, and lets go of everything it made.
import { createControlLink } from './control_link.js';
import { startLiveFigures } from './live_figures.js';
import { openSignalling } from './signalling.js';
import { createViewerPeer } from './viewer_peer.js';

// An interrupted connection that has not come back by then is given up: the
// desktop's side gives up on it a few seconds later too.
const interruptionLimitMs = 6000;

// onLink(link): the control link input goes to, null while there is none
// (view only, or ended). onAdmitted() when the server gave us the desktop,
// onConnected() when its picture connected, onEnd({ code, reason }) once: the
// WebSocket's close code (null when the page ended it) and the first cause.
export function connectToDesktop({ token, video, keyboard, view, onLink, onAdmitted, onConnected, onEnd }) {
  let peer = null;
  let link = null;
  let stopFigures = () => {};
  let interruption = null;
  let ended = false;
  let cause = null;
  // Messages are handled one after another: a candidate only after the offer.
  let queue = Promise.resolve();

  const tell = (text) => {
    cause ??= text;
  };
  const end = (code, text) => {
    if (ended) return;
    ended = true;
    tell(text);
    clearTimeout(interruption);
    stopFigures();
    link?.release();
    onLink(null);
    peer?.close();
    signalling.close();
    view.picture(false);
    onEnd({ code, reason: cause });
  };

  const peerState = (state) => {
    clearTimeout(interruption);
    if (state === 'connected') {
      view.connection('Connected');
      view.picture(true);
      onConnected();
    } else if (state === 'disconnected') {
      view.connection('Connection interrupted');
      interruption = setTimeout(() => end(null, 'The connection to the desktop was lost.'), interruptionLimitMs);
    } else if (state === 'failed') {
      end(null, 'The connection to the desktop failed.');
    }
  };

  const admitted = ({ viewOnly, generation, iceServers }) => {
    onAdmitted();
    peer = createViewerPeer({
      iceServers: Array.isArray(iceServers) ? iceServers : [],
      video,
      onCandidate: (candidate) => signalling.send({ type: 'candidate', ...candidate }),
      onChannel: (channel) => link.attach(channel),
      onState: peerState,
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
    view.inputControls(!viewOnly);
    onLink(viewOnly ? null : link);
    stopFigures = startLiveFigures(peer.connection, (figures) => view.figures(figures));
    view.connection('Waiting for the desktop');
  };

  const handle = async (message) => {
    switch (message.type) {
      case 'welcome':
        return admitted(message);
      case 'offer':
        view.connection('Connecting to the desktop');
        return signalling.send({ type: 'answer', sdp: await peer.answer(message.sdp) });
      case 'candidate':
        return peer.addCandidate({ candidate: message.candidate, sdpMid: message.sdpMid, sdpMLineIndex: message.sdpMLineIndex });
      case 'error':
        return end(null, message.message);
      default:
        return undefined;
    }
  };

  const signalling = openSignalling({
    token,
    onMessage: (message) => {
      queue = queue.then(() => handle(message)).catch((error) => end(null, `The page failed: ${error.message}`));
    },
    onClose: (code, reason) => end(code, reason ? `Disconnected: ${reason}.` : 'The connection to the server closed.'),
  });
}
