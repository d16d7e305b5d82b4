# Device keyword lines and the pose conversion under hostile input. The
# sources are compiled in so that they carry the fuzzer's instrumentation.
add_executable(fuzz_device_config
  ${CMAKE_CURRENT_LIST_DIR}/device_config_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/device/device_config.cpp
  ${PROJECT_SOURCE_DIR}/device/pose_conversion.cpp)
target_include_directories(fuzz_device_config PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/platform/posix)
target_compile_options(fuzz_device_config PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
target_link_options(fuzz_device_config PRIVATE -fsanitize=fuzzer,address,undefined)
