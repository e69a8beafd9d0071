// Sockets that have not presented the token yet, in the order they came.
// Silent ones must not keep the real viewer out, so a newcomer never waits
// for room: when its source, or the whole room, holds as many as allowed,
// the one that has waited longest is turned out. A page sends the token the
// moment its socket opens, long before it could become the oldest.
export function makeWaitingRoom({ perSource, total, turnOut }) {
  const waiting = [];
  const leave = (socket) => {
    const index = waiting.findIndex((entry) => entry.socket === socket);
    if (index >= 0) waiting.splice(index, 1);
  };
  return {
    enter(source, socket) {
      const fromSource = waiting.filter((entry) => entry.source === source);
      const oldest = fromSource.length >= perSource ? fromSource[0] : waiting.length >= total ? waiting[0] : null;
      if (oldest) {
        leave(oldest.socket);
        turnOut(oldest.socket);
      }
      waiting.push({ source, socket });
    },
    leave,
  };
}
