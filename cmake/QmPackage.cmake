# The Debian package of the client (`cpack -G DEB` in the build folder, or
# scripts/package.sh): the side-by-side folder under /opt/<package>, the
# administrator's deploy.ini under /etc/<package> (a conffile: kept across
# upgrades), the command on the PATH, the desktop entry, the icon in the
# hicolor theme, the manual page and the documents. Dependencies come from
# the binaries (dpkg-shlibdeps).
set(QM_PRODUCT_TITLE "Quenor")
set(QM_PACKAGE_MAINTAINER "Mervane Network <client@mervane.example>")
set(QM_PACKAGE_VERSION ${PROJECT_VERSION})
# The main window's WM_CLASS: desktops match the running window to the entry by it.
set(QM_MAIN_WINDOW_CLASS "RW_843E199F-B0EC-41B9-8DB7-DB3928E6523C")
string(TOUPPER ${QM_PACKAGE_NAME} QM_PACKAGE_NAME_UPPER)
string(TIMESTAMP QM_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# The side-by-side folder: what bin/ holds, with library paths relative to each binary.
install(TARGETS qm_main qm_update RUNTIME DESTINATION ${QM_INSTALL_DIR})
install(TARGETS qm_core KXCEF2 KXUiLib qm_nim qm_version LIBRARY DESTINATION ${QM_INSTALL_DIR})
install(TARGETS qm_main_render LIBRARY DESTINATION ${QM_INSTALL_DIR}/webext)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/skin/Skin DESTINATION ${QM_INSTALL_DIR})
# The client reads it there when it runs from the package's folder (platform/state_dirs.h).
install(FILES ${PROJECT_SOURCE_DIR}/deploy.ini DESTINATION ${QM_CONFIG_DIR})

set(_qm_pkg ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_qm_pkg})
# The command: an absolute link, as Debian wants one between top-level folders.
file(CREATE_LINK /${QM_INSTALL_DIR}/qm_main ${_qm_pkg}/${QM_PACKAGE_NAME} SYMBOLIC)
install(FILES ${_qm_pkg}/${QM_PACKAGE_NAME} DESTINATION usr/bin)

# Control files: the conffile list, and what a purge removes.
file(WRITE ${_qm_pkg}/control/conffiles "/${QM_CONFIG_DIR}/deploy.ini\n")
configure_file(${PROJECT_SOURCE_DIR}/packaging/postrm.in ${_qm_pkg}/control/postrm @ONLY)

configure_file(${PROJECT_SOURCE_DIR}/packaging/quenor.desktop.in ${_qm_pkg}/${QM_PACKAGE_NAME}.desktop @ONLY)
install(FILES ${_qm_pkg}/${QM_PACKAGE_NAME}.desktop DESTINATION usr/share/applications)

foreach(size 32 64)
  if(size EQUAL 32)
    set(_qm_icon ${PROJECT_SOURCE_DIR}/skin/Skin/icons/108.png)
  else()
    set(_qm_icon ${PROJECT_SOURCE_DIR}/skin/Skin/icons/108@2x.png)
  endif()
  install(FILES ${_qm_icon} DESTINATION usr/share/icons/hicolor/${size}x${size}/apps RENAME ${QM_PACKAGE_NAME}.png)
endforeach()
foreach(size 48 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/${size}.png
    DESTINATION usr/share/icons/hicolor/${size}x${size}/apps RENAME ${QM_PACKAGE_NAME}.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/quenor.svg
  DESTINATION usr/share/icons/hicolor/scalable/apps RENAME ${QM_PACKAGE_NAME}.svg)

# Documents, the manual page and the changelog, compressed as Debian wants them.
set(_qm_doc usr/share/doc/${QM_PACKAGE_NAME})
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${_qm_pkg}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${_qm_pkg}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/quenor.1.in ${_qm_pkg}/${QM_PACKAGE_NAME}.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/lintian-overrides.in ${_qm_pkg}/lintian-overrides/${QM_PACKAGE_NAME} @ONLY)
find_program(QM_GZIP gzip REQUIRED)
foreach(f changelog ${QM_PACKAGE_NAME}.1)
  execute_process(COMMAND ${QM_GZIP} -9nf -k ${_qm_pkg}/${f})
endforeach()
install(FILES ${_qm_pkg}/copyright ${_qm_pkg}/changelog.gz DESTINATION ${_qm_doc})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${_qm_doc})
install(FILES ${_qm_pkg}/${QM_PACKAGE_NAME}.1.gz DESTINATION usr/share/man/man1)
install(FILES ${_qm_pkg}/lintian-overrides/${QM_PACKAGE_NAME} DESTINATION usr/share/lintian/overrides)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QM_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${QM_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "Mervane Network")
set(CPACK_PACKAGE_CONTACT ${QM_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "play-companion client with voice rooms and a tray icon")
# The extended description (CPack puts the summary above it as the first line).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Shows the play-companion service's web front-end in a single-instance window
 with a tray icon and menu, and gives the page voice-chat rooms, detection of
 local music players, machine identity and a launch report. Logs, crash
 dumps, the browser profile and its cache go to the user's XDG folders.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QM_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened with dlopen on the first use of a sound device, so not found by shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpulse0")
# The client's own libraries beside its binaries (found through their $ORIGIN paths).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${QM_BIN_DIR})
# A tray needs the session bus only where a desktop shows StatusNotifierItems;
# publishing a room over RTMP needs GStreamer's elements (appsrc and
# audioconvert: base; aacparse and flvmux: good; voaacenc and rtmp2sink: bad).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "dbus-user-session | dbus-x11, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${_qm_pkg}/control/conffiles;${_qm_pkg}/control/postrm")
# Control files with the modes dpkg expects (0644, scripts 0755).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
