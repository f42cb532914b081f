# Whole jobs through CUPS itself: the bundled sample PDF, text and ZPL files
# through CUPS's own filter chain and MIME rules with ours added, into our
# filters (cupsfilter), and through a private scheduler with a queue per
# model. Nothing is installed system-wide.
find_program(CUPSTESTPPD_EXECUTABLE cupstestppd)

# The PPDs pass CUPS's own checker; -I filters, since the filters they name
# are not installed in the build tree.
if(CUPSTESTPPD_EXECUTABLE)
  foreach(model IN LISTS ZPL_MODELS)
    add_test(NAME ppd.cupstestppd.${model}
             COMMAND ${CUPSTESTPPD_EXECUTABLE} -I filters ${ZPL_PPD_${model}})
    set_tests_properties(ppd.cupstestppd.${model} PROPERTIES LABELS e2e)
  endforeach()
endif()

zpl_filter_tests(e2e_tests
  e2e/cupsfilter_test.cpp
  e2e/ppd_test.cpp
  e2e/queue_test.cpp
  e2e/zpl_jobs_test.cpp
  zpl_samples.cpp)
target_link_libraries(e2e_tests PRIVATE zplcore)
target_include_directories(e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# The staging install puts the PPDs under the install prefix, unless the
# folder was given as an absolute path.
if(IS_ABSOLUTE "${ZPL_PPD_INSTALL_DIR}")
  set(e2e_ppd_install_dir "${ZPL_PPD_INSTALL_DIR}")
else()
  set(e2e_ppd_install_dir "${CMAKE_INSTALL_PREFIX}/${ZPL_PPD_INSTALL_DIR}")
endif()
# The PPD checks read settings only, and never open the log.
foreach(model IN LISTS ZPL_MODELS)
  target_compile_definitions(e2e_tests PRIVATE PPD_${model}="${ZPL_PPD_${model}}")
endforeach()
target_compile_definitions(e2e_tests PRIVATE
  SAMPLE_PDF="${PROJECT_SOURCE_DIR}/samples/shipping-label.pdf"
  CMAKE_COMMAND="${CMAKE_COMMAND}"
  BINARY_DIR="${PROJECT_BINARY_DIR}"
  FILTER_DIR="${ZPL_FILTER_DIR}"
  PPD_INSTALL_DIR="${e2e_ppd_install_dir}"
  ZPLPASS="$<TARGET_FILE:zplpass>"
  MIME_SOURCE_DIR="${PROJECT_SOURCE_DIR}/passthrough"
  MIME_DIR="${ZPL_MIME_DIR}")
add_dependencies(e2e_tests zplfilter-ppds zplpass)
# Each case starts Ghostscript or a scheduler: well under a minute each, but
# give a loaded machine room. RUN_SERIAL keeps two schedulers from competing.
gtest_discover_tests(e2e_tests
  TEST_PREFIX e2e.
  PROPERTIES LABELS e2e TIMEOUT 300 RUN_SERIAL TRUE SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
