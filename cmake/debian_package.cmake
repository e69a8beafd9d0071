# The Debian package: `cmake --build BUILD --target package`, or
# scripts/package-deb.sh, which also proves it on a fresh Debian 12. It
# depends on exactly what the worker loads: the libraries it links, as
# dpkg-shlibdeps finds them, and the packages of the GStreamer plugins whose
# elements the engine creates, directly or inside webrtcbin. Everything else
# comes with those.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvarn-remote-native)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Streams the X desktop over WebRTC and injects remote input")
set(CPACK_PACKAGE_DESCRIPTION
    "A worker process that a host application starts and drives with JSON lines over its standard input and output.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The kelvarn-remote-native developers")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(kelvarn_plugin_packages
  "gstreamer1.0-plugins-base (>= 1.22)"  # app, videoconvertscale
  "gstreamer1.0-plugins-good (>= 1.22)"  # rtp, rtpmanager
  "gstreamer1.0-plugins-bad (>= 1.22)"   # webrtc, dtls, srtp, sctp, videoparsersbad
  "gstreamer1.0-plugins-ugly (>= 1.22)"  # x264
  "gstreamer1.0-libav (>= 1.22)"         # libav: the H264 decoder
  "gstreamer1.0-nice"                    # nice: ICE
)
list(JOIN kelvarn_plugin_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
include(CPack)
