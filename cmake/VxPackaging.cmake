# Installation layout and the Debian package (make package).
include(GNUInstallDirs)

set(VX_INSTALL_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}")
configure_file(${CMAKE_SOURCE_DIR}/packaging/systemd/vx-vault-accessor.service.in
  ${CMAKE_BINARY_DIR}/packaging/vx-vault-accessor.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vx-vault-accessor.service
  DESTINATION lib/systemd/system)

# The man page ships compressed, as Debian expects.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/vx-vault-accessor.8.gz
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/man/vx-vault-accessor.8
          > ${CMAKE_BINARY_DIR}/packaging/vx-vault-accessor.8.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/man/vx-vault-accessor.8)
add_custom_target(vx-man-page ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/vx-vault-accessor.8.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vx-vault-accessor.8.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vx-vault-accessor)
set(CPACK_PACKAGE_VERSION "${VX_VERSION_TEXT}")
set(CPACK_PACKAGE_CONTACT "Varnex agent team <agent-team@varnex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Local credential fetcher for the Varnex monitoring agent")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
# Debian's runtime library packages for what we link dynamically.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6 (>= 2.36), libstdc++6 (>= 12), libboost-program-options1.74.0, libjsoncpp25, libcurl4 (>= 7.88), libssl3 (>= 3.0), liblog4cxx15 (>= 1.0)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
  ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
  ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
include(CPack)
