# Option lines and their number readers under hostile text: the whole
# calibration folder, on top of the plain framework.
file(GLOB fuzz_calib_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/calib/*.cpp)
zelostrel_fuzz_target(fuzz_tra_options
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tra_options_fuzz.cpp ${fuzz_calib_sources}
          ${PROJECT_SOURCE_DIR}/platform/number_text.cpp
  DEPS zelostrel_framework)
