# CPack settings for vantrel_<version>-<revision>_amd64.deb, made from the
# install rules. Included from the top-level CMakeLists.txt (CPack wants its
# variables set there); `bash scripts/package` builds, packs and checks it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Vantrel developers <maintainers@users.noreply.c-seed-0b0cd267.example>")
# The Debian revision is that of packaging/changelog's first entry.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VANTREL_DEBIAN_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "read messages, contacts and calls from iPhone backups
Vantrel reads an unencrypted iPhone backup of iOS 6 to iOS 18, as the desktop
sync software leaves it, or a single SQLite database file, and shows the text
messages, contacts and call history it holds: the live rows and the deleted
rows whose bytes survive in the databases' free space. It reads them with its
own read-only SQLite page reader and saves any category as CSV or TXT.
.
This package holds the desktop application vantrel and the command-line
tool vantrel-cli.")
# Library dependencies come from dpkg-shlibdeps; the Qt platform plugins (a Qt
# program cannot open a window, nor render offscreen, without them) and the
# CJK font the category tree and records are shown in are not linked, so they
# are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/\\\\.git/;/out/;/bench/data/")

include(CPack)
