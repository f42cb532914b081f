# The printer application: its settings mapping, models, raw ZPL handling and
# server options as functions, and the program itself run as a server, its
# labels compared with the filters' (label e2e). Only where PAPPL was found.
if(NOT TARGET zpl-printer-app)
  return()
endif()

add_executable(app_unit_tests
  app/job_settings_test.cpp
  app/raw_zpl_test.cpp
  app/server_config_test.cpp)
target_link_libraries(app_unit_tests PRIVATE zplapp_core test_support GTest::gtest_main)
gtest_discover_tests(app_unit_tests TEST_PREFIX "app.")

zpl_filter_tests(app_e2e_tests
  app/app_e2e_test.cpp
  app/printer_app.cpp
  e2e/cups_env.cpp)
target_include_directories(app_e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/e2e ${PROJECT_SOURCE_DIR})
target_compile_definitions(app_e2e_tests PRIVATE
  PRINTER_APP="$<TARGET_FILE:zpl-printer-app>"
  ZPLPASS="$<TARGET_FILE:zplpass>"
  ZPLCOMMAND="$<TARGET_FILE:zplcommand>"
  PRINT_JOB_TEST="${CMAKE_CURRENT_SOURCE_DIR}/app/print-job.test"
  SAMPLE_PS="${PROJECT_SOURCE_DIR}/samples/shipping-label.ps"
  LSAN_SUPPRESSIONS="${CMAKE_CURRENT_SOURCE_DIR}/app/lsan.supp"
  ASAN_SUPPRESSIONS="${CMAKE_CURRENT_SOURCE_DIR}/app/asan.supp")
add_dependencies(app_e2e_tests zpl-printer-app zplcommand)
# Each case starts its own server on a free loopback port; RUN_SERIAL keeps
# them from competing with the schedulers of the other end-to-end tests.
gtest_discover_tests(app_e2e_tests
  TEST_PREFIX e2e.app.
  PROPERTIES LABELS e2e TIMEOUT 300 RUN_SERIAL TRUE SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
