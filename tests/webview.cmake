# webview against real hosts: its stream and its command line.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME WebviewServer COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/webview_test.py)
  set_tests_properties(WebviewServer PROPERTIES TIMEOUT 120 ENVIRONMENT
    "TRACKHOST=$<TARGET_FILE:trackhost>;TRACKVIEW=$<TARGET_FILE:trackview>;FAKE_MODULE=$<TARGET_FILE:fake_device_module>")
endif()
