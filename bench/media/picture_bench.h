#pragma once

namespace native_worker::bench {

// Picture per bit of the engine's H264 encoder settings and of reference
// settings: the same desktop-like frames (DesktopFrames) encoded at fixed
// rates, decoded, and held against their sources (luma PSNR), with the
// encoder's processor time per frame; each rate's settings in one run,
// against the engine's own.
void picture(double seconds);

}  // namespace native_worker::bench
