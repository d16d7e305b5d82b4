# Reads the host's storage: built with the host (ZELOSTREL_TOOLS).
if(NOT TARGET trackhost_storage)
  return()
endif()
add_executable(bench_storage_read ${CMAKE_CURRENT_LIST_DIR}/storage_read_bench.cpp)
target_link_libraries(bench_storage_read PRIVATE trackhost_storage benchmark::benchmark)
