# The restoration benchmark: the Windows 7 pass against `reg import` of the
# same keys and values. Prints figures; not a test. Run it with the target
# run_restoration_benchmark. The values are checked after every run with the
# lifecycle fixture's verify mode (tests/driver).
if(TARGET vorn_registry AND TARGET vorn_registry_data AND TARGET vorn_logging
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/driver/MachineFixture.cpp)
    add_wine_benchmark(registry_restoration_benchmark OWN_RUNNER
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestorationBenchmark.cpp
        LIBS vorn_registry vorn_registry_data vorn_logging)
    add_custom_target(run_restoration_benchmark
        COMMAND ${CMAKE_COMMAND} -E env VORN_WINE_BASES=${WINE_BASES_DIR} PYTHONPATH=${CMAKE_SOURCE_DIR}/scripts
                ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/bench_restoration.py
                --benchmark $<TARGET_FILE:registry_restoration_benchmark>
                --fixture $<TARGET_FILE:MachineFixture>
                --table ${CMAKE_SOURCE_DIR}/src/registry/data/win7.txt
        DEPENDS registry_restoration_benchmark MachineFixture
        USES_TERMINAL)
endif()
