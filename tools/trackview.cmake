# trackview: the live monitor. Its snapshot and formatting code is a library
# so the tests can check the table and the JSON without a terminal.
add_library(trackview_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/trackview/snapshot.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trackview/snapshot_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trackview/rate_meter.cpp)
target_link_libraries(trackview_core PUBLIC trackhost_storage)

add_executable(trackview ${CMAKE_CURRENT_LIST_DIR}/trackview/trackview_main.cpp)
target_link_libraries(trackview PRIVATE trackview_core zelostrel_version)
