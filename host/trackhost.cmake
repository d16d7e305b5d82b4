# The host daemon's pieces. The daemon does not link the module: it loads it
# at run time.
add_library(trackhost_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/host_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_config_record.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/storage_name.cpp)
target_include_directories(trackhost_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(trackhost_core PUBLIC zelostrel_framework zelostrel_platform)
