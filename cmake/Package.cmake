# The Debian package: `cpack -G DEB` in a build folder makes ostrel_<version>_amd64.deb from what
# `cmake --install` puts in place under /usr.
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "The Ostrel developers")
set(CPACK_PACKAGE_CONTACT "Ostrel developers <developers@ostrel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watch a camera picture for motion and colour")
# The long description, in lines short enough for package tools.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Ostrel watches a live camera picture for motion and for a chosen colour"
  "inside rectangular detection areas laid over the picture. For each area it"
  "measures how much of the picture moves and how much matches the area's target"
  "colour, marks the changed and the matching pixels, and reports every change of"
  "an area's state as an event to automation clients on the D-Bus session bus."
  "Sources are cameras, IP cameras (RTSP, HTTP), video files and GStreamer"
  "pipelines; the areas are kept in configuration files.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ostrel.org/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Libraries from the binary; Qt's SVG support (the icon) and the GStreamer plugins are only
# loaded at run time: videoconvert, videotestsrc and the parsers (base), V4L2 cameras, RTSP and
# HTTP (good), H.264 and other codecs (libav).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6svg6, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
include(CPack)
