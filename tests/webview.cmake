# webview against real hosts: its stream and command line, and its page in a headless Chromium (which the test
# installs when it may, and skips without). The browser test leaves its screenshot in the build folder;
# docs/webview.png is a copy.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  foreach(part WebviewServer WebviewInBrowser)
    add_test(NAME ${part} COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/webview_test.py ${part})
    set_tests_properties(${part} PROPERTIES TIMEOUT 900 SKIP_REGULAR_EXPRESSION "skipped '" ENVIRONMENT
      "TRACKHOST=$<TARGET_FILE:trackhost>;TRACKVIEW=$<TARGET_FILE:trackview>;OSTRELSIM=$<TARGET_FILE:ostrelsim>;FAKE_MODULE=$<TARGET_FILE:fake_device_module>;MODULE=$<TARGET_FILE:zelostrel>;WEBVIEW_SCREENSHOT=${CMAKE_CURRENT_BINARY_DIR}/webview.png")
  endforeach()
endif()
