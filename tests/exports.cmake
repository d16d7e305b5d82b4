# The shipped module, loaded as a host loads it (Linux and Windows).
zelostrel_test(test_exports SOURCES exports_test.cpp DEPS zelostrel_framework zelostrel_link zelostrel_platform)
add_dependencies(test_exports zelostrel)
target_compile_definitions(test_exports PRIVATE ZELOSTREL_MODULE="$<TARGET_FILE:zelostrel>")
if(ZELOSTREL_SANITIZE)
  target_compile_options(test_exports PRIVATE -fno-sanitize=vptr)
endif()
