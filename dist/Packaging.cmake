# `cpack` in the build folder makes a Debian package of what `cmake --install`
# lays out, with the libraries it links found by dpkg-shlibdeps.

set(KIRO_MAINTAINER "KIRO developers <kiro@kiro.example>" CACHE STRING
    "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kiro)
set(CPACK_PACKAGE_VENDOR "KIRO developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web browser with a built-in file getter")
set(CPACK_PACKAGE_DESCRIPTION
"KIRO is a web browser for Japanese-speaking users with a built-in file
getter. On any page the getter reads the page and each of its frames, finds
the files that it links to (optionally also those of the pages it links to),
keeps the file types ticked in its list and downloads the chosen files into a
folder named after the page. Its windows are in Japanese.")
set(CPACK_PACKAGE_HOMEPAGE_URL ${KIRO_HOME_PAGE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KIRO_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Japanese text needs a CJK font, and Qt's own texts (menus of the text
# boxes, dialog buttons) its Japanese catalogue; the toolbar's SVG pictures are
# drawn by Qt's SVG plugin (without it the PNG copies are shown).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n, libqt6svg6")

include(CPack)
