# Hostile and broken input: refused pages, very long jobs, unusable PPD and
# log. The filters run as processes in folders of their own.
add_executable(limits_tests limits_test.cpp)
target_link_libraries(limits_tests PRIVATE test_support GTest::gtest_main)
target_compile_definitions(limits_tests PRIVATE
  FILTER_300="$<TARGET_FILE:test-zplfilter-300>"
  FILTER_203="$<TARGET_FILE:test-zplfilter-203>")
add_dependencies(limits_tests test-zplfilter-300 test-zplfilter-203)
include(GoogleTest)
gtest_discover_tests(limits_tests)
