# host_latency: trackhost with the module beside a bare receiver, measured
# from outside (docs/performance.md). Linux only: it pins threads and reads
# other processes' CPU clocks and /proc, so it stays out of other builds.
# It needs the host daemon, which a build without the tools does not have.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND TARGET trackhost)
  add_executable(host_latency ${CMAKE_CURRENT_LIST_DIR}/host_latency.cpp)
  target_link_libraries(host_latency PRIVATE trackhost_storage zelostrel_platform)
  target_compile_definitions(host_latency PRIVATE
    HOST_LATENCY_TRACKHOST="$<TARGET_FILE:trackhost>" HOST_LATENCY_MODULE="$<TARGET_FILE:zelostrel>")
  add_dependencies(host_latency trackhost zelostrel)
endif()
