# Install rules (cmake --install, and the Debian package through CPack).
#
#   bin/                       trackhost, trackview, ostrelsim
#   lib/zelostrel/             the module: a plug-in, kept off the linker's search path
#   include/zelostrel/         storage.h, the shared storage's layout for readers
#   share/cmake/zelostrel/     find_package(zelostrel) -> zelostrel::storage
#   share/pkgconfig/           zelostrel.pc
#   share/zelostrel/           read_storage.py, webview/ and the example configurations
#   share/doc/zelostrel/       README, CHANGELOG and docs/
#   lib/systemd/system/        trackhost@.service
#   etc/zelostrel/             simulator.conf (/etc/zelostrel with the prefix /usr)
include(CMakePackageConfigHelpers)

set(ZELOSTREL_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/zelostrel)
set(zelostrel_package_dir ${CMAKE_INSTALL_DATADIR}/cmake/zelostrel)

install(TARGETS zelostrel LIBRARY DESTINATION ${ZELOSTREL_MODULE_DIR})
if(ZELOSTREL_TOOLS)
  install(TARGETS trackhost trackview ostrelsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # webview imports read_storage.py from the folder above its own.
  install(PROGRAMS tools/read_storage.py DESTINATION ${CMAKE_INSTALL_DATADIR}/zelostrel)
  install(PROGRAMS tools/webview/webview.py DESTINATION ${CMAKE_INSTALL_DATADIR}/zelostrel/webview)
  install(FILES tools/webview/page.html DESTINATION ${CMAKE_INSTALL_DATADIR}/zelostrel/webview)
endif()
install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# The storage header: header-only, so its CMake package and pkg-config file
# live under share/ and find their prefix from where they lie.
install(FILES include/zelostrel/storage.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelostrel)
install(TARGETS zelostrel_storage_header EXPORT zelostrelTargets)
install(EXPORT zelostrelTargets NAMESPACE zelostrel:: DESTINATION ${zelostrel_package_dir})
file(WRITE ${PROJECT_BINARY_DIR}/zelostrelConfig.cmake
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/zelostrelTargets.cmake\")\n")
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zelostrelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${PROJECT_BINARY_DIR}/zelostrelConfig.cmake ${PROJECT_BINARY_DIR}/zelostrelConfigVersion.cmake
  DESTINATION ${zelostrel_package_dir})
configure_file(packaging/zelostrel.pc.in zelostrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelostrel.pc DESTINATION ${CMAKE_INSTALL_DATADIR}/pkgconfig)

# The files that name installed paths (the examples' module, the unit's
# program and configuration folder) are written at install time, from the
# prefix in force then: cmake --install --prefix and the package's /usr
# each get their own.
install(CODE "
  set(zelostrel_source \"${PROJECT_SOURCE_DIR}\")
  set(zelostrel_staging \"${PROJECT_BINARY_DIR}/install-configured\")
  set(zelostrel_libdir \"${ZELOSTREL_MODULE_DIR}\")
  set(zelostrel_bindir \"${CMAKE_INSTALL_BINDIR}\")
  set(zelostrel_datadir \"${CMAKE_INSTALL_DATADIR}\")
  set(zelostrel_docdir \"${CMAKE_INSTALL_DOCDIR}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/install-configured.cmake\")
")
