# What `cmake --install` puts in place, and the Debian package CPack makes of it.
install(TARGETS qlxhost qlx02600-server qlx02600-gen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qlxruntimecore qlxruntime qlxroutinescore qlxroutines qlx02600 LIBRARY DESTINATION ${QLX_INSTALL_LIBDIR})
install(FILES appserver/schema.sql appserver/schema-postgresql.sql appserver/demo.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/qlx02600)
install(FILES docs/man/qlxhost.1 docs/man/qlx02600-server.1 docs/man/qlx02600-gen.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/qlxhost.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The service unit and its settings name paths of the installed layout, so they are
# written at install time, when the prefix is known (CPack installs with /usr).
install(CODE "set(QLX_PACKAGING_DIR \"${CMAKE_CURRENT_SOURCE_DIR}/packaging\")
              set(QLX_STAGE \"${CMAKE_CURRENT_BINARY_DIR}/packaging\")")
install(SCRIPT packaging/installservice.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qlx02600)
set(CPACK_PACKAGE_VENDOR "QLX")
set(CPACK_PACKAGE_CONTACT "QLX <qlx@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Translation script of the tables: screen module, host, server and generator")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "adduser, libc6, libstdc++6, libqt6core6, libqt6gui6, libqt6widgets6, libqt6network6, libqt6sql6, libqt6sql6-sqlite, libqt6sql6-psql, qt6-qpa-plugins, qt6-translations-l10n")
# The host runs as a Wayland client only with Qt's Wayland platform plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
