# ostrelsim: tracking-system simulator, recorder and replayer. Everything but
# main() is a library, so that the tests reach the pure parts directly.
file(GLOB ostrelsim_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ostrelsim/*.cpp)
list(REMOVE_ITEM ostrelsim_sources ${CMAKE_CURRENT_SOURCE_DIR}/ostrelsim/main.cpp)
add_library(ostrelsim_core STATIC ${ostrelsim_sources})
target_include_directories(ostrelsim_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ostrelsim_core PUBLIC zelostrel_platform)

add_executable(ostrelsim ${CMAKE_CURRENT_SOURCE_DIR}/ostrelsim/main.cpp)
target_link_libraries(ostrelsim PRIVATE ostrelsim_core zelostrel_version)
