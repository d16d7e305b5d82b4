# Links the shipped module itself: createDev and deleteDev are called as a
# host calls them, through the library's exports.
zelostrel_test(test_base SOURCES base_test.cpp DEPS zelostrel_core zelostrel)
