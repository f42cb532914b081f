# Tests of the filter itself: settings and encoders as functions, and whole
# jobs through both programs.
add_executable(core_tests
  job_test.cpp)
target_link_libraries(core_tests PRIVATE test_support zplcore GTest::gtest_main)
target_compile_definitions(core_tests PRIVATE
  FILTER_300="$<TARGET_FILE:test-zplfilter-300>"
  FILTER_203="$<TARGET_FILE:test-zplfilter-203>")
add_dependencies(core_tests test-zplfilter-300 test-zplfilter-203)
include(GoogleTest)
gtest_discover_tests(core_tests)
