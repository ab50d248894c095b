# The Debian package: `cpack -G DEB` in a build folder makes pellavo_<version>_<arch>.deb
# from what `cmake --install` puts under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellavo)
set(CPACK_PACKAGE_VENDOR "The Pellavo developers")
set(CPACK_PACKAGE_CONTACT "The Pellavo developers")
set(CPACK_PACKAGE_DESCRIPTION
    "Pellavo keeps news feed subscriptions as a tree of groups and feeds, downloads the feeds over HTTP and \
HTTPS on request or on a schedule, and packs every downloaded feed into one news feed file that the user \
hands to a phone through its Send To menu. Subscriptions are exchanged with other feed readers as OPML. \
The package also holds pellavo-nff, which shows what a news feed file holds and makes its e-book.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt libraries only recommend their platform plugins, without which no window opens, and
# Qt SQL loads its SQLite driver, which keeps the article history and the outbox of
# deliveries, as a plugin, and the e-book needs the image format plugins to read WebP pictures.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite, qt6-image-formats-plugins")
# xdg-open shows the user guide and xdg-email offers "Mail Recipient" in Send To; Qt's
# Wayland plugin makes Pellavo a native client of a Wayland session (without it, Pellavo
# runs through XWayland); with KDE Connect, Send To reaches paired phones. A secret store
# (GNOME Keyring or KWallet) keeps the mail password.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland, gnome-keyring | libkf5wallet-bin")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS kdeconnect)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
