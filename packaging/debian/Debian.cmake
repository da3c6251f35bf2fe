# The two Debian packages (included by packaging/CMakeLists.txt, which installs their files as the
# components `cli` and `loader`).
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${components})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VXA_PACKAGE_MAINTAINER})
# Release 2: the one package of release 1 split in two.
set(CPACK_DEBIAN_PACKAGE_RELEASE 2)
set(version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${PROJECT_NAME})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the binaries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# Each description is the package's own, summary line first: no summary common to both.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME vxa4410-cli)
# The files that release 1 had in vxa4410-loader move here.
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "vxa4410-loader (<< ${version})")
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "vxa4410-loader (<< ${version})")
# Only a post-install step, and no conffiles: a removed package leaves nothing behind (a postrm
# alone keeps it listed as removed with its configuration, "rc"). Removal needs no step of its
# own: udevd reads its rules again by itself once their folder has changed, and a rule that is
# gone changes no device that is plugged in.
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst)
# The extended descriptions, in lines that fit an 80-column terminal.
string(JOIN "\n" CPACK_DEBIAN_CLI_DESCRIPTION
  "firmware updater for the VXA-4410 vibration analyzer, terminal program"
  "A service engineer plugs one VXA-4410 portable vibration analyzer into USB,"
  "finds it, sees its model, serial number and versions, and loads the firmware"
  "this package carries: the program writes it, reads it back and compares every"
  "byte, has the instrument install it, waits for the new version and sets the"
  "instrument's clock. It also updates several instruments at once."
  ""
  "This package holds the terminal program (vxa4410-cli), for scripts, production"
  "lines and machines without a display, a simulated instrument on a"
  "pseudo-terminal (vxa4410-sim), and the udev rule that gives the instrument's"
  "FTDI USB bridge to the user at the machine. The window is in vxa4410-loader.")

set(CPACK_DEBIAN_LOADER_PACKAGE_NAME vxa4410-loader)
set(CPACK_DEBIAN_LOADER_PACKAGE_DEPENDS "vxa4410-cli (= ${version})")
# Qt draws the window's SVG icon with a plugin that no binary links, so the library scan cannot
# see it; without it the window merely has no icon.
set(CPACK_DEBIAN_LOADER_PACKAGE_RECOMMENDS libqt6svg6)
string(JOIN "\n" CPACK_DEBIAN_LOADER_DESCRIPTION
  "firmware updater for the VXA-4410 vibration analyzer, window"
  "A service engineer plugs one VXA-4410 portable vibration analyzer into USB,"
  "presses Find, sees its model, serial number and versions, and presses Load:"
  "the window writes the firmware it carries, reads it back and compares every"
  "byte, has the instrument install it, waits for the new version and sets the"
  "instrument's clock."
  ""
  "This package holds the window (vxa4410-loader) with its menu entry; the"
  "terminal program, the simulated instrument and the udev rule are in"
  "vxa4410-cli.")
