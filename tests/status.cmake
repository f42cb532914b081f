# The printer's status: its replies read in any pieces and the STATE: lines
# they become, as functions; and the virtual printer as a process, its
# answers decoded by the same reader, its faults and the labels it keeps.
zpl_tests(status_tests status_reply_test.cpp virtual_printer_test.cpp)
target_link_libraries(status_tests PRIVATE zplstatus)
zpl_discover_tests(status_tests PREFIX status.)
