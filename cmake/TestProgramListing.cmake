# Runs inside ctest (through the discovery scripts): asks a test program for its list of tests
# and keeps the answer beside the program until the program is rebuilt.
#
#   vexilo_read_test_listing(<out var> <program> <list file> <argument>...)
# sets <out var> to TRUE once <list file> holds the program's answer to <argument>..., or FALSE
# when the program is missing or cannot answer.

function(vexilo_read_test_listing out_var program list_file)
  set(${out_var} FALSE PARENT_SCOPE)
  if(NOT EXISTS "${program}")
    return()
  endif()
  if(NOT EXISTS "${list_file}" OR "${program}" IS_NEWER_THAN "${list_file}")
    # Listing runs no test: no window, display or leak check is needed.
    execute_process(
      COMMAND env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "${program}" ${ARGN}
      OUTPUT_VARIABLE listing
      RESULT_VARIABLE listing_result
      ERROR_QUIET
      TIMEOUT 120)
    if(NOT listing_result EQUAL 0)
      return()
    endif()
    file(WRITE "${list_file}" "${listing}")
  endif()
  set(${out_var} TRUE PARENT_SCOPE)
endfunction()
