# Runs inside ctest (through TEST_INCLUDE_FILES): turns a GoogleTest program's test list into
# ctest entries of one process each. Under the sanitizers a process costs half a second of CPU
# before its first test, and many suites decode the same streams in each of their tests, so an
# entry runs a whole group in one process:
#   - a plain or typed suite is one entry, named after the suite ("CacheChecksumTest");
#   - each test of a value-parameterised suite is one entry over all its parameters
#     ("Manifest/HmStreamTest.DecodeAndOutputOrderFollowTheDecodingProcess"), so that a suite
#     over every reference stream still spreads over the cores.
# A suite whose every test is long on its own (named in <single suites>) keeps an entry per test.
# The list is kept beside the program until it is rebuilt.
#
#   vexilo_list_gtest_groups(<out var> <program> <list file> [single suite...])
# sets <out var> to "name|filter" pairs, or leaves it empty when the program is missing or cannot
# list its tests; the caller then registers the whole program as one entry, which reports the
# failure when it runs.

include("${CMAKE_CURRENT_LIST_DIR}/TestProgramListing.cmake")

function(vexilo_list_gtest_groups out_var program list_file)
  set(single_suites ${ARGN})
  set(${out_var} "" PARENT_SCOPE)
  vexilo_read_test_listing(listed "${program}" "${list_file}" --gtest_list_tests)
  if(NOT listed)
    return()
  endif()

  set(groups "")
  set(suite "")
  set(single_suite_index -1)
  file(STRINGS "${list_file}" lines)
  foreach(line IN LISTS lines)
    # Parameter values are printed after a "#"; they are no part of a name.
    string(REGEX REPLACE "#.*$" "" line "${line}")
    if(line MATCHES "^([A-Za-z0-9_/]+)\\.[ ]*$")
      set(suite "${CMAKE_MATCH_1}")
      # (ctest reads this file without the policies that would allow if(IN_LIST).)
      list(FIND single_suites "${suite}" single_suite_index)
    elseif(NOT single_suite_index EQUAL -1 AND line MATCHES "^  ([A-Za-z0-9_/]+)[ ]*$")
      list(APPEND groups "${suite}.${CMAKE_MATCH_1}|${suite}.${CMAKE_MATCH_1}")
    elseif(suite AND line MATCHES "^  ([A-Za-z0-9_]+)/[A-Za-z0-9_]+[ ]*$")
      list(APPEND groups "${suite}.${CMAKE_MATCH_1}|${suite}.${CMAKE_MATCH_1}/*")
    elseif(suite AND line MATCHES "^  [A-Za-z0-9_]+[ ]*$")
      list(APPEND groups "${suite}|${suite}.*")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES groups)
  set(${out_var} "${groups}" PARENT_SCOPE)
endfunction()

# Run as a script after the test program links (cmake -DVEXILO_GTEST_PROGRAM=... -P), the
# listing happens while the rest of the build goes on, and ctest finds the list made.
if(DEFINED VEXILO_GTEST_PROGRAM)
  vexilo_list_gtest_groups(groups "${VEXILO_GTEST_PROGRAM}" "${VEXILO_GTEST_LIST_FILE}")
endif()
