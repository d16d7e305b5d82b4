# The same frames replayed into the module as a host loads it, built for both systems; the Windows tests compare the
# records of the two byte for byte (docs/windows.md).
add_executable(replay_records replay_records.cpp)
target_link_libraries(replay_records PRIVATE zelostrel_module_base zelostrel_link zelostrel_platform GTest::gtest)
add_dependencies(replay_records zelostrel calib_add_one)
if(CMAKE_CROSSCOMPILING AND ZELOSTREL_LINUX_BUILD)
  set(dumps ${CMAKE_CURRENT_BINARY_DIR}/windows.dump ${CMAKE_CURRENT_BINARY_DIR}/linux.dump)
  add_test(NAME RecordsReplayedOnWindows COMMAND replay_records $<TARGET_FILE:zelostrel> $<TARGET_FILE:calib_add_one>
    ${CMAKE_CURRENT_BINARY_DIR}/windows.dump)
  add_test(NAME RecordsReplayedOnLinux COMMAND ${ZELOSTREL_LINUX_BUILD}/tests/replay_records
    ${ZELOSTREL_LINUX_BUILD}/device/libzelostrel.so ${ZELOSTREL_LINUX_BUILD}/tests/libcalib_add_one.so
    ${CMAKE_CURRENT_BINARY_DIR}/linux.dump)
  set_tests_properties(RecordsReplayedOnWindows RecordsReplayedOnLinux PROPERTIES FIXTURES_SETUP dumps)
  add_test(NAME RecordsIdenticalOnLinuxAndWindows COMMAND ${CMAKE_COMMAND} -E compare_files ${dumps})
  set_tests_properties(RecordsIdenticalOnLinuxAndWindows PROPERTIES FIXTURES_REQUIRED dumps)
endif()
