# Windows only: the OS layer under real conditions, and the shipped DLL
# loaded and driven by a test host as a Windows host does it.
# The clock test runs in a zone with an offset, given the Unix way (see there).
add_executable(test_windows_platform windows_platform_test.cpp)
target_link_libraries(test_windows_platform PRIVATE zelostrel_core GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_windows_platform DISCOVERY_MODE PRE_TEST
  PROPERTIES TIMEOUT 120 ENVIRONMENT TZ=America/New_York)

zelostrel_test(test_windows_host SOURCES windows_host_test.cpp DEPS zelostrel_framework zelostrel_link)
add_dependencies(test_windows_host zelostrel)
