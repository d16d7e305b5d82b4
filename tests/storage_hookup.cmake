# Uses the calibration libraries declared in calib_lib.cmake.
zelostrel_test(test_storage_hookup SOURCES storage_hookup_test.cpp DEPS zelostrel_module_base)
add_dependencies(test_storage_hookup calib_add_one calib_no_entry)
target_compile_definitions(test_storage_hookup PRIVATE
  CALIB_ADD_ONE_PATH="$<TARGET_FILE:calib_add_one>"
  CALIB_NO_ENTRY_PATH="$<TARGET_FILE:calib_no_entry>")
