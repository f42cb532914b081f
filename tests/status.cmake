# The printer's status: its replies read in any pieces and the STATE: lines
# they become, as functions; and the virtual printer as a process, its
# answers decoded by the same reader, its faults and the labels it keeps.
add_executable(status_tests status_reply_test.cpp virtual_printer_test.cpp virtual_printer.cpp)
target_link_libraries(status_tests PRIVATE zplstatus test_support GTest::gtest_main)
target_compile_definitions(status_tests PRIVATE VIRTUAL_PRINTER="$<TARGET_FILE:zpl-virtual-printer>")
add_dependencies(status_tests zpl-virtual-printer)
gtest_discover_tests(status_tests)
