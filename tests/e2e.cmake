# Whole jobs through CUPS itself: the bundled sample PDF, text and ZPL files
# through CUPS's own filter chain and MIME rules with ours added, into our
# filters (cupsfilter), and through a private scheduler with a queue per
# model. Nothing is installed system-wide.

# The PPDs pass CUPS's own checker; -I filters, since the filters they name
# are not installed in the build tree.
zpl_find_tools(ppd.cupstestppd have_cupstestppd cupstestppd)
if(have_cupstestppd)
  foreach(model IN LISTS ZPL_MODELS)
    add_test(NAME ppd.cupstestppd.${model} COMMAND ${ZPL_TOOL_cupstestppd} -I filters ${ZPL_PPD_${model}})
    set_tests_properties(ppd.cupstestppd.${model} PROPERTIES LABELS e2e)
  endforeach()
endif()

zpl_find_tools(e2e have_cups cupsd cupsfilter lpadmin lpinfo lp lpstat cancel gstoraster)
if(have_cups)
  zpl_tests(e2e_tests e2e/cupsfilter_test.cpp e2e/ppd_test.cpp e2e/queue_test.cpp e2e/zpl_jobs_test.cpp
            e2e/status_test.cpp)
  target_link_libraries(e2e_tests PRIVATE zplcore)
  # Each case starts Ghostscript or a scheduler: well under a minute each.
  zpl_discover_tests(e2e_tests PREFIX e2e. E2E PROPERTIES TIMEOUT 300)
endif()
