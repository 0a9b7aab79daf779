# Build conventions shared by every target of the project.

# The installed tree is produced by the build itself under build/dist.
set(KORVO_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(KORVO_DIST_BIN ${KORVO_DIST_DIR}/bin)

if(KORVO_SANITIZE)
  set(KORVO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
endif()

# Warnings as errors and the sanitizers on the project's own code.
function(korvo_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(KORVO_SANITIZE)
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
function(korvo_add_gtest)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  korvo_target_defaults(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${T_LABEL})
endfunction()
