# Third-party libraries, all from Debian's packages.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

if(NOT QM_FUZZ)
  pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
  pkg_check_modules(WEBKIT_EXT REQUIRED IMPORTED_TARGET webkit2gtk-web-extension-4.1)
  # The voice module: TLS, Opus, PulseAudio, GStreamer (RTMP publishing).
  pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
  pkg_check_modules(LIBPULSE REQUIRED IMPORTED_TARGET libpulse)
  pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0 gstreamer-app-1.0)
  # The microphone's processing: echo cancellation (both), noise suppression and speech probability (WebRTC).
  pkg_check_modules(SPEEXDSP REQUIRED IMPORTED_TARGET speexdsp)
  pkg_check_modules(WEBRTC_APM REQUIRED IMPORTED_TARGET webrtc-audio-processing)
endif()
# OpenSSL: the voice module's TLS and datagram encryption (the latter also fuzzed).
find_package(OpenSSL REQUIRED)
# The window library's skin files; the fuzz build reads them too.
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0)
# The engine; the fuzz build uses only its address parser (origins).
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
# The core module's services need these; the fuzz targets link them too.
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
find_package(fmt REQUIRED)
