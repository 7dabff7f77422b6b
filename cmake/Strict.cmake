# Every target links clipvane_strict: one place for the language level, the warnings that
# fail the build and the Qt definitions that keep string conversions explicit.
add_library(clipvane_strict INTERFACE)
target_compile_features(clipvane_strict INTERFACE cxx_std_20)
target_compile_options(clipvane_strict INTERFACE -Wall -Wextra -Wpedantic -Werror)
target_compile_definitions(clipvane_strict INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_KEYWORDS
    QT_NO_FOREACH)

if(CLIPVANE_SANITIZE)
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_compile_options(clipvane_strict INTERFACE ${_san})
    target_link_options(clipvane_strict INTERFACE ${_san})
endif()

if(CLIPVANE_SANITIZE_THREAD)
    set(_tsan -fsanitize=thread -fno-omit-frame-pointer)
    target_compile_options(clipvane_strict INTERFACE ${_tsan})
    target_link_options(clipvane_strict INTERFACE ${_tsan})
endif()

# Adds a QTest program and registers it with CTest. Tests never touch the user's own
# settings or data: QStandardPaths runs in test mode inside each program.
function(clipvane_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE clipvane_strict Qt6::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    # die_after_fork=0: tests that start the service binary fork beside running threads, and
    # the child only execs.
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=${PROJECT_SOURCE_DIR}/cmake/tsan.supp")
endfunction()
