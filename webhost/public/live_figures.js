// Frames per second, bit rate and round-trip time of the connection, from
// its statistics once a second; show(figures) gets each new reading.
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

export function startLiveFigures(connection, show, intervalMs = 1000) {
  let previous = null;
  const read = async () => {
    let reports;
    try {
      reports = await connection.getStats();
    } catch {
      return; // the connection is closing
    }
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
      roundTripMs: roundTrip === undefined ? null : roundTrip * 1000,
      width: video.frameWidth ?? 0,
      height: video.frameHeight ?? 0,
    });
    previous = video;
  };
  const timer = setInterval(read, intervalMs);
  return () => clearInterval(timer);
}
