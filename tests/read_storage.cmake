# The Python tools' tests, run by the python3 a user runs the tools with.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME read_storage COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/read_storage_test.py)
else()
  message(WARNING "python3 not found: the tests of read_storage.py and webview are left out")
endif()
