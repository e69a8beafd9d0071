// Frames per second, bit rate, the picture's delay and the round-trip time
// of the connection, from its statistics once a second; show(figures) gets
// each new reading.
function selectedPair(reports) {
  let pair = null;
  reports.forEach((report) => {
    if (report.type === 'transport' && report.selectedCandidatePairId) pair = reports.get(report.selectedCandidatePairId);
  });
  if (pair) return pair;
  reports.forEach((report) => {
    if (report.type === 'candidate-pair' && report.nominated && report.state === 'succeeded') pair = report;
  });
  return pair;
}

// Mean seconds per item of a running total over the last reading, or over
// the whole stream when no item came since.
function meanSince(now, before, total, count) {
  const items = (now[count] ?? 0) - (before?.[count] ?? 0);
  if (items > 0) return ((now[total] ?? 0) - (before?.[total] ?? 0)) / items;
  return now[count] > 0 ? (now[total] ?? 0) / now[count] : null;
}

// How long a picture takes from the desktop to the screen, as far as the
// receiver can tell: half the round trip, the wait in the jitter buffer and
// the decoding.
function delayMs(video, previous, roundTrip) {
  const buffered = meanSince(video, previous, 'jitterBufferDelay', 'jitterBufferEmittedCount');
  const decoding = meanSince(video, previous, 'totalDecodeTime', 'framesDecoded');
  if (buffered === null || decoding === null || roundTrip === undefined) return null;
  return (roundTrip / 2 + buffered + decoding) * 1000;
}

export function startLiveFigures(connection, show, intervalMs = 1000) {
  let previous = null;
  let stopped = false;
  const read = async () => {
    let reports;
    try {
      reports = await connection.getStats();
    } catch {
      return; // the connection is closing
    }
    // A reading that was under way when the figures stopped is old news.
    if (stopped) return;
    let video = null;
    reports.forEach((report) => {
      if (report.type === 'inbound-rtp' && report.kind === 'video') video = report;
    });
    if (!video) return;
    const seconds = previous ? (video.timestamp - previous.timestamp) / 1000 : 0;
    const rate = (now, before) => (seconds > 0 ? (now - before) / seconds : 0);
    const roundTrip = selectedPair(reports)?.currentRoundTripTime;
    show({
      framesDecoded: video.framesDecoded ?? 0,
      frameRate: previous ? rate(video.framesDecoded ?? 0, previous.framesDecoded ?? 0) : 0,
      bitRate: previous ? rate((video.bytesReceived ?? 0) * 8, (previous.bytesReceived ?? 0) * 8) : 0,
      delayMs: delayMs(video, previous, roundTrip),
      roundTripMs: roundTrip === undefined ? null : roundTrip * 1000,
      width: video.frameWidth ?? 0,
      height: video.frameHeight ?? 0,
    });
    previous = video;
  };
  const timer = setInterval(read, intervalMs);
  return () => {
    stopped = true;
    clearInterval(timer);
  };
}
