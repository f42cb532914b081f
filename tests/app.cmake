# The printer application: its settings mapping, models, raw ZPL handling,
# server options and the printer's status pieces as functions, and the
# program itself run as a server, its labels compared with the filters'
# (label e2e).
if(NOT TARGET zpl-printer-app)
  zpl_test_group_missing(app "PAPPL (libpappl-dev)")
  return()
endif()

zpl_tests(app_unit_tests app/job_settings_test.cpp app/raw_zpl_test.cpp app/server_config_test.cpp
          app/printer_status_test.cpp)
target_link_libraries(app_unit_tests PRIVATE zplapp_core)
zpl_discover_tests(app_unit_tests PREFIX "app.")

# Ghostscript makes the PWG rasters, ipptool sends jobs with attributes.
zpl_find_tools(app.e2e have_app_tools gs ipptool)
if(have_app_tools)
  zpl_tests(app_e2e_tests app/app_e2e_test.cpp)
  target_compile_definitions(app_e2e_tests PRIVATE PRINT_JOB_TEST="${CMAKE_CURRENT_SOURCE_DIR}/app/print-job.test")
  # Each case starts its own server on a free loopback port.
  zpl_discover_tests(app_e2e_tests PREFIX e2e.app. E2E PROPERTIES TIMEOUT 300)
endif()

# The application talking with a printer: the virtual printer on a free
# loopback port behind a zpl:// device; Ghostscript makes the PWG rasters.
zpl_find_tools(app.status have_app_status_tools gs)
if(have_app_status_tools)
  zpl_tests(app_status_tests app/app_status_test.cpp)
  zpl_discover_tests(app_status_tests PREFIX e2e.app. E2E PROPERTIES TIMEOUT 300)
endif()

# The watchdog: its self-check as a function, and the test build of the
# application (build_paths().testPrinterApp) under a notify socket of the
# test's own, standing in for systemd.
zpl_tests(app_watchdog_tests app/app_watchdog_test.cpp)
target_link_libraries(app_watchdog_tests PRIVATE zplapp_core)
zpl_discover_tests(app_watchdog_tests PREFIX e2e.app. E2E PROPERTIES TIMEOUT 120)
