# End-to-end: the installed tree and the Debian package (install/*.sh; exit 77:
# skipped for a missing tool), the package from the release build.
add_test(NAME installed_tree COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install/staged_install.sh
  ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set(zelostrel_install_tests installed_tree)
if(NOT ZELOSTREL_SANITIZE)
  add_test(NAME debian_package COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install/debian_package.sh ${PROJECT_BINARY_DIR})
  list(APPEND zelostrel_install_tests debian_package)
endif()
set_tests_properties(${zelostrel_install_tests} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 170)
