# Finding CUPS's folders. CUPS 2.4 answers with cups-config; CUPS 2.5 drops
# cups-config and names its folders as variables of pkg-config's cups.pc
# instead. Without either, the folders of Debian's CUPS packages are taken.

find_program(CUPS_CONFIG cups-config)
find_package(PkgConfig QUIET)

# zpl_cups_folder(<var> <cups-config option> <cups.pc variable> <fallback> <what>):
# sets <var> to the first of: the value given with -D<var>=...,
# `cups-config <option>`, `pkg-config --variable=<cups.pc variable> cups`,
# <fallback>; and prints which one the build takes, since a wrong folder
# gives an install that CUPS never finds.
function(zpl_cups_folder var option pc_variable fallback what)
  set(value "")
  if(DEFINED ${var} AND NOT "${${var}}" STREQUAL "")
    set(value "${${var}}")
    set(source "-D${var}")
  endif()
  if(value STREQUAL "" AND CUPS_CONFIG)
    execute_process(COMMAND "${CUPS_CONFIG}" ${option}
                    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0)
      set(value "")
    endif()
    set(source "cups-config ${option}")
  endif()
  if(value STREQUAL "" AND PKG_CONFIG_FOUND)
    pkg_get_variable(value cups ${pc_variable})
    set(source "pkg-config --variable=${pc_variable} cups")
  endif()
  if(value STREQUAL "")
    set(value "${fallback}")
    set(source "neither cups-config nor cups.pc answered; the Debian default")
  endif()
  message(STATUS "CUPS ${what}: ${value} (${source})")
  set(${var} "${value}" PARENT_SCOPE)
endfunction()
