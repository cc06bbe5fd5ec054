# Moc's scan reruns only when a file it saw last time changes, so a header
# added by a pull or a merge would never be moc'ed ("undefined reference to
# vtable"). When the glob finds a different set of files, the scan's stamp
# is removed so the next build runs it again.
function(kantelo_rescan_moc_on_new_files target files)
  list(JOIN files "\n" listing)
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_files.txt)
  set(previous "")
  if(EXISTS ${list_file})
    file(READ ${list_file} previous)
  endif()
  if(NOT previous STREQUAL listing)
    file(WRITE ${list_file} "${listing}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp)
  endif()
endfunction()

# A target of several units parses the headers nearly all of them read once,
# into a precompiled header (cmake/Precompiled.h); a target of one or two
# would gain nothing from it. Clang's halves the time of a test's unit; g++'s
# (near 200 MB a target) loads about as slowly as the headers parse, so g++
# builds go without by default. KANTELO_PCH=OFF/ON decides for a build.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(_kantelo_pch_default ON)
else()
  set(_kantelo_pch_default OFF)
endif()
option(KANTELO_PCH "Precompile the common outside headers of each target" ${_kantelo_pch_default})
function(kantelo_precompile target)
  get_target_property(srcs ${target} SOURCES)
  list(FILTER srcs INCLUDE REGEX "\\.cpp$")
  list(LENGTH srcs count)
  if(KANTELO_PCH AND count GREATER 2)
    target_precompile_headers(${target} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/Precompiled.h)
  endif()
endfunction()

# One static library per folder. Sources are picked up by glob so that a new
# file needs no CMake edit; a `ui/` subfolder becomes a target of its own
# (<name>_ui) so the headless libraries link no widgets, and a subfolder with
# a CMakeLists.txt of its own (platform/archive, ...) makes its own target.
# DEPS and UI_DEPS name targets only: a name that is no target stops the
# configure step (CMAKE_LINK_LIBRARIES_ONLY_TARGETS).
function(kantelo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;UI_DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  # Only the folder's own path counts: a checkout under a folder named ui
  # keeps its sources.
  set(own)
  foreach(s ${srcs})
    file(RELATIVE_PATH rel ${CMAKE_CURRENT_SOURCE_DIR} ${s})
    if(NOT rel MATCHES "(^|/)ui/")
      list(APPEND own ${s})
    endif()
  endforeach()
  set(srcs ${own})
  file(GLOB_RECURSE own_lists ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(list_file ${own_lists})
    get_filename_component(subdir ${list_file} DIRECTORY)
    set(kept)
    foreach(s ${srcs})
      string(FIND "${s}" "${subdir}/" at)
      if(NOT at EQUAL 0)
        list(APPEND kept ${s})
      endif()
    endforeach()
    set(srcs ${kept})
  endforeach()
  if(NOT srcs)
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${stub} "")
    set(srcs ${stub})
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  kantelo_rescan_moc_on_new_files(${name} "${srcs}")
  kantelo_precompile(${name})

  file(GLOB_RECURSE ui_srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.h)
  if(ui_srcs)
    add_library(${name}_ui STATIC ${ui_srcs})
    target_include_directories(${name}_ui PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name}_ui PUBLIC ${name} ${ARG_UI_DEPS} Qt6::Widgets)
    kantelo_rescan_moc_on_new_files(${name}_ui "${ui_srcs}")
    kantelo_precompile(${name}_ui)
  endif()
endfunction()

# One test program per folder under tests/, each test its own CTest entry.
# WIDGETS builds the QApplication main (offscreen), otherwise QGuiApplication.
function(kantelo_test_folder name dir)
  cmake_parse_arguments(ARG "WIDGETS" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h)
  if(NOT srcs)
    message(FATAL_ERROR "kantelo_test_folder(${name}): tests/${dir}/ holds no tests")
  endif()
  set(target test_${name})
  add_executable(${target} ${srcs} ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  kantelo_rescan_moc_on_new_files(${target} "${srcs}")
  target_link_libraries(${target} PRIVATE testsupport ${ARG_DEPS} GTest::gtest GTest::gmock Qt6::Test)
  if(ARG_WIDGETS)
    target_compile_definitions(${target} PRIVATE KANTELO_TEST_WIDGETS=1)
    target_link_libraries(${target} PRIVATE Qt6::Widgets)
  endif()
  target_compile_definitions(${target} PRIVATE
    KANTELO_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
    KANTELO_BUILD_DIR="${CMAKE_BINARY_DIR}")
  kantelo_precompile(${target})
  # Listing the tests of an instrumented program on a busy machine took more
  # than the five seconds CMake allows by default, which failed the run.
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KANTELO_RESOURCES=${KANTELO_RESOURCE_DIR}"
               TIMEOUT 300)
endfunction()

# A benchmark program: build/bench/<name>. With the tests, the suite runs it
# once with --quick (Bench.<name>): a benchmark that breaks fails the suite,
# whatever its figures.
function(kantelo_bench name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(bench_${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  set_target_properties(bench_${name} PROPERTIES
    OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS})
  if(KANTELO_TESTS)
    add_test(NAME Bench.${name} COMMAND ${CMAKE_SOURCE_DIR}/bench/run-quick $<TARGET_FILE:bench_${name}>)
    # Started early: they take longer than most tests.
    set_tests_properties(Bench.${name} PROPERTIES TIMEOUT 300 COST 60
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KANTELO_RESOURCES=${KANTELO_RESOURCE_DIR}")
  endif()
endfunction()
