# End-to-end: the installed tree (install/staged_install.sh; exit 77: skipped for a missing tool).
add_test(NAME installed_tree COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install/staged_install.sh
  ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(installed_tree PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 170)
