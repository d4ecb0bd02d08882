# camora_warnings(target): the project's warning set, errors unless CAMORA_WERROR is off.
function(camora_warnings target)
    # clang knows no -Wshadow=local; its plain -Wshadow covers the same locals.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                           $<IF:$<CXX_COMPILER_ID:GNU>,-Wshadow=local,-Wshadow>
                           -Wnon-virtual-dtor -Wimplicit-fallthrough)
    if(CAMORA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# camora_threaded_test(target labels...): when the labels hold "threaded", the
# ThreadSanitizer build preset builds the test executable (target
# camora_threaded_tests); only those tests run under it.
function(camora_threaded_test target)
    if(NOT "threaded" IN_LIST ARGN)
        return()
    endif()
    if(NOT TARGET camora_threaded_tests)
        add_custom_target(camora_threaded_tests)
    endif()
    add_dependencies(camora_threaded_tests ${target})
endfunction()

# camora_test(name sources... LIBS libs... [LABELS labels...]): one GoogleTest executable.
function(camora_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    camora_warnings(${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                          Threads::Threads)
    include(GoogleTest)
    set(props TIMEOUT 300)
    if(T_LABELS)
        list(APPEND props LABELS "${T_LABELS}")
    endif()
    camora_threaded_test(${name} ${T_LABELS})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# camora_qt_test(): finds Qt's test library for the folder, without the two
# absolute paths it puts on every compile line of its users (for a lookup of
# test data that no test here makes), so that their objects are the same in
# every checkout and come from the compiler cache in a fresh clone.
macro(camora_qt_test)
    find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
    get_target_property(_camora_qt_test_defs Qt6::Test INTERFACE_COMPILE_DEFINITIONS)
    list(FILTER _camora_qt_test_defs EXCLUDE REGEX "^QT_TESTCASE_(BUILD|SOURCE)DIR=")
    set_target_properties(Qt6::Test PROPERTIES INTERFACE_COMPILE_DEFINITIONS
                                               "${_camora_qt_test_defs}")
endmacro()
