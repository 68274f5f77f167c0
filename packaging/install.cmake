# What `cmake --install` puts in place, and the Debian package CPack makes of it.
install(TARGETS qlxhost qlx02600-server qlx02600-gen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qlxruntimecore qlxruntime qlxroutinescore qlxroutines qlx02600 LIBRARY DESTINATION ${QLX_INSTALL_LIBDIR})
install(FILES appserver/database/schema.sql appserver/database/schema-postgresql.sql appserver/database/demo.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/qlx02600)
install(FILES packaging/qlxhost.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The service unit and its settings name paths of the installed layout, so they are
# written at install time, when the prefix is known (CPack installs with /usr).
install(CODE "set(QLX_PACKAGING_DIR \"${CMAKE_CURRENT_SOURCE_DIR}/packaging\")
              set(QLX_SOURCE_DIR \"${CMAKE_CURRENT_SOURCE_DIR}\")
              set(QLX_STAGE \"${CMAKE_CURRENT_BINARY_DIR}/packaging\")")
install(SCRIPT packaging/installservice.cmake)
install(SCRIPT packaging/installdocs.cmake)

# Who answers for the package; a packager sets their own with -DQLX_MAINTAINER=...
set(QLX_MAINTAINER "QLX02600 maintainers <maintainers@users.noreply.c-seed-72ac3cb9.example>"
    CACHE STRING "Maintainer of the Debian package: name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qlx02600)
set(CPACK_PACKAGE_VENDOR "QLX")
set(CPACK_PACKAGE_CONTACT "${QLX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Translation script of the tables: screen module, host, server and generator")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The screen 'Geração do Arquivo de Tradução das Tabelas' writes, for a
language, the translations of the business tables changed since a moment as
an SQL script (TRD_<year><month><day>.sql, Windows-1252, CR LF) that another
database applies.
.
The package holds the desktop host that loads the screen module (qlxhost),
the module with its runtime and routine libraries, the reference application
server (qlx02600-server, on SQLite or PostgreSQL, with a hardened systemd
unit) and a command-line generator for automation (qlx02600-gen).")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The libraries the programs link come from dpkg-shlibdeps, with their versions; the
# plugins Qt loads at run time (SQL drivers, display platforms) are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${QLX_INSTALL_LIBDIR}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "adduser, init-system-helpers (>= 1.54), libqt6sql6-sqlite (>= ${Qt6_VERSION}), libqt6sql6-psql (>= ${Qt6_VERSION}), qt6-qpa-plugins (>= ${Qt6_VERSION}), qt6-translations-l10n (>= ${Qt6_VERSION})")
# The host runs as a Wayland client only with Qt's Wayland platform plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
