# A stand-in device module (a real library with the two exports) and a library
# that is not a device module, so the host's tests need not the real one.
foreach(module fake_device_module not_a_device_module)
  add_library(${module} SHARED fake_device_module.cpp)
  target_link_libraries(${module} PRIVATE zelostrel_module_base)
  set_target_properties(${module} PROPERTIES CXX_VISIBILITY_PRESET hidden)
endforeach()
target_compile_definitions(not_a_device_module PRIVATE FAKE_MODULE_WITHOUT_EXPORTS)
set(trackhost_test_sources trackhost_test.cpp)
if(NOT WIN32)  # signals, FIFOs, devices and other users' objects
  list(APPEND trackhost_test_sources trackhost_posix_test.cpp)
endif()
zelostrel_test(test_trackhost SOURCES ${trackhost_test_sources} DEPS trackhost_core)
add_dependencies(test_trackhost trackhost fake_device_module not_a_device_module zelostrel ostrelsim)
target_compile_definitions(test_trackhost PRIVATE TRACKHOST_PROGRAM="$<TARGET_FILE:trackhost>"
  FAKE_MODULE_LIBRARY="$<TARGET_FILE:fake_device_module>" NOT_A_MODULE_LIBRARY="$<TARGET_FILE:not_a_device_module>"
  REAL_MODULE_LIBRARY="$<TARGET_FILE:zelostrel>" OSTRELSIM_PROGRAM="$<TARGET_FILE:ostrelsim>"
  EXAMPLES_FOLDER="${PROJECT_SOURCE_DIR}/examples")
