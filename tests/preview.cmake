# Tests of zplpreview: its parser and pictures as functions, and the tool
# as a process on what the filters write, sound and damaged; and the job's
# offsets, seen in the pictures it draws.
zpl_tests(preview_tests
  preview_helpers.cpp
  preview_roundtrip_test.cpp
  offsets_test.cpp
  preview_fault_test.cpp)
target_link_libraries(preview_tests PRIVATE zplread)
zpl_discover_tests(preview_tests)
