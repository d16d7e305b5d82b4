zelostrel_test(test_trackview SOURCES trackview_test.cpp DEPS trackview_core)
add_dependencies(test_trackview trackhost trackview fake_device_module zelostrel)
target_compile_definitions(test_trackview PRIVATE
  TRACKHOST_PROGRAM="$<TARGET_FILE:trackhost>"
  TRACKVIEW_PROGRAM="$<TARGET_FILE:trackview>"
  FAKE_MODULE_LIBRARY="$<TARGET_FILE:fake_device_module>"
  REAL_MODULE_LIBRARY="$<TARGET_FILE:zelostrel>"
  READ_STORAGE_SCRIPT="${PROJECT_SOURCE_DIR}/tools/read_storage.py")
