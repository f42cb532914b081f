# Tests of the filter itself: settings, encoders and packing as functions,
# and whole jobs through both programs.

# The functions that depend on the printer model are built into one test
# program per model, each with its own profile and a log in the working
# folder. Model-independent cases run once, in the 300 dpi program.
include(GoogleTest)
foreach(model 300 203)
  set(sources packing_test.cpp ${PROJECT_SOURCE_DIR}/filter/model.cpp)
  if(model EQUAL 300)
    list(APPEND sources settings_test.cpp encoding_test.cpp log_test.cpp)
  endif()
  add_executable(core_unit_${model} ${sources})
  target_compile_definitions(core_unit_${model} PRIVATE ZPL_MODEL=${model} ZPL_LOG_PATH="quilby.log")
  target_link_libraries(core_unit_${model} PRIVATE test_support zplcore GTest::gtest_main)
  gtest_discover_tests(core_unit_${model} TEST_PREFIX "core.${model}dpi.")
endforeach()

# The programs as CUPS runs them.
add_executable(core_tests
  job_test.cpp
  filter_process_test.cpp
  label_test.cpp)
target_link_libraries(core_tests PRIVATE test_support GTest::gtest_main)
target_compile_definitions(core_tests PRIVATE
  FILTER_300="$<TARGET_FILE:test-zplfilter-300>"
  FILTER_203="$<TARGET_FILE:test-zplfilter-203>")
add_dependencies(core_tests test-zplfilter-300 test-zplfilter-203)
gtest_discover_tests(core_tests)
