// The page's peer connection: answers the desktop's offer, shows its video
// and hands over the data channels the desktop opens.
export function createViewerPeer({ iceServers, video, onCandidate, onChannel, onState }) {
  const connection = new RTCPeerConnection({ iceServers: iceServers.map((url) => ({ urls: url })) });
  connection.onicecandidate = ({ candidate }) => {
    // The end-of-candidates marker has no text; the desktop has no use for it.
    if (candidate?.candidate)
      onCandidate({ candidate: candidate.candidate, sdpMid: candidate.sdpMid ?? '', sdpMLineIndex: candidate.sdpMLineIndex ?? 0 });
  };
  connection.ontrack = ({ track, streams }) => {
    video.srcObject = streams[0] ?? new MediaStream([track]);
    video.play().catch(() => {}); // muted video may play; a refusal only means a later start
  };
  connection.ondatachannel = ({ channel }) => onChannel(channel);
  connection.onconnectionstatechange = () => onState(connection.connectionState);

  return {
    connection,
    async answer(sdp) {
      await connection.setRemoteDescription({ type: 'offer', sdp });
      await connection.setLocalDescription(await connection.createAnswer());
      return connection.localDescription.sdp;
    },
    addCandidate: (candidate) => connection.addIceCandidate(candidate),
    close: () => connection.close(),
  };
}
