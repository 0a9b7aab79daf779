# Build conventions shared by every target of the project.

# The installed tree is produced by the build itself under build/dist.
set(KORVO_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(KORVO_DIST_BIN ${KORVO_DIST_DIR}/bin)

# Every package the tree uses, found once as imported targets (PkgConfig::NAME).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(GTK REQUIRED IMPORTED_TARGET gtk+-3.0)
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
pkg_check_modules(WEBKIT_EXTENSION REQUIRED IMPORTED_TARGET webkit2gtk-web-extension-4.1)
pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
pkg_check_modules(RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(SIGCXX REQUIRED IMPORTED_TARGET sigc++-3.0)
pkg_check_modules(JSON REQUIRED IMPORTED_TARGET json-glib-1.0)

if(KORVO_SANITIZE)
  set(KORVO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
endif()
if(KORVO_FUZZ)
  # Every library a fuzz target links carries the fuzzer's coverage and the
  # sanitizers, or libFuzzer would be blind inside it; only the fuzz targets
  # themselves link the fuzzer's main (korvo_add_fuzzer).
  set(KORVO_SANITIZER_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
      -fno-sanitize-recover=undefined)
endif()

# Warnings as errors and the sanitizers (or the fuzzer's instrumentation) on
# the project's own code.
function(korvo_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(KORVO_SANITIZER_FLAGS)
    target_compile_options(${target} PRIVATE ${KORVO_SANITIZER_FLAGS})
    target_link_options(${target} PRIVATE ${KORVO_SANITIZER_FLAGS})
  endif()
endfunction()

# A deliverable of the installed tree: lands in dist/bin with RUNPATH $ORIGIN and
# hides the symbols of the static libraries it carries (framework/).
function(korvo_deliverable target)
  korvo_target_defaults(${target})
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${KORVO_DIST_BIN}
    LIBRARY_OUTPUT_DIRECTORY ${KORVO_DIST_BIN}
    BUILD_RPATH "$ORIGIN"
    INSTALL_RPATH "$ORIGIN"
    BUILD_WITH_INSTALL_RPATH ON)
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL -Wl,--enable-new-dtags)
  install(TARGETS ${target} RUNTIME DESTINATION ${KORVO_INSTALL_BIN} LIBRARY DESTINATION ${KORVO_INSTALL_BIN})
endfunction()

# korvo_add_gtest(NAME name LABEL label SOURCES ... [LIBS ...])
# One GoogleTest program; each of its tests becomes a CTest test with the label.
# Every test program carries the shared test support and its leak suppressions.
function(korvo_add_gtest)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  korvo_target_defaults(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} KorvoTestSupport KorvoLeakSuppressions
    GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${T_LABEL})
endfunction()

# korvo_add_pipewire_test(NAME name TARGET target [FILTER pattern])
# Runs the JACK tests of a GoogleTest program once more on a private PipeWire
# daemon (label pipewire): through pw-jack, so that the program and every
# program it starts use PipeWire's JACK library, with KORVO_TEST_JACK_SERVER=
# pipewire telling its JackTestServer to start the daemon instead of jackd.
# Without pw-jack the test fails and says why.
find_program(KORVO_PW_JACK pw-jack)
function(korvo_add_pipewire_test)
  cmake_parse_arguments(P "" "NAME;TARGET;FILTER" "" ${ARGN})
  if(NOT P_FILTER)
    set(P_FILTER "*")
  endif()
  if(KORVO_PW_JACK)
    add_test(NAME ${P_NAME} COMMAND ${KORVO_PW_JACK} $<TARGET_FILE:${P_TARGET}> --gtest_filter=${P_FILTER})
  else()
    add_test(NAME ${P_NAME} COMMAND ${CMAKE_COMMAND} -E echo
      "pw-jack is missing (package pipewire-jack, bash .ci/install): the PipeWire tests cannot run")
    set_tests_properties(${P_NAME} PROPERTIES WILL_FAIL TRUE)
  endif()
  set_tests_properties(${P_NAME} PROPERTIES LABELS pipewire ENVIRONMENT KORVO_TEST_JACK_SERVER=pipewire)
endfunction()

# A program of the project's own (benchmark or fuzz target) built into
# ${CMAKE_BINARY_DIR}/<folder>.
function(korvo_add_program name folder)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  korvo_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder})
endfunction()

# korvo_add_benchmark(NAME name SOURCES ... [LIBS ...])
# A benchmark program in ${CMAKE_BINARY_DIR}/bench; it prints its figures.
function(korvo_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "" ${ARGN})
  korvo_add_program(${B_NAME} bench ${B_UNPARSED_ARGUMENTS})
endfunction()

# korvo_add_fuzzer(NAME name SOURCES ... [LIBS ...])
# A libFuzzer target in ${CMAKE_BINARY_DIR}/fuzz (only with KORVO_FUZZ=ON);
# its seed corpus is fuzz/corpus/<name without fuzz_>.
function(korvo_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "" ${ARGN})
  korvo_add_program(${F_NAME} fuzz ${F_UNPARSED_ARGUMENTS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY KORVO_FUZZ_TARGETS ${F_NAME})
endfunction()

# Writes the names of the fuzz targets declared so far to fuzz-targets.txt in
# the build folder, one a line, for .ci/fuzz (which must not depend on how a
# generator lists its targets). Called once, after every folder was added.
function(korvo_write_fuzz_target_list)
  get_property(targets GLOBAL PROPERTY KORVO_FUZZ_TARGETS)
  list(JOIN targets "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz-targets.txt "${text}\n")
endfunction()

# korvo_add_test_plugin(NAME name SOURCES ... [LIBS ...] [SHARED])
# A small plug-in library that tests load like a module library: its own hidden
# copy of the framework, as every deliverable carries. A MODULE unless SHARED
# (linked by name as well as loaded).
function(korvo_add_test_plugin)
  cmake_parse_arguments(P "SHARED" "NAME" "SOURCES;LIBS" ${ARGN})
  if(P_SHARED)
    add_library(${P_NAME} SHARED ${P_SOURCES})
  else()
    add_library(${P_NAME} MODULE ${P_SOURCES})
  endif()
  korvo_target_defaults(${P_NAME})
  target_link_libraries(${P_NAME} PRIVATE KorvoFramework ${P_LIBS})
  target_link_options(${P_NAME} PRIVATE -Wl,--exclude-libs,ALL)
endfunction()

# korvo_add_areas([EXCEPT folder...])
# Adds every folder below the current one that has its own CMakeLists.txt.
function(korvo_add_areas)
  cmake_parse_arguments(A "" "" "EXCEPT" ${ARGN})
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(area ${areas})
    if(NOT area IN_LIST A_EXCEPT AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()
