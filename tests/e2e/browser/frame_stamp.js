// The frame number the benchmarks paint into the top-left corner of a
// picture: 16 blocks of 32x32 pixels, white for a one, the number on the
// first row and its complement on the second, so that a torn or smeared
// picture reads as no number at all.
window.frameStamp = (() => {
  const bits = 16;
  const block = 32;
  const width = bits * block;
  const height = 2 * block;
  const scratch = document.createElement('canvas');
  scratch.width = width;
  scratch.height = height;
  const scratchContext = scratch.getContext('2d', { willReadFrequently: true });

  // Mean luma of the middle half of a block, against mid-grey.
  const white = (pixels, bit, row) => {
    const inset = block / 4;
    let sum = 0;
    for (let y = row * block + inset; y < (row + 1) * block - inset; y += 1) {
      for (let x = bit * block + inset; x < (bit + 1) * block - inset; x += 1) {
        const at = (y * width + x) * 4;
        sum += 0.299 * pixels[at] + 0.587 * pixels[at + 1] + 0.114 * pixels[at + 2];
      }
    }
    return sum / ((block / 2) * (block / 2)) >= 128;
  };

  return {
    // The number in a video element's current picture, or null.
    read(video) {
      if (video.videoWidth < width || video.videoHeight < height) return null;
      scratchContext.drawImage(video, 0, 0, width, height, 0, 0, width, height);
      const pixels = scratchContext.getImageData(0, 0, width, height).data;
      let number = 0;
      let complement = 0;
      for (let bit = 0; bit < bits; bit += 1) {
        number = (number << 1) | (white(pixels, bit, 0) ? 1 : 0);
        complement = (complement << 1) | (white(pixels, bit, 1) ? 1 : 0);
      }
      return (number ^ complement) === 0xffff ? number : null;
    },
    paint(context, number) {
      for (let row = 0; row < 2; row += 1) {
        const shown = row === 0 ? number : ~number;
        for (let bit = 0; bit < bits; bit += 1) {
          context.fillStyle = (shown >> (bits - 1 - bit)) & 1 ? '#ffffff' : '#000000';
          context.fillRect(bit * block, row * block, block, block);
        }
      }
    },
    height,
  };
})();
