// Reports a connection's ICE candidates through window.report; the
// end-of-candidates marker has an empty text, which the worker refuses.
window.reportCandidates = (connection) => {
  connection.onicecandidate = ({ candidate }) => {
    if (candidate && candidate.candidate) {
      window.report({
        type: 'candidate',
        candidate: candidate.candidate,
        sdpMid: candidate.sdpMid ?? '',
        sdpMLineIndex: candidate.sdpMLineIndex ?? 0,
      });
    }
  };
};
