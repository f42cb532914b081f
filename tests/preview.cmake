# Tests of zplpreview: its parser and pictures as functions, and the tool
# as a process on what both filters write, sound and damaged.
add_executable(preview_tests
  preview_helpers.cpp
  preview_roundtrip_test.cpp
  preview_fault_test.cpp)
target_link_libraries(preview_tests PRIVATE test_support zplpreview_core GTest::gtest_main)
target_compile_definitions(preview_tests PRIVATE
  FILTER_300="$<TARGET_FILE:test-zplfilter-300>"
  FILTER_203="$<TARGET_FILE:test-zplfilter-203>"
  ZPLPREVIEW="$<TARGET_FILE:zplpreview>")
add_dependencies(preview_tests test-zplfilter-300 test-zplfilter-203 zplpreview)
include(GoogleTest)
gtest_discover_tests(preview_tests)
