# End-to-end: the installed tree and the Debian package (install/*.sh; exit 77: skipped for a missing tool or right).
add_test(NAME installed_tree COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install/staged_install.sh
  ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(installed_tree PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 170)
if(NOT ZELOSTREL_SANITIZE)
  add_test(NAME debian_package COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install/debian_package.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(debian_package PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 170)
endif()
