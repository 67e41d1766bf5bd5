# The Debian package (scripts/package builds it from the `package` preset):
# cpack -G DEB in the build folder.

set(GEMVOLT_PACKAGE_MAINTAINER "The Gemvolt developers <gemvolt@users.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME gemvolt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Gemvolt developers")
set(CPACK_PACKAGE_CONTACT ${GEMVOLT_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${GEMVOLT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link are found by dpkg-shlibdeps, not listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The synopsis, then the long description; CPack indents it and turns an
# empty line into Debian's paragraph mark.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "two-player falling-gem battle game for a local network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Gemvolt is a battle game for two fighters on a local network. Pairs of
coloured gems fall onto each fighter's board; a crash gem that touches gems
of its own colour smashes the whole group, and every smash is sent to the
opponent as counter gems, laid out by an attack pattern that each player
designs. Whoever fills the entry cell at the top loses.

The package holds the client (gemvolt), the session server (gemvolt-server)
with its window or as a background service, and a computer player
(gemvolt-bot) that joins when a human opponent is missing.")

include(CPack)
