// Where a point of the page falls on the desktop's picture, which the video
// element shows whole and centred (object-fit: contain), bars around it.

// The picture's box in page coordinates, or null before the first frame.
export function pictureBox(video) {
  const { videoWidth, videoHeight } = video;
  if (!videoWidth || !videoHeight) return null;
  const element = video.getBoundingClientRect();
  const scale = Math.min(element.width / videoWidth, element.height / videoHeight);
  const width = videoWidth * scale;
  const height = videoHeight * scale;
  return {
    left: element.left + (element.width - width) / 2,
    top: element.top + (element.height - height) / 2,
    width,
    height,
    videoWidth,
    videoHeight,
  };
}

// Picture pixels (in the announced display's pixel size) and fractions of
// the picture for a page point; clamped onto the picture when asked, else
// null outside it.
export function picturePoint(box, display, clientX, clientY, clamp = false) {
  if (!box || !display) return null;
  let fractionX = (clientX - box.left) / box.width;
  let fractionY = (clientY - box.top) / box.height;
  const inside = fractionX >= 0 && fractionX < 1 && fractionY >= 0 && fractionY < 1;
  if (!inside && !clamp) return null;
  fractionX = Math.min(Math.max(fractionX, 0), 1);
  fractionY = Math.min(Math.max(fractionY, 0), 1);
  return {
    positionX: fractionX * display.pixelWidth,
    positionY: fractionY * display.pixelHeight,
    normalizedX: fractionX,
    normalizedY: fractionY,
  };
}
