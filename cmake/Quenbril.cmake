# Helpers shared by every folder's CMakeLists.

# quenbril_test(NAME LABEL SOURCES... LIBS ...): one gtest executable registered with ctest under LABEL.
function(quenbril_test name label)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE
        QUENBRIL_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
    quenbril_test_timeout(timeout 60)
    gtest_discover_tests(${name} PROPERTIES LABELS ${label} TIMEOUT ${timeout}
                         DISCOVERY_TIMEOUT 30)
endfunction()

# quenbril_fuzzer(NAME SOURCE LIBS...): a libFuzzer target (fuzz build only, clang).
function(quenbril_fuzzer name source)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARGN})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
