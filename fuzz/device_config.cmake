# Device keyword lines and the pose conversion under hostile input.
zelostrel_fuzz_target(fuzz_device_config
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/device_config_fuzz.cpp
          ${PROJECT_SOURCE_DIR}/device/device_config.cpp
          ${PROJECT_SOURCE_DIR}/device/pose_conversion.cpp
          ${PROJECT_SOURCE_DIR}/link/ipv4_text.cpp
          ${PROJECT_SOURCE_DIR}/platform/number_text.cpp
  DEPS zelostrel_platform)
# The keyword fields own the tracking client: its destructor comes from there.
target_link_libraries(fuzz_device_config PRIVATE zelostrel_link)
