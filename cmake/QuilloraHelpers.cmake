# Adds every direct sub-folder of DIR that has a CMakeLists.txt, in name order, except the
# folder names given after EXCLUDE.
function(quillora_add_subdirectories dir)
    cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
    file(GLOB children LIST_DIRECTORIES true RELATIVE "${dir}" "${dir}/*")
    list(SORT children)
    foreach(child IN LISTS children)
        if(child IN_LIST ARG_EXCLUDE)
            continue()
        endif()
        if(IS_DIRECTORY "${dir}/${child}" AND EXISTS "${dir}/${child}/CMakeLists.txt")
            add_subdirectory("${dir}/${child}")
        endif()
    endforeach()
endfunction()

# quillora_add_library(NAME [DEPS ...] [PRIVATE ...]): a static library from every .cpp in the
# current folder. DEPS are linked PUBLIC: our own libraries, and third-party ones whose headers
# the library's public headers include. PRIVATE names the third-party libraries only its .cpp
# files include.
function(quillora_add_library name)
    cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC quillora_settings ${ARG_DEPS} PRIVATE ${ARG_PRIVATE})
endfunction()

# quillora_add_test_suite(NAME [DEPS ...]): one GoogleTest executable from every .cpp in the
# current folder, registered with CTest test by test.
function(quillora_add_test_suite name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE quillora_settings quillora_testsupport ${ARG_DEPS}
                                          GTest::gtest GTest::gmock GTest::gtest_main)
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
                         PROPERTIES ENVIRONMENT "QUILLORA_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# quillora_add_bench(TARGET [ARGS ...]): registers a built benchmark for `make bench`.
function(quillora_add_bench target)
    set_property(GLOBAL APPEND PROPERTY QUILLORA_BENCHES "${target}")
    set_property(GLOBAL PROPERTY QUILLORA_BENCH_ARGS_${target} "${ARGN}")
endfunction()

function(quillora_finish_benchmarks)
    get_property(benches GLOBAL PROPERTY QUILLORA_BENCHES)
    set(commands COMMAND ${CMAKE_COMMAND} -E echo "Running benchmarks")
    foreach(bench IN LISTS benches)
        get_property(args GLOBAL PROPERTY QUILLORA_BENCH_ARGS_${bench})
        list(APPEND commands COMMAND $<TARGET_FILE:${bench}> ${args})
    endforeach()
    add_custom_target(run_benchmarks ${commands} DEPENDS ${benches}
                      WORKING_DIRECTORY "${CMAKE_BINARY_DIR}" USES_TERMINAL VERBATIM)
endfunction()
