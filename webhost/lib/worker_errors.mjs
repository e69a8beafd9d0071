// Readable words for how a worker failed, for the page and the log.
const byCode = {
  capture_unavailable: 'The desktop cannot be captured: the X display is missing or has no RandR.',
  h264_unavailable: 'No H264 encoder is installed (GStreamer ugly or libav plugins).',
  native_initialize_failed: 'The media engine could not start: a GStreamer plugin is missing.',
  description_failed: 'The browser and the desktop could not agree on a connection.',
  invalid_candidate: 'The browser sent a network candidate the desktop could not read.',
  operation_timeout: 'The desktop took too long to answer.',
};

export function describeWorkerError(code) {
  return byCode[code] ?? `The desktop stopped with the error "${String(code).slice(0, 64)}".`;
}

export function describeWorkerExit({ error, code, signal }) {
  if (error) return `The desktop worker could not be started (${error.code ?? error.message}).`;
  if (signal) return `The desktop worker stopped unexpectedly (killed by ${signal}).`;
  return `The desktop worker stopped unexpectedly (exit code ${code}).`;
}
