# Run by CPack after it installed the files and before it packs them: a tree
# built with the tests (KORVO_TESTS) lets its program take the tests' page
# script (KORVO_TEST_USER_SCRIPT), which no package may do.
if(CPACK_KORVO_TESTS)
  message(FATAL_ERROR "This tree was built with KORVO_TESTS=ON, so its program takes the tests' "
                      "page script; build the packages from a tree configured with "
                      "-DKORVO_TESTS=OFF (bash .ci/package does that).")
endif()
