# Shared build helpers.

set(TARVO_WARNINGS -Wall -Wextra -Wno-unused-parameter)
# GCC 12 reports a false overlap in `"text" + std::string` once optimised (fixed in GCC 13).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND TARVO_WARNINGS -Wno-restrict)
endif()

if(TARVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(TARVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TARVO_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # Every sanitizer report ends the run, so the fuzzer keeps its input as a finding.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# tarvo_library(NAME [QT] [LIBS ...]) : one library per folder, sources globbed
# from the calling folder; includes are written relative to the repository root.
function(tarvo_library name)
  cmake_parse_arguments(A "" "" "LIBS;SOURCES" ${ARGN})
  if(A_SOURCES)
    set(srcs ${A_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${TARVO_WARNINGS})
  if(A_LIBS)
    target_link_libraries(${name} PUBLIC ${A_LIBS})
  endif()
  set(headers)
  foreach(src IN LISTS srcs)
    if(src MATCHES "\\.h$")
      cmake_path(ABSOLUTE_PATH src BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
      list(APPEND headers ${src})
    endif()
  endforeach()
  set_property(TARGET ${name} PROPERTY TARVO_HEADERS ${headers})
  set_property(GLOBAL APPEND PROPERTY TARVO_HEADER_TARGETS ${name})
endfunction()

# tarvo_header_check() : every header of every library compiles on its own, with the
# warning flags. One tiny translation unit per header is generated at configure time
# and compiled as part of the normal build (targets header_check_<library>).
function(tarvo_header_check)
  get_property(libraries GLOBAL PROPERTY TARVO_HEADER_TARGETS)
  foreach(lib IN LISTS libraries)
    get_target_property(headers ${lib} TARVO_HEADERS)
    set(units)
    foreach(header IN LISTS headers)
      file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${header})
      set(unit ${PROJECT_BINARY_DIR}/header_check/${rel}.cpp)
      set(text "#include \"${rel}\"\n")
      set(old "")
      if(EXISTS ${unit})
        file(READ ${unit} old)
      endif()
      # Rewritten only when it changes, so a reconfigure rebuilds nothing.
      if(NOT old STREQUAL text)
        file(WRITE ${unit} "${text}")
      endif()
      list(APPEND units ${unit})
    endforeach()
    if(units)
      add_library(header_check_${lib} OBJECT ${units})
      # Only what the library itself links: a Qt-free library's headers stay free of Qt.
      target_link_libraries(header_check_${lib} PRIVATE ${lib})
      target_compile_options(header_check_${lib} PRIVATE ${TARVO_WARNINGS})
      set_target_properties(header_check_${lib} PROPERTIES AUTOMOC OFF)
    endif()
  endforeach()
endfunction()

# tarvo_test_environment(TEST LABEL label [TIMEOUT seconds]) : every test runs through
# tests/isolated, which gives each run its own HOME, XDG folders, TMPDIR, registry and
# locale file in a fresh folder under the test's folder here, and a time-out (120 s unless
# the test needs more) so a hang costs minutes.
function(tarvo_test_environment name)
  cmake_parse_arguments(A "" "LABEL;TIMEOUT" "" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  set(home ${PROJECT_BINARY_DIR}/test-home/${name})
  set_tests_properties(${name} PROPERTIES
    LABELS "${A_LABEL}"
    TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "TARVO_TEST_HOME=${home};QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1;TARVO_BUILD_DIR=${PROJECT_BINARY_DIR};TARVO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# tarvo_test(NAME LABEL label SOURCES ... LIBS ... [TIMEOUT seconds]) : one GoogleTest
# program, registered with ctest under the folder's label. GUI tests run offscreen.
function(tarvo_test name)
  cmake_parse_arguments(A "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # Tests fill records partly by aggregate initialisation on purpose.
  target_compile_options(${name} PRIVATE ${TARVO_WARNINGS} -Wno-missing-field-initializers)
  add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/isolated $<TARGET_FILE:${name}>)
  tarvo_test_environment(${name} LABEL ${A_LABEL} TIMEOUT ${A_TIMEOUT})
endfunction()

# tarvo_bench(NAME SOURCES ... LIBS ...)
function(tarvo_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${TARVO_WARNINGS})
endfunction()

# tarvo_fuzzer(NAME SOURCES ... LIBS ...) : a libFuzzer target; model sources are
# listed directly so the fuzz build needs no Qt.
function(tarvo_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE core ${A_LIBS})
  target_compile_options(${name} PRIVATE ${TARVO_WARNINGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY TARVO_FUZZERS ${name})
endfunction()
