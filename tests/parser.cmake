zelostrel_test(test_parser SOURCES parser_test.cpp DEPS zelostrel_link)
