# Stopped viewers, FIFOs and other users' objects: POSIX only.
set(trackview_test_sources trackview_test.cpp)
if(NOT WIN32)
  list(APPEND trackview_test_sources trackview_posix_test.cpp)
endif()
zelostrel_test(test_trackview SOURCES ${trackview_test_sources} DEPS trackview_core ostrelsim_core)
add_dependencies(test_trackview trackhost trackview fake_device_module zelostrel ostrelsim)
target_compile_definitions(test_trackview PRIVATE TRACKHOST_PROGRAM="$<TARGET_FILE:trackhost>"
  TRACKVIEW_PROGRAM="$<TARGET_FILE:trackview>" OSTRELSIM_PROGRAM="$<TARGET_FILE:ostrelsim>"
  FAKE_MODULE_LIBRARY="$<TARGET_FILE:fake_device_module>" REAL_MODULE_LIBRARY="$<TARGET_FILE:zelostrel>")
