# Tests run the cross-built Windows programs under Wine, each run in a
# throw-away prefix (scripts/wineprefix.py); base prefixes are cached in the
# build tree.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(WINE_BASES_DIR ${CMAKE_BINARY_DIR}/wine-bases)
set(PRODUCT_EXE "" CACHE FILEPATH "The shipped 32-bit cleaner, for the checks of its image")

function(_wine_test_environment name)
    set_tests_properties(${name} PROPERTIES
        TIMEOUT 900
        ENVIRONMENT "VORN_WINE_BASES=${WINE_BASES_DIR};PYTHONPATH=${CMAKE_SOURCE_DIR}/scripts;VORN_BUILD_DIR=${CMAKE_BINARY_DIR};VORN_PRODUCT_EXE=${PRODUCT_EXE};VORN_OBJDUMP=${CMAKE_OBJDUMP}")
endfunction()

# add_wine_gtest(name SOURCES ... [LIBS ...] [VERSION win7] [NATIVE_SERVICES] [RUNNER script])
# A GoogleTest executable started in a fresh prefix of the given version;
# with NATIVE_SERVICES, version queries on services.exe read a planted image.
# RUNNER takes the place of scripts/run_wine_test.py, with the same arguments.
function(add_wine_gtest name)
    cmake_parse_arguments(A "NATIVE_SERVICES" "VERSION;RUNNER" "SOURCES;LIBS" ${ARGN})
    if(NOT A_RUNNER)
        set(A_RUNNER ${CMAKE_SOURCE_DIR}/scripts/run_wine_test.py)
    endif()
    if(NOT A_VERSION)
        set(A_VERSION win7)
    endif()
    add_executable(${name} ${A_SOURCES})
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
    project_warnings(${name})
    set(native_services)
    if(A_NATIVE_SERVICES)
        set(native_services --native-services)
    endif()
    add_test(NAME ${name}
        COMMAND ${Python3_EXECUTABLE} ${A_RUNNER}
                --version ${A_VERSION} ${native_services} -- $<TARGET_FILE:${name}>)
    _wine_test_environment(${name})
endfunction()

# add_python_test(name script [DEPENDS targets...])
# A test written in Python (unittest) that drives Windows programs itself;
# it finds the built programs through VORN_BUILD_DIR.
function(add_python_test name script)
    add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${script})
    _wine_test_environment(${name})
endfunction()

# add_wine_benchmark(name SOURCES ... [LIBS ...] [OWN_RUNNER])
# A program that prints figures; never a test. `cmake --build <dir> --target
# run_<name>` runs it in a fresh Windows 7 prefix; with OWN_RUNNER the caller
# defines a run target of its own (a driver that times several prefixes).
function(add_wine_benchmark name)
    cmake_parse_arguments(A "OWN_RUNNER" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${A_SOURCES})
    target_link_libraries(${name} PRIVATE ${A_LIBS})
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
    project_warnings(${name})
    if(A_OWN_RUNNER)
        return()
    endif()
    add_custom_target(run_${name}
        COMMAND ${CMAKE_COMMAND} -E env VORN_WINE_BASES=${WINE_BASES_DIR} PYTHONPATH=${CMAKE_SOURCE_DIR}/scripts
                ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/run_wine_test.py --version win7
                -- $<TARGET_FILE:${name}>
        DEPENDS ${name}
        USES_TERMINAL)
endfunction()
