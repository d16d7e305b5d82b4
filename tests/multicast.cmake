zelostrel_test(test_multicast SOURCES multicast_test.cpp DEPS zelostrel_core trackhost_core)
add_dependencies(test_multicast trackhost zelostrel ostrelsim)
target_compile_definitions(test_multicast PRIVATE TRACKHOST_PROGRAM="$<TARGET_FILE:trackhost>"
  REAL_MODULE_LIBRARY="$<TARGET_FILE:zelostrel>" OSTRELSIM_PROGRAM="$<TARGET_FILE:ostrelsim>")
