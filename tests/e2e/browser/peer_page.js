// The remote controller inside the page: one answering RTCPeerConnection that
// shows the host's video, keeps the host's data channels, and reports
// everything through window.report (bound by the driver).
window.controller = (() => {
  const connection = new RTCPeerConnection({ iceServers: [] });
  const channels = new Map();
  const pendingCandidates = [];
  let remoteApplied = false;
  let presentedFrames = 0;
  // [frame number or null, wall-clock ms] of every presented picture, when
  // the page can read the benchmarks' frame stamp.
  let presented = [];

  const video = document.createElement('video');
  video.muted = true;
  video.autoplay = true;
  video.playsInline = true;
  document.body.appendChild(video);
  const countPresented = (now, metadata) => {
    presentedFrames += 1;
    if (window.frameStamp) {
      presented.push([window.frameStamp.read(video), performance.timeOrigin + metadata.presentationTime]);
    }
    video.requestVideoFrameCallback(countPresented);
  };
  video.requestVideoFrameCallback(countPresented);

  window.reportCandidates(connection);
  connection.onconnectionstatechange = () => window.report({ type: 'state', state: connection.connectionState });
  connection.ontrack = ({ track, streams }) => {
    video.srcObject = streams[0] ?? new MediaStream([track]);
    video.play().catch(() => {});
  };
  connection.ondatachannel = ({ channel }) => {
    channels.set(channel.label, channel);
    const describe = () => ({
      label: channel.label,
      ordered: channel.ordered,
      maxRetransmits: channel.maxRetransmits,
    });
    let announced = false;
    const announceOpen = () => {
      if (announced) return;
      announced = true;
      window.report({ type: 'channel', open: true, ...describe() });
    };
    channel.onopen = announceOpen;
    channel.onclose = () => window.report({ type: 'channel', open: false, ...describe() });
    channel.onmessage = ({ data }) =>
      window.report({ type: 'message', label: channel.label, data: typeof data === 'string' ? data : null });
    if (channel.readyState === 'open') announceOpen();
  };

  return {
    async answer(sdp) {
      await connection.setRemoteDescription({ type: 'offer', sdp });
      remoteApplied = true;
      for (const candidate of pendingCandidates.splice(0)) await connection.addIceCandidate(candidate);
      await connection.setLocalDescription(await connection.createAnswer());
      return connection.localDescription.sdp;
    },
    async addCandidate(candidate) {
      // A browser refuses candidates before the offer; the worker sends them early.
      if (remoteApplied) await connection.addIceCandidate(candidate);
      else pendingCandidates.push(candidate);
    },
    send(label, data) {
      const channel = channels.get(label);
      if (!channel || channel.readyState !== 'open') throw new Error(`channel ${label} is not open`);
      channel.send(data);
    },
    async stats() {
      const reports = await connection.getStats();
      const result = { framesDecoded: 0, codec: '', frameWidth: 0, frameHeight: 0, presentedFrames };
      reports.forEach((report) => {
        if (report.type !== 'inbound-rtp' || report.kind !== 'video') return;
        result.framesDecoded = report.framesDecoded ?? 0;
        result.frameWidth = report.frameWidth ?? 0;
        result.frameHeight = report.frameHeight ?? 0;
        // What the receiver went through, for the benchmarks' diagnosis.
        result.receiver = {
          packetsLost: report.packetsLost ?? 0,
          nacks: report.nackCount ?? 0,
          plis: report.pliCount ?? 0,
          keyFramesDecoded: report.keyFramesDecoded ?? 0,
          framesDropped: report.framesDropped ?? 0,
          freezes: report.freezeCount ?? 0,
          jitterBufferMs: report.jitterBufferEmittedCount
            ? (1000 * report.jitterBufferDelay) / report.jitterBufferEmittedCount
            : 0,
        };
        const codec = reports.get(report.codecId);
        if (codec) result.codec = codec.mimeType;
      });
      return result;
    },
    takePresented() {
      const taken = presented;
      presented = [];
      return taken;
    },
    close() {
      connection.close();
    },
  };
})();
