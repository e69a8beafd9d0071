// Whether and when the page tries again after its connection to the desktop
// ended. A refused token or message stays refused, and so does a second
// viewer while another watches; a lost network, worker or server is tried
// again, soon at first, then less often. A page that had the desktop and
// lost it may find its own old session still held for a few seconds: it is
// no second viewer, and tries again.
const refusedForGood = new Set([4401, 1008, 1009]);
const anotherViewer = 4409;
const firstDelayMs = 1000;
const longestDelayMs = 15000;

// code: the WebSocket's close code, null when the page itself ended it.
// failures: attempts that failed since the desktop was last shown.
export function retryDelay(code, { wasAdmitted, failures }) {
  if (refusedForGood.has(code) || (code === anotherViewer && !wasAdmitted)) return null;
  return Math.min(firstDelayMs * 2 ** failures, longestDelayMs);
}
