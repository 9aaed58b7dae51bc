# A test program that runs built programs: its sources, the libraries it
# links beside the test support, and the programs it runs, each passed to it
# as NAME_PATH (VESKAL_PATH for veskal).
function(veskal_process_test name)
  cmake_parse_arguments(TEST "" "" "SOURCES;LIBRARIES;PROGRAMS" ${ARGN})
  add_executable(${name} ${TEST_SOURCES})
  target_link_libraries(${name} PRIVATE testsupport ${TEST_LIBRARIES} GTest::gtest_main)
  foreach(program ${TEST_PROGRAMS})
    string(TOUPPER ${program} upper)
    target_compile_definitions(${name} PRIVATE ${upper}_PATH="$<TARGET_FILE:${program}>")
    add_dependencies(${name} ${program})
  endforeach()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
