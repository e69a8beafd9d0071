// The reference sender: Chromium streaming a canvas that looks like the
// benchmarks' moving desktop (stripes, a moving square, small changing blocks
// everywhere and the frame stamp), with its own congestion control. Sized by
// window.canvasOptions; with `still`, only the stamp changes until move().
window.canvasSender = (() => {
  const { width = 1280, height = 720, still = false } = window.canvasOptions ?? {};
  let moving = !still;
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  document.body.appendChild(canvas);
  const context = canvas.getContext('2d');
  const connection = new RTCPeerConnection({ iceServers: [] });
  const pendingCandidates = [];
  let answered = false;
  let painted = [];
  let capturedTrack;
  let number = 0;
  let tick = 0;
  let x = 0;
  let step = 8;
  let random = 1n;
  const side = Math.floor(height / 3);

  const stripes = (left, span) => {
    for (let at = left - (left % 32); at < left + span; at += 32) {
      context.fillStyle = (at / 32) % 2 ? '#405060' : '#6080a0';
      context.fillRect(at, window.frameStamp.height, 32, height - window.frameStamp.height);
    }
  };
  const move = () => {
    stripes(x, side + 32);
    x += step;
    if (x < 0 || x + side > width) {
      step = -step;
      x += 2 * step;
    }
    context.fillStyle = `rgb(255, ${(tick * 4) % 256}, 0)`;
    context.fillRect(x, (height - side) / 2, side, side);
    for (let block = 0; block < 400; block += 1) {
      random = (random * 6364136223846793005n + 1442695040888963407n) & 0xffffffffffffffffn;
      context.fillStyle = `#${Number((random >> 40n) & 0xffffffn).toString(16).padStart(6, '0')}`;
      const top = window.frameStamp.height + Number((random >> 24n) % BigInt(height - window.frameStamp.height - 10));
      context.fillRect(Number((random >> 8n) % BigInt(width)), top, 6, 10);
    }
  };
  const paint = () => {
    if (moving) move();
    if (tick % 2 === 0) {
      window.frameStamp.paint(context, number & 0xffff);
      // Headless Chromium composits a canvas rarely: each picture is handed over explicitly.
      capturedTrack?.requestFrame();
      painted.push([number & 0xffff, performance.timeOrigin + performance.now()]);
      number += 1;
    }
    tick += 1;
  };
  stripes(0, width);
  setInterval(paint, 1000 / 60);

  window.reportCandidates(connection);

  return {
    move() {
      moving = true;
    },
    async offer() {
      const [track] = canvas.captureStream(0).getVideoTracks();
      capturedTrack = track;
      // Screen content: keep the resolution, give up frames.
      track.contentHint = 'detail';
      const transceiver = connection.addTransceiver(track, { direction: 'sendonly' });
      const h264 = RTCRtpSender.getCapabilities('video').codecs.filter((codec) => codec.mimeType === 'video/H264');
      if (h264.length) transceiver.setCodecPreferences(h264);
      await connection.setLocalDescription(await connection.createOffer());
      return connection.localDescription.sdp;
    },
    async accept(sdp) {
      await connection.setRemoteDescription({ type: 'answer', sdp });
      answered = true;
      for (const candidate of pendingCandidates.splice(0)) await connection.addIceCandidate(candidate);
    },
    async addCandidate(candidate) {
      // The receiver gathers while it answers, before the answer arrives here.
      if (answered) await connection.addIceCandidate(candidate);
      else pendingCandidates.push(candidate);
    },
    takePainted() {
      const taken = painted;
      painted = [];
      return taken;
    },
    // The codec, and what its encoder says of itself.
    async codec() {
      const reports = await connection.getStats();
      let description = '';
      reports.forEach((report) => {
        if (report.type !== 'outbound-rtp' || report.kind !== 'video') return;
        const codec = reports.get(report.codecId);
        description = [codec?.mimeType, report.encoderImplementation, `${report.frameWidth}x${report.frameHeight}`,
          `${report.framesEncoded} encoded`, `limited by ${report.qualityLimitationReason}`].join(', ');
      });
      return description;
    },
  };
})();
