# SPDX-License-Identifier: GPL-3.0-or-later
# `make package`: a .deb of what `cmake --install` puts in place, under /usr.
# Its dependencies are read by dpkg-shlibdeps off the libraries the binary
# links.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME merlow)
set(CPACK_PACKAGE_CONTACT "Merlow developers <developers@merlow.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small MP3 player with one fixed window")
set(CPACK_PACKAGE_DESCRIPTION "Plays an MP3 file dropped on its window from the file manager,\n\
with play, pause and stop buttons, a progress bar and global Caps Lock chords.")
set(CPACK_PACKAGE_HOMEPAGE_URL https://merlow.org/)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Holds the index that icon lookups by name need.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS hicolor-icon-theme)
include(CPack)
