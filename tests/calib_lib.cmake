# Two calibration libraries for the loader tests; built, never installed.
add_library(calib_add_one MODULE ${CMAKE_CURRENT_LIST_DIR}/calib_libs/add_one.cpp)
add_library(calib_no_entry MODULE ${CMAKE_CURRENT_LIST_DIR}/calib_libs/no_entry.cpp)

zelostrel_test(test_calib_lib SOURCES calib_lib_test.cpp DEPS zelostrel_calib)
add_dependencies(test_calib_lib calib_add_one calib_no_entry)
target_compile_definitions(test_calib_lib PRIVATE
  CALIB_ADD_ONE_PATH="$<TARGET_FILE:calib_add_one>"
  CALIB_NO_ENTRY_PATH="$<TARGET_FILE:calib_no_entry>")
