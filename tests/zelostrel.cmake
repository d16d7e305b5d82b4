zelostrel_test(test_zelostrel SOURCES zelostrel_test.cpp DEPS zelostrel_core)
target_compile_definitions(test_zelostrel PRIVATE DEVICE_DOC="${PROJECT_SOURCE_DIR}/docs/device.md")
