# Runs inside ctest (through TEST_INCLUDE_FILES): reads the test functions of one Qt Test class
# from the test program itself ("-functions"), so that each function becomes a ctest entry of
# its own and a class of many slow window tests spreads over every core instead of running its
# functions one after another. The list is kept beside the program until it is rebuilt.
#
#   vexilo_list_qt_test_functions(<out var> <program> <class> <list file>)
# leaves <out var> empty when the program is missing or cannot list its functions; the caller
# then registers the whole class as one entry, which reports the failure when it runs.

include("${CMAKE_CURRENT_LIST_DIR}/TestProgramListing.cmake")

function(vexilo_list_qt_test_functions out_var program test_class list_file)
  set(${out_var} "" PARENT_SCOPE)
  vexilo_read_test_listing(listed "${program}" "${list_file}" "${test_class}" -functions)
  if(NOT listed)
    return()
  endif()

  set(functions "")
  file(STRINGS "${list_file}" lines)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" function_name)
    string(REGEX REPLACE "\\(\\)$" "" function_name "${function_name}")
    if(function_name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$"
       AND NOT function_name MATCHES "^(initTestCase|cleanupTestCase|init|cleanup)$|_data$")
      list(APPEND functions "${function_name}")
    endif()
  endforeach()
  set(${out_var} "${functions}" PARENT_SCOPE)
endfunction()

# Run as a script after the test program links (cmake -DVEXILO_QT_TEST_PROGRAM=... -P), the
# listing happens while the rest of the build goes on, and ctest finds every list made.
if(DEFINED VEXILO_QT_TEST_PROGRAM)
  string(REPLACE "," ";" test_classes "${VEXILO_QT_TEST_CLASSES}")
  foreach(test_class IN LISTS test_classes)
    vexilo_list_qt_test_functions(functions "${VEXILO_QT_TEST_PROGRAM}" "${test_class}"
                                  "${VEXILO_QT_TEST_LIST_PREFIX}.${test_class}.functions")
  endforeach()
endif()
