# The Debian package (cpack -G DEB in the build folder; scripts/package.sh).
# Its dependencies are what the installed files use: the shared libraries
# the programs link (found by dpkg-shlibdeps), Qt's platform plugins (loaded
# at run time, so no library link names them) and fonts for the Chinese
# captions and log lines.
set(VELKOR_PACKAGE_MAINTAINER "Velkor350QN host program developers <velkor350qn@localhost>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkor350qn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host program of the Velkor350QN serial-memory programmer")
# Lines of at most 80 characters, as Debian's tools expect.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Drives one or two Velkor350QN stand-alone USB programmers of serial\n"
  "memories (SPI NOR flash, I2C, SPI and Microwire EEPROMs, SPD and\n"
  "temperature-sensor EEPROMs): loads object files, downloads jobs, programs,\n"
  "verifies and reads chips, numbers them, and upgrades the programmers'\n"
  "firmware. Includes the window velkor350qn, the command line velkor-cli and\n"
  "velkor-sim, simulated programmers for trying everything without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELKOR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-noto-cjk")
# PostgreSQL's client library is loaded only when a PostgreSQL line
# database is named, so the package search of shared libraries misses it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libpq5")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
