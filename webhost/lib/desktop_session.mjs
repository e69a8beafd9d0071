// One viewer's desktop: relays the worker's offer and candidates to the page
// and the page's answer and candidates back, in the order the worker needs
// them (it takes one operation at a time and refuses anything out of turn).
import { describeWorkerError, describeWorkerExit } from './worker_errors.mjs';

// The worker queues at most 128 candidates before the answer is applied;
// a browser gathers a few. Extra ones are dropped rather than ending the session.
const viewerCandidateBound = 64;

export class DesktopSession {
  #worker;
  #viewer;
  #log;
  #offerSent = false;
  #answered = false;
  #failed = false;
  #candidatesFromViewer = 0;
  #candidatesForViewer = [];

  // viewer: { send(message), close(code, reason) }. inputEpoch: null for view only.
  constructor({ worker, viewer, fps, iceServers, inputEpoch, log = () => {} }) {
    this.#worker = worker;
    this.#viewer = viewer;
    this.#log = log;
    worker.on('event', (event) => this.#fromWorker(event));
    worker.on('exit', (outcome) => this.#workerEnded(outcome));
    worker.command('peer.create', {
      role: 'host',
      iceServers: iceServers.map((url) => ({ urls: [url] })),
      capture: { fps },
      // Without "input" the worker has no remote control at all: it ignores every input event.
      ...(inputEpoch === null ? {} : { input: { inputEpoch, inputApproved: true } }),
    });
  }

  // A message already checked by readViewerMessage; false when it came out of turn.
  fromViewer(message) {
    if (!this.#offerSent) return false;
    if (message.type === 'answer') {
      if (this.#answered) return false;
      this.#answered = true;
      this.#worker.command('peer.setDescription', { descriptionType: 'answer', sdp: message.sdp });
      return true;
    }
    if (message.type === 'candidate') {
      if (++this.#candidatesFromViewer > viewerCandidateBound) return true;
      const { candidate, sdpMid, sdpMLineIndex } = message;
      this.#worker.command('peer.addCandidate', { candidate, sdpMid, sdpMLineIndex });
      return true;
    }
    return false;
  }

  viewerLeft() {
    this.#worker.stop();
  }

  #fromWorker(event) {
    switch (event.type) {
      case 'peer.created':
        this.#worker.command('peer.offer');
        return;
      case 'peer.description':
        this.#viewer.send({ type: 'offer', sdp: event.sdp });
        this.#offerSent = true;
        for (const candidate of this.#candidatesForViewer.splice(0)) this.#viewer.send(candidate);
        return;
      case 'peer.candidate': {
        const candidate = { type: 'candidate', candidate: event.candidate, sdpMid: event.sdpMid, sdpMLineIndex: event.sdpMLineIndex };
        // A browser refuses candidates before it has the offer.
        if (this.#offerSent) this.#viewer.send(candidate);
        else this.#candidatesForViewer.push(candidate);
        return;
      }
      case 'peer.state':
        this.#log(`${this.#worker.label}: connection ${event.state}`);
        if (event.state === 'failed') this.#fail('The connection to the browser was lost.');
        return;
      case 'peer.inputConfigured':
        this.#log(`${this.#worker.label}: input ${event.ready ? 'admitted' : 'not admitted'}`);
        return;
      case 'peer.error':
      case 'worker.error':
        // The worker closes and exits by itself after an error.
        this.#log(`${this.#worker.label} reported ${event.code}`);
        this.#fail(describeWorkerError(event.code));
        return;
      default:
    }
  }

  #fail(message) {
    if (this.#failed) return;
    this.#failed = true;
    this.#viewer.send({ type: 'error', message });
    this.#viewer.close(1011, 'desktop session ended');
  }

  #workerEnded(outcome) {
    this.#log(`${this.#worker.label} ended: ${outcome.error?.message ?? `code ${outcome.code}, signal ${outcome.signal}`}`);
    if (!outcome.requested) this.#fail(describeWorkerExit(outcome));
  }
}
