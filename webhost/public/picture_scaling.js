// How big the desktop's picture is shown: fitted into the window (the
// default), or at a fixed scale, 1 for one desktop pixel per screen pixel,
// with scroll bars when it is larger than the window. The video element then
// has the picture's own size, so the pointer maps through the same box
// (picture_geometry.js) in every mode.

// scale(): 'fit' or a factor as text ('1', '2', '0.5').
export function attachPictureScaling({ stage, video, scale }) {
  const apply = () => {
    const factor = Number(scale());
    const fitted = !(factor > 0) || !video.videoWidth;
    stage.classList.toggle('scaled', !fitted);
    video.style.width = fitted ? '' : `${(video.videoWidth * factor) / devicePixelRatio}px`;
    video.style.height = fitted ? '' : `${(video.videoHeight * factor) / devicePixelRatio}px`;
  };
  video.addEventListener('resize', apply); // a new picture size
  window.addEventListener('resize', apply); // the browser's zoom changes the screen pixel
  return apply;
}
