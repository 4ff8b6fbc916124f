# The Debian package: cpack -G DEB in a build tree (scripts/build-deb.sh).
# Its files land under /usr through DESTDIR, so that the install steps that
# write files naming the install prefix (the p11-kit module file) name /usr
# and the machine registration of a plain install does not run.
set(CPACK_GENERATOR DEB)
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_NAME velkora-certmgr)
set(CPACK_PACKAGE_VENDOR Velkora)
set(CPACK_PACKAGE_CONTACT "Velkora <support@velkora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Velkora certificate manager: smart-card certificates for the desktop")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Tray program that registers the certificates of Velkora signature cards,
 with the card's minidriver, its provider and a PKCS#11 module that p11-kit
 and NSS load, so that browsers, mail and office programs sign with the card.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pcscd, p11-kit")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libnss3-tools, pinentry-gnome3 | pinentry")
# Only what the program needs on a user's machine: no test tools.
set(CPACK_STRIP_FILES ON)

# Maintainer scripts register and unregister the provider, the card types and
# the p11-kit module in the machine hive.
include(GNUInstallDirs)
set(VELK_PACKAGE_MODULE_DIR /usr/${CMAKE_INSTALL_LIBDIR}/velkora)
configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/postinst.in
  ${CMAKE_BINARY_DIR}/packaging/postinst @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/prerm.in
  ${CMAKE_BINARY_DIR}/packaging/prerm @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/postrm.in
  ${CMAKE_BINARY_DIR}/packaging/postrm @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/postinst
  ${CMAKE_BINARY_DIR}/packaging/prerm ${CMAKE_BINARY_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
