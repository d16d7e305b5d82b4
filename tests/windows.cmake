# Windows only: the OS layer under real conditions; the clock test runs in a zone with an offset, given the Unix way
# (see there). Listing the tests under a cold Wine can take longer than the default five seconds.
add_executable(test_windows_platform windows_platform_test.cpp)
target_link_libraries(test_windows_platform PRIVATE zelostrel_core GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_windows_platform DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
                     PROPERTIES TIMEOUT 120 ENVIRONMENT TZ=America/New_York)
