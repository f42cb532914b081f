# Tests of the filter itself: settings, encoders and packing as functions,
# and whole jobs through every model's program.

# The functions that depend on the printer model are built into one test
# program per model, each with its own profile and a log in the working
# folder. Model-independent cases run once, in the 300 dpi program.
foreach(model IN LISTS ZPL_MODELS)
  set(sources packing_test.cpp halftone_test.cpp)
  if(model EQUAL 300)
    list(APPEND sources settings_test.cpp encoding_test.cpp log_test.cpp)
  endif()
  zpl_model_tests(core_unit_${model} ${model} ${sources})
  zpl_discover_tests(core_unit_${model} PREFIX "core.${model}dpi.")
endforeach()

# The programs as CUPS runs them.
zpl_tests(core_tests job_test.cpp filter_process_test.cpp label_test.cpp)
zpl_discover_tests(core_tests)
