# The host daemon and the storage layout it shares with the monitor and the
# tests. The daemon does not link the module: it loads it at run time.
add_library(trackhost_storage STATIC
  ${CMAKE_CURRENT_LIST_DIR}/shared_storage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/storage_name.cpp
  ${CMAKE_CURRENT_LIST_DIR}/storage_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/storage_public_layout.cpp)
target_include_directories(trackhost_storage PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(trackhost_storage PUBLIC zelostrel_framework zelostrel_platform PRIVATE zelostrel_storage_header)

add_library(trackhost_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/host_config.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_config_record.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/module_library.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_runner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/track_host.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_check.cpp)
# The module's interface (framework/base.h): a sanitizer's type checks of the
# calls into a device need its type information.
target_link_libraries(trackhost_core PUBLIC trackhost_storage zelostrel_module_base)

add_executable(trackhost ${CMAKE_CURRENT_LIST_DIR}/trackhost_main.cpp)
target_link_libraries(trackhost PRIVATE trackhost_core zelostrel_version)
