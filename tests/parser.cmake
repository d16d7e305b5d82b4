zelostrel_test(test_parser SOURCES parser_test.cpp support/allocations.cpp DEPS zelostrel_link)
