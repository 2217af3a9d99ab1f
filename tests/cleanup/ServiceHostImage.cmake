# Tests of the service host image check and replacement. The fixture images
# are small PE executables linked here, with and without the dynamic-base
# flag and with real version resources; the tests find them in
# image-fixtures/ beside their own executable.
set(SERVICES_EXE_FIXTURE_DIR ${CMAKE_CURRENT_BINARY_DIR}/image-fixtures)
set(services_exe_fixtures)

# services_exe_fixture(<file name> [VERSION a b c d | RC <resource script>] [NO_DYNAMIC_BASE])
function(services_exe_fixture file)
    cmake_parse_arguments(F "NO_DYNAMIC_BASE" "RC" "VERSION" ${ARGN})
    string(MAKE_C_IDENTIFIER "services_exe_fixture_${file}" target)
    set(sources ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.c)
    if(F_VERSION)
        list(APPEND sources ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.rc)
    elseif(F_RC)
        list(APPEND sources ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/${F_RC})
    endif()
    add_executable(${target} ${sources})
    if(F_VERSION)
        list(GET F_VERSION 0 major)
        list(GET F_VERSION 1 minor)
        list(GET F_VERSION 2 build)
        list(GET F_VERSION 3 revision)
        target_compile_definitions(${target} PRIVATE FIXTURE_MAJOR=${major} FIXTURE_MINOR=${minor}
                                   FIXTURE_BUILD=${build} FIXTURE_REVISION=${revision})
    endif()
    if(F_NO_DYNAMIC_BASE)
        set(base_flag -Wl,--disable-dynamicbase)
    else()
        set(base_flag -Wl,--dynamicbase)
    endif()
    target_link_options(${target} PRIVATE -static -s ${base_flag})
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${file} SUFFIX ".exe" RUNTIME_OUTPUT_DIRECTORY ${SERVICES_EXE_FIXTURE_DIR})
    set(services_exe_fixtures ${services_exe_fixtures} ${target} PARENT_SCOPE)
endfunction()

services_exe_fixture(v6.1.7601.17514-nodyn VERSION 6 1 7601 17514 NO_DYNAMIC_BASE)
services_exe_fixture(v6.1.7601.17514-dyn VERSION 6 1 7601 17514)
services_exe_fixture(v7.1.7601.17514-dyn VERSION 7 1 7601 17514)
services_exe_fixture(v6.2.7601.17514-dyn VERSION 6 2 7601 17514)
services_exe_fixture(v6.1.7602.17514-dyn VERSION 6 1 7602 17514)
services_exe_fixture(v6.1.7601.17515-dyn VERSION 6 1 7601 17515)
services_exe_fixture(v0.0.0.0-dyn VERSION 0 0 0 0)
services_exe_fixture(noversion-nodyn NO_DYNAMIC_BASE)
services_exe_fixture(noversion-dyn)
services_exe_fixture(shortversion-dyn RC ShortVersionFixture.rc)

# The same pair linked for the other pointer width (PE32 beside PE32+), when
# that compiler is installed.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(other_width_target i686-w64-mingw32)
else()
    set(other_width_target x86_64-w64-mingw32)
endif()
find_program(SERVICES_EXE_OTHER_WIDTH_GCC ${other_width_target}-gcc-win32)
find_program(SERVICES_EXE_OTHER_WIDTH_WINDRES ${other_width_target}-windres)
if(SERVICES_EXE_OTHER_WIDTH_GCC)
    set(other_width_outputs)
    foreach(kind dyn nodyn)
        if(kind STREQUAL "dyn")
            set(base_flag -Wl,--dynamicbase)
        else()
            set(base_flag -Wl,--disable-dynamicbase)
        endif()
        set(out ${SERVICES_EXE_FIXTURE_DIR}/otherwidth-${kind}.exe)
        add_custom_command(OUTPUT ${out}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${SERVICES_EXE_FIXTURE_DIR}
            COMMAND ${SERVICES_EXE_OTHER_WIDTH_GCC} -static -s ${base_flag} -o ${out}
                    ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.c
            DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.c
            VERBATIM)
        list(APPEND other_width_outputs ${out})
    endforeach()
    # A clean image of the infected fixture's version for the other machine
    # type (PE Machine i386 beside AMD64): a store copy that must never
    # replace the image.
    if(SERVICES_EXE_OTHER_WIDTH_WINDRES)
        set(out ${SERVICES_EXE_FIXTURE_DIR}/otherwidth-v6.1.7601.17514-dyn.exe)
        set(resource ${CMAKE_CURRENT_BINARY_DIR}/otherwidth-version.o)
        add_custom_command(OUTPUT ${out}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${SERVICES_EXE_FIXTURE_DIR}
            COMMAND ${SERVICES_EXE_OTHER_WIDTH_WINDRES} --preprocessor=${SERVICES_EXE_OTHER_WIDTH_GCC}
                    --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED
                    -DFIXTURE_MAJOR=6 -DFIXTURE_MINOR=1 -DFIXTURE_BUILD=7601 -DFIXTURE_REVISION=17514
                    -i ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.rc -o ${resource}
            COMMAND ${SERVICES_EXE_OTHER_WIDTH_GCC} -static -s -Wl,--dynamicbase -o ${out}
                    ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.c ${resource}
            DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.c
                    ${CMAKE_CURRENT_LIST_DIR}/fixtures/image/ImageFixture.rc
            VERBATIM)
        list(APPEND other_width_outputs ${out})
    endif()
    add_custom_target(services_exe_fixture_other_width DEPENDS ${other_width_outputs})
    list(APPEND services_exe_fixtures services_exe_fixture_other_width)
endif()
add_custom_target(services_exe_fixtures DEPENDS ${services_exe_fixtures})

add_library(services_exe_test_files STATIC ${CMAKE_CURRENT_LIST_DIR}/ServicesExeTestFiles.cpp)
target_include_directories(services_exe_test_files PUBLIC ${CMAKE_SOURCE_DIR}/tests)
project_warnings(services_exe_test_files)

add_wine_gtest(services_exe_check_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/ServicesExeCheckTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ServicesExeCheckModelTest.cpp
    LIBS services_exe_test_files vorn_cleanup vorn_test_support
)
add_dependencies(services_exe_check_tests services_exe_fixtures)

# Wine answers version queries on any file named services.exe from its own
# built-in service manager, which has no version resource; the replacement
# tests therefore run with services.exe loaded native-first, which makes the
# planted images' own version resources visible.
add_wine_gtest(services_exe_restore_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServicesExeRestoreTest.cpp
    LIBS services_exe_test_files vorn_cleanup vorn_test_support
    NATIVE_SERVICES)
add_dependencies(services_exe_restore_tests services_exe_fixtures)

# The rename carried out by a restart of the prefix (wineboot -r).
add_executable(services_exe_probe ${CMAKE_CURRENT_LIST_DIR}/ServicesExeProbe.cpp)
target_link_libraries(services_exe_probe PRIVATE vorn_cleanup vorn_test_support)
project_warnings(services_exe_probe)
project_static_exe(services_exe_probe)
add_dependencies(services_exe_probe services_exe_fixtures)
add_python_test(services_exe_restart_tests ${CMAKE_CURRENT_LIST_DIR}/test_services_exe_restart.py)
