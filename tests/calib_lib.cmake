# Two calibration libraries for the loader's tests and those that use it; built, never installed.
add_library(calib_add_one MODULE ${CMAKE_CURRENT_LIST_DIR}/calib_libs/add_one.cpp)
add_library(calib_no_entry MODULE ${CMAKE_CURRENT_LIST_DIR}/calib_libs/no_entry.cpp)
foreach(test calib_lib tra_common storage_hookup)
  zelostrel_test(test_${test} SOURCES ${test}_test.cpp DEPS zelostrel_module_base zelostrel_calib zelostrel_framework)
  add_dependencies(test_${test} calib_add_one calib_no_entry)
  target_compile_definitions(test_${test} PRIVATE CALIB_ADD_ONE_PATH="$<TARGET_FILE:calib_add_one>"
    CALIB_NO_ENTRY_PATH="$<TARGET_FILE:calib_no_entry>")
endforeach()
