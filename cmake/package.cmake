# `make package`: a Debian package of what `cmake --install` puts in place,
# rooted at /usr. The pre-build script turns the staged tree into what Debian
# expects (compressed man page, copyright file) without touching `make install`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VENDOR "the Morvane developers")
set(CPACK_PACKAGE_CONTACT "the Morvane developers <morvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen hex editor for the text terminal")
set(CPACK_PACKAGE_DESCRIPTION
    "Morvane shows a file, or a disk device, as rows of offsets, hexadecimal bytes and\n\
characters (ASCII or EBCDIC), overwrites bytes as hex digits or characters, undoes\n\
changes, searches, and saves safely. Files of any size open at once; with -b bytes\n\
can also be inserted and deleted. A text view, a binary calculator and a file\n\
browser are built in.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps reads the binary's NEEDED entries: the ncurses runtime
# dependency follows whatever the build linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package_tree.cmake)
include(CPack)
