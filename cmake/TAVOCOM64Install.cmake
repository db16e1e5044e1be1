# What `cmake --install` puts under a prefix, in three install components:
#   runtime      the library (Linux: lib/libTAVOCOM64.so.0.1.0 and .so.0,
#                with its private lib/libtavocom64-platform.so.0; Windows:
#                bin/TAVOCOM64.dll) and the tavocom tool (bin/)
#   development  the public headers, the .so link or the import library
#                (lib/libTAVOCOM64.dll.a), the CMake package
#                (lib/cmake/TAVOCOM64/) and tavocom64.pc (lib/pkgconfig/)
#   samples      the sample components, beside the library (examples/)
# and the Debian package of the Linux build (cpack -G DEB).
include(CMakePackageConfigHelpers)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/TAVOCOM64)

install(TARGETS TAVOCOM64 EXPORT TAVOCOM64Targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
if(NOT WIN32)
  # Private to the runtime and its tool: the SONAME file and its version,
  # no development link. It is in the export set only because the runtime
  # links it.
  install(TARGETS tavocom_platform EXPORT TAVOCOM64Targets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/tavocom DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

install(EXPORT TAVOCOM64Targets NAMESPACE TAVOCOM64:: DESTINATION ${config_dir} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TAVOCOM64Config.cmake.in
                              ${CMAKE_BINARY_DIR}/package/TAVOCOM64Config.cmake INSTALL_DESTINATION ${config_dir}
                              PATH_VARS TAVOCOM64_COMPONENT_INSTALL_DIR)
# 0.x releases keep their interface within one minor version.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/TAVOCOM64ConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/TAVOCOM64Config.cmake ${CMAKE_BINARY_DIR}/package/TAVOCOM64ConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/TAVOCOM64Component.cmake ${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake
        DESTINATION ${config_dir} COMPONENT development)
# The guide, this overview and the tool's manual page, for the package's users.
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/guide.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/docs/tavocom.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

# The .pc file names its prefix relative to its own place, so that it stays
# right under whatever prefix `cmake --install --prefix` chose.
file(RELATIVE_PATH TAVOCOM64_PC_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" TAVOCOM64_PC_PREFIX "${TAVOCOM64_PC_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tavocom64.pc.in ${CMAKE_BINARY_DIR}/package/tavocom64.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/tavocom64.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# The Debian package holds every component, under /usr.
if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME tavocom64)
  set(CPACK_PACKAGE_VENDOR Quorvalltech)
  set(CPACK_PACKAGE_CONTACT "TAVOCOM64 maintainers <tavocom64@example.invalid>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "In-process component object runtime, its tool, headers and samples")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_STRIP_FILES ON)
  # Maintainer scripts (postinst, prerm, postrm, ...) are taken from
  # packaging/debian/ when they are there. Without them CPack writes a
  # postinst and a postrm that run ldconfig; a postinst or postrm given here
  # replaces that one and runs ldconfig itself.
  file(GLOB TAVOCOM64_DEB_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/*)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${TAVOCOM64_DEB_SCRIPTS})
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  include(CPack)
endif()
