# The Debian package: cpack -G DEB in the build folder makes zarn60-tools_<version>_<arch>.deb
# (amd64, or arm64 from the aarch64 cross build) from what "cmake --install" installs, with
# the prefix /usr.
set(CPACK_PACKAGE_NAME zarn60-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZARN TOOLS developers")
set(CPACK_PACKAGE_CONTACT "ZARN TOOLS developers <zarn60-tools@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and test utility for the ZARN60 card reader")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# cpack takes the build machine's architecture (dpkg --print-architecture); a cross build's
# package is for the machine the compiler targets, named by its multiarch triplet.
if(CMAKE_CROSSCOMPILING)
  find_program(DPKG_ARCHITECTURE_EXECUTABLE dpkg-architecture)
  set(deb_arch "")
  if(DPKG_ARCHITECTURE_EXECUTABLE AND CMAKE_LIBRARY_ARCHITECTURE)
    execute_process(
      COMMAND ${DPKG_ARCHITECTURE_EXECUTABLE} -t${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
      OUTPUT_VARIABLE deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT deb_arch)
    # A package labelled with the build machine's architecture would install and fail.
    message(WARNING "No Debian architecture for this cross build (the toolchain file sets "
      "CMAKE_LIBRARY_ARCHITECTURE; dpkg-architecture is in dpkg-dev): no package")
    return()
  endif()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_arch})
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The extended description; cpack puts the summary line above it and indents each line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "ZARN TOOLS V${PROJECT_VERSION} configures the ZARN60 magnetic-stripe card reader over USB
(HID) or a serial port: download and upload its configuration, restore the
factory setting, save and load settings files, read a card and ask for the
reader's version.

zarn60-tool is the window, a headless script runner and a lister of serial
ports and HID devices; zarn60-sim is a simulated reader on a
pseudo-terminal or a FUSE hidraw node. A udev rule gives the user at the
seat access to the reader.")
# The libraries from the binaries, plus the fonts the window's texts are drawn in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, fonts-freefont-ttf")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
