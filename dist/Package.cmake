# The Debian package (CPack, DEB generator): scripts/package.sh configures
# a build with the prefix /usr, without tests and build-tree look-ups, and
# runs cpack in it. The dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrup)
set(CPACK_PACKAGE_VENDOR "Kestrup project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "direct backup with online monitoring, and backup schedules")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrup project <packages@kestrup.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its display and image plug-ins at run time; dpkg-shlibdeps cannot
# see them. The browser for the help comes through xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd")
# The extended description (cpack puts the summary above it as the
# synopsis, indents the lines and turns empty ones into " .").
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Two desktop companions of the Kesmo backup program.

Selwand watches directories and copies every changed file straight to the
destination of a Kesmo backup task: as a plain copy, a gzip file or a
one-file zip archive, keeping up to nine previous versions. It keeps
running in the notification area or without a window as a user service.

Marvick keeps backup schedules: rotations of full, differential and
incremental backups, started by scheduled tasks of the systemd user
manager or by desktop shortcuts.

The package also holds kescopy, the copy engine on the command line.")

# Debian wants the copyright and a compressed changelog in the package's
# documentation folder.
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
set(_changelog ${CMAKE_BINARY_DIR}/share/doc/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/doc
  COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog > ${_changelog}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog)
add_custom_target(package-docs ALL DEPENDS ${_changelog})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright DESTINATION ${_docdir})
install(FILES ${_changelog} DESTINATION ${_docdir})

include(CPack)
