# Shared build settings and the helpers every module uses.

set(VEXILO_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wnull-dereference)
set(VEXILO_C_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion)

if(VEXILO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The test build links a dozen large sanitized programs; mold links them in a fraction of the
# time the default linker takes.
if(VEXILO_FAST_LINKER)
  find_program(VEXILO_MOLD mold)
  if(VEXILO_MOLD)
    add_link_options(-fuse-ld=mold)
  endif()
endif()

# ThreadSanitizer cannot share a process with AddressSanitizer. Qt and FFmpeg are not
# instrumented. scripts/tsan-test.sh builds build/tsan and runs the application and threading
# tests there.
if(VEXILO_THREAD_SANITIZER)
  if(VEXILO_SANITIZE)
    message(FATAL_ERROR "VEXILO_THREAD_SANITIZER and VEXILO_SANITIZE exclude each other")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Most of a file's compile time goes into parsing the same standard, Qt and GoogleTest headers;
# with VEXILO_PRECOMPILE_HEADERS each target parses them once. Off by default, so that an
# ordinary build still proves that every file includes what it uses. A folder whose files use
# one of Qt's keyword macros as a name (signals, slots, emit) sets VEXILO_PRECOMPILE_QT to OFF.
#   vexilo_precompile_headers(<target> [GTEST] [QTTEST])
function(vexilo_precompile_headers target)
  if(NOT VEXILO_PRECOMPILE_HEADERS)
    return()
  endif()
  cmake_parse_arguments(ARG "GTEST;QTTEST" "" "" ${ARGN})
  set(pch_dir "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/pch")
  set(headers "${pch_dir}/Standard.h")
  if(NOT DEFINED VEXILO_PRECOMPILE_QT OR VEXILO_PRECOMPILE_QT)
    list(APPEND headers "${pch_dir}/Qt.h")
  endif()
  if(ARG_GTEST)
    list(APPEND headers "${pch_dir}/GTest.h")
  endif()
  if(ARG_QTTEST)
    list(APPEND headers "${pch_dir}/QtTest.h")
  endif()
  list(TRANSFORM headers REPLACE "^(.+)$" "$<$<COMPILE_LANGUAGE:CXX>:\\1>")
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# A test file spends most of its compile time instantiating the same GoogleTest, Qt and
# standard templates as its neighbours; compiled a few at a time, each instantiation is made
# once per batch. Off by default, so that an ordinary build still proves each file stands alone.
# A file whose file-local helpers share a name with a neighbour's ("redefinition of ..." in a
# unity_*.cxx) is listed here and compiled on its own.
set(VEXILO_UNITY_EXCLUDED_TESTS
  libs/hevc-observer/tests/hm_streams_test.cpp
  libs/hevc-observer/tests/event_stream_test.cpp
  libs/hevc-observer/tests/oracle/oracle_self_consistency_test.cpp
  apps/analyzer-worker/tests/CollectorTest.cpp
  apps/analyzer-worker/tests/PipelineDamagedPicturesTest.cpp
  apps/analyzer-worker/tests/PipelineRunTest.cpp
  apps/desktop/application/tests/CodedPictureCountTest.cpp
  apps/desktop/application/tests/ProjectControllerTest.cpp
  apps/desktop/models/tests/SliceTableModelTest.cpp
  apps/desktop/ui/tests/MainWindowDamagedStreamTest.cpp
  apps/desktop/ui/tests/MainWindowSteppingTest.cpp
  apps/desktop/ui/tests/MainWindowTest.cpp
)
function(vexilo_unity_tests target)
  if(NOT VEXILO_UNITY_TESTS)
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 4)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${source}")
    if(relative IN_LIST VEXILO_UNITY_EXCLUDED_TESTS)
      set_source_files_properties("${source}" PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()
endfunction()

# Applies the house warning set to a target of our own (never to generated code).
function(vexilo_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${VEXILO_WARNING_FLAGS}>
    $<$<COMPILE_LANGUAGE:C>:${VEXILO_C_WARNING_FLAGS}>)
endfunction()

# The compiler predefinitions CMake hands to moc are taken in C++17 mode, in which moc
# cannot read the standard library's <compare> that the document headers include.
set(CMAKE_AUTOMOC_COMPILER_PREDEFINES OFF)

# Where tests write what a person should look at (screenshots, dumps).
set(VEXILO_TEST_OUTPUT_DIR "${CMAKE_BINARY_DIR}/test-output" CACHE PATH
    "Folder where tests write screenshots and other output for a person to look at")
set(VEXILO_TEST_SUPPORT_DIR "${CMAKE_CURRENT_LIST_DIR}/../test-support")

# The definitions every test executable gets: where media, reference streams and output live.
function(vexilo_test_definitions target)
  target_compile_definitions(${target} PRIVATE
    VEXILO_TEST_MEDIA_DIR="${VEXILO_TEST_MEDIA_DIR}"
    VEXILO_REFERENCE_STREAMS_DIR="${VEXILO_REFERENCE_STREAMS_DIR}"
    VEXILO_TEST_OUTPUT_DIR="${VEXILO_TEST_OUTPUT_DIR}")
  target_include_directories(${target} PRIVATE "${VEXILO_TEST_SUPPORT_DIR}")
endfunction()

# In the ThreadSanitizer build, test programs start their child processes without sharing
# memory with them (see TsanProcessSpawn.cpp for why).
function(vexilo_tsan_test_support target)
  if(VEXILO_THREAD_SANITIZER)
    target_sources(${target} PRIVATE "${VEXILO_TEST_SUPPORT_DIR}/vexilo/test/TsanProcessSpawn.cpp")
    target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
  endif()
endfunction()

# Adds a module's single GoogleTest executable, registered with ctest. QT_MAIN runs the
# tests inside a QCoreApplication (for objects that need signals, timers or processes).
# SINGLE_TEST_SUITES names suites whose tests are each long enough to be an entry of their own.
#   vexilo_add_tests(<name> SOURCES ... LIBRARIES ... [QT_MAIN] [FIXTURES fixture...] [LABELS label...]
#                    [SINGLE_TEST_SUITES suite...])
function(vexilo_add_tests name)
  if(NOT VEXILO_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "QT_MAIN" "" "SOURCES;LIBRARIES;FIXTURES;LABELS;SINGLE_TEST_SUITES" ${ARGN})
  if(ARG_QT_MAIN)
    add_executable(${name} ${ARG_SOURCES} "${VEXILO_TEST_SUPPORT_DIR}/vexilo/test/GTestQtMain.cpp")
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest Qt6::Core)
  else()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  endif()
  vexilo_warnings(${name})
  vexilo_precompile_headers(${name} GTEST)
  vexilo_unity_tests(${name})
  vexilo_test_definitions(${name})
  vexilo_tsan_test_support(${name})
  set(properties "TIMEOUT 600")
  if(ARG_FIXTURES)
    string(APPEND properties " FIXTURES_REQUIRED \"${ARG_FIXTURES}\"")
  endif()
  if(ARG_LABELS)
    string(APPEND properties " LABELS \"${ARG_LABELS}\"")
  endif()

  # One ctest entry per suite (per test of a parameterised suite), found when ctest starts; see
  # GTestGroupDiscovery.cmake for why the tests of a group share a process.
  set(discovery_script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/GTestGroupDiscovery.cmake")
  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${name}.gtest-list")
  set(program "$<TARGET_FILE:${name}>")
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DVEXILO_GTEST_PROGRAM=${program}" "-DVEXILO_GTEST_LIST_FILE=${list_file}"
            -P "${discovery_script}"
    VERBATIM)
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_gtest_groups.cmake")
  string(CONCAT discovery
    "include(\"${discovery_script}\")\n"
    "vexilo_list_gtest_groups(groups \"${program}\" \"${list_file}\" ${ARG_SINGLE_TEST_SUITES})\n"
    "if(NOT groups)\n"
    "  add_test(\"${name}\" \"${program}\")\n"
    "  set_tests_properties(\"${name}\" PROPERTIES ${properties})\n"
    "endif()\n"
    "foreach(group IN LISTS groups)\n"
    "  string(REPLACE \"|\" \";\" parts \"\${group}\")\n"
    "  list(GET parts 0 test_name)\n"
    "  list(GET parts 1 filter)\n"
    "  add_test(\"\${test_name}\" \"${program}\" \"--gtest_filter=\${filter}\")\n"
    "  set_tests_properties(\"\${test_name}\" PROPERTIES ${properties})\n"
    "endforeach()\n")
  file(GENERATE OUTPUT "${include_file}" CONTENT "${discovery}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()

# Adds a libFuzzer target; built only with VEXILO_BUILD_FUZZERS and clang.
function(vexilo_add_fuzzer name)
  if(NOT VEXILO_BUILD_FUZZERS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  set_property(GLOBAL APPEND PROPERTY VEXILO_FUZZERS ${name})
endfunction()

# Adds a benchmark program; built only with VEXILO_BUILD_BENCHMARKS. With VEXILO_BENCHMARKS_APART
# it is built by the target vexilo_benchmarks only: the test command compiles the benchmarks while
# the tests run, on the cores the tests leave idle.
if(VEXILO_BUILD_BENCHMARKS AND NOT TARGET vexilo_benchmarks)
  add_custom_target(vexilo_benchmarks)
endif()
function(vexilo_add_benchmark name)
  if(NOT VEXILO_BUILD_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  add_dependencies(vexilo_benchmarks ${name})
  if(VEXILO_BENCHMARKS_APART)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
  vexilo_warnings(${name})
  vexilo_precompile_headers(${name})
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/bench-support")
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
endfunction()

if(VEXILO_BUILD_FUZZERS)
  if(VEXILO_BUILD_TESTS)
    # A test tree builds the fuzz targets to keep them compiling and runs each for seconds:
    # edge counters are all that needs, while libFuzzer's comparison hooks would slow every
    # test. scripts/fuzz.sh builds a tree of its own with the whole instrumentation.
    add_compile_options(-fsanitize-coverage=inline-8bit-counters,pc-table)
  else()
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endif()

# FFmpeg's libraries through pkg-config, as one imported target.
function(vexilo_find_ffmpeg)
  if(NOT TARGET PkgConfig::FFMPEG)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET GLOBAL
                      libavformat libavcodec libavutil libswscale)
  endif()
endfunction()

# A module library from every source below src/ (minus the files given in EXCLUDE),
# with its public headers under include/.
#   vexilo_add_module_library(<name> [EXCLUDE regex...])
function(vexilo_add_module_library name)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  # Public headers are listed too, so that AUTOMOC sees the Q_OBJECT classes declared there.
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS src/*.cpp src/*.c src/*.h include/*.h)
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC include PRIVATE src)
  vexilo_warnings(${name})
  vexilo_precompile_headers(${name})
endfunction()

# The module's single test executable from every source below tests/ (minus the files
# given in EXCLUDE).
#   vexilo_add_module_tests(<name> LIBRARIES ... [FIXTURES ...] [EXCLUDE regex...])
function(vexilo_add_module_tests name)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS tests/*.cpp tests/*.c tests/*.h)
  foreach(pattern IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${pattern}")
  endforeach()
  vexilo_add_tests(${name} SOURCES ${sources} ${ARG_UNPARSED_ARGUMENTS})
  if(TARGET ${name})
    target_include_directories(${name} PRIVATE tests src)
  endif()
endfunction()

# The module's single Qt Test executable (widgets and models) from every source below
# tests/. Each tests/<Class>Test.cpp registers its class with VEXILO_QT_TEST and becomes one
# ctest entry "<name>.<Class>Test": its functions share one process, which under the sanitizers
# costs more to start than most functions take. A class listed under PER_FUNCTION (slow window
# tests) has an entry "<name>.<Class>Test.<function>" for each test function instead, found when
# ctest starts (see QtTestDiscovery.cmake), so that its functions spread over every core.
# Classes listed under XCB need a real display (OpenGL widgets): they run on the xcb platform,
# each entry on an X server of its own, with DISPLAY_ENVIRONMENT added to their environment.
#   vexilo_add_qt_module_tests(<name> LIBRARIES ... [FIXTURES ...] [XCB class...] [LABELS ...]
#                              [PER_FUNCTION class...] [DISPLAY_ENVIRONMENT var=value...])
function(vexilo_add_qt_module_tests name)
  if(NOT VEXILO_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBRARIES;FIXTURES;XCB;LABELS;PER_FUNCTION;DISPLAY_ENVIRONMENT" ${ARGN})
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Test)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS tests/*.cpp tests/*.h)
  add_executable(${name} ${sources} "${VEXILO_TEST_SUPPORT_DIR}/vexilo/test/QtTestMain.cpp")
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  vexilo_warnings(${name})
  vexilo_precompile_headers(${name} QTTEST)
  vexilo_unity_tests(${name})
  vexilo_test_definitions(${name})
  vexilo_tsan_test_support(${name})
  target_include_directories(${name} PRIVATE tests src)
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} Qt6::Test Qt6::Widgets)

  set(discovery_script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QtTestDiscovery.cmake")
  set(discovery "include(\"${discovery_script}\")\n")
  set(listed_classes "")
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "/([A-Za-z0-9_]+Test)\\.cpp$")
      continue()
    endif()
    set(test_class "${CMAKE_MATCH_1}")
    set(command "\"$<TARGET_FILE:${name}>\"")
    set(properties "TIMEOUT 600")
    if(test_class IN_LIST ARG_XCB)
      # Each display test gets an X server of its own when Xvfb is installed (looked for when the
      # test runs, as the test command installs it while the code compiles); else it uses $DISPLAY.
      set(command "bash \"${VEXILO_TEST_SUPPORT_DIR}/run-on-own-display.sh\" ${command}")
      # libxkbcommon-x11 strndup()s keymap names that are not NUL-terminated while the xcb
      # platform starts; ASan's strict string checks abort on that inside the system library.
      string(JOIN ";" environment "QT_QPA_PLATFORM=xcb" ${ARG_DISPLAY_ENVIRONMENT})
      string(APPEND properties " ENVIRONMENT \"${environment}\""
             " ENVIRONMENT_MODIFICATION \"ASAN_OPTIONS=string_append::strict_string_checks=0\"")
    endif()
    if(ARG_FIXTURES)
      string(APPEND properties " FIXTURES_REQUIRED \"${ARG_FIXTURES}\"")
    endif()
    if(ARG_LABELS)
      string(APPEND properties " LABELS \"${ARG_LABELS}\"")
    endif()
    set(prefix "${name}.${test_class}")
    if(NOT test_class IN_LIST ARG_PER_FUNCTION)
      string(APPEND discovery
        "add_test(\"${prefix}\" ${command} ${test_class})\n"
        "set_tests_properties(\"${prefix}\" PROPERTIES ${properties})\n")
      continue()
    endif()
    list(APPEND listed_classes "${test_class}")
    # These window tests run the desktop and its real worker, two busy processes: counted as two,
    # so that ctest does not crowd the cores until the desktop's event loop stalls past the
    # worker's frame-channel write deadline and the worker gives the analysis up.
    string(APPEND properties " PROCESSORS 2")
    string(APPEND discovery
      "vexilo_list_qt_test_functions(functions \"$<TARGET_FILE:${name}>\" ${test_class} "
      "\"${CMAKE_CURRENT_BINARY_DIR}/${prefix}.functions\")\n"
      "if(NOT functions)\n"
      "  add_test(\"${prefix}\" ${command} ${test_class})\n"
      "  set_tests_properties(\"${prefix}\" PROPERTIES ${properties})\n"
      "endif()\n"
      "foreach(function_name IN LISTS functions)\n"
      "  add_test(\"${prefix}.\${function_name}\" ${command} ${test_class} \"\${function_name}\")\n"
      "  set_tests_properties(\"${prefix}.\${function_name}\" PROPERTIES ${properties})\n"
      "endforeach()\n")
  endforeach()
  string(JOIN "," test_class_list ${listed_classes})
  if(listed_classes)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND "${CMAKE_COMMAND}" "-DVEXILO_QT_TEST_PROGRAM=$<TARGET_FILE:${name}>"
              "-DVEXILO_QT_TEST_CLASSES=${test_class_list}"
              "-DVEXILO_QT_TEST_LIST_PREFIX=${CMAKE_CURRENT_BINARY_DIR}/${name}"
              -P "${discovery_script}"
      VERBATIM)
  endif()
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_qt_tests.cmake")
  file(GENERATE OUTPUT "${include_file}" CONTENT "${discovery}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()
