# Installs the server's systemd unit and its settings file for the prefix being
# installed: /usr puts the settings in /etc, any other prefix in its own etc/.
if(CMAKE_INSTALL_PREFIX MATCHES "(^|/)usr/?$")
  get_filename_component(QLX_ETC "${CMAKE_INSTALL_PREFIX}/../etc" ABSOLUTE)
else()
  set(QLX_ETC "${CMAKE_INSTALL_PREFIX}/etc")
endif()
set(QLX_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
configure_file("${QLX_PACKAGING_DIR}/qlx02600-server.service.in" "${QLX_STAGE}/qlx02600-server.service" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE FILES "${QLX_STAGE}/qlx02600-server.service")
# The settings may hold PGPASSWORD: the owner writes, the service's group reads.
file(INSTALL DESTINATION "${QLX_ETC}" TYPE FILE FILES "${QLX_PACKAGING_DIR}/qlx02600-server.conf"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
