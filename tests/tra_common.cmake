# Uses the calibration libraries declared in calib_lib.cmake.
zelostrel_test(test_tra_common SOURCES tra_common_test.cpp DEPS zelostrel_calib)
add_dependencies(test_tra_common calib_add_one calib_no_entry)
target_compile_definitions(test_tra_common PRIVATE
  CALIB_ADD_ONE_PATH="$<TARGET_FILE:calib_add_one>"
  CALIB_NO_ENTRY_PATH="$<TARGET_FILE:calib_no_entry>")
