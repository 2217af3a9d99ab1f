# Checks of the known-good registry table: its catalogue, every line and
# security string, the service configuration, and the table generator.
set(known_good_view ${CMAKE_CURRENT_LIST_DIR}/KnownGoodTableView.cpp)
if(TARGET vorn_registry_data AND TARGET vorn_registry_parser)
    add_wine_gtest(registry_known_good_catalogue_tests
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/KnownGoodCatalogueTest.cpp ${known_good_view}
        LIBS vorn_registry_data vorn_registry_parser)
    add_wine_gtest(registry_known_good_lines_tests
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/KnownGoodLinesTest.cpp ${known_good_view}
        LIBS vorn_registry_data vorn_registry_parser advapi32)
    add_wine_gtest(registry_known_good_service_config_tests
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/KnownGoodServiceConfigTest.cpp ${known_good_view}
        LIBS vorn_registry_data vorn_registry_parser)
endif()
add_python_test(registry_known_good_generator_tests ${CMAKE_CURRENT_LIST_DIR}/KnownGoodGeneratorTest.py)

# The restoration pass over each family's records, each in a prefix of its own,
# and the registry read back afterwards by reg export.
if(TARGET vorn_registry AND TARGET vorn_registry_data AND TARGET vorn_test_support)
    set(_known_good_prefixes winxp vista win7 win2003 win2008r2 win2008)
    foreach(family RANGE 5)
        list(GET _known_good_prefixes ${family} prefix)
        add_wine_gtest(registry_known_good_restore_family${family}_tests
            SOURCES ${CMAKE_CURRENT_LIST_DIR}/KnownGoodRestoreTest.cpp ${CMAKE_CURRENT_LIST_DIR}/KeySecurityModel.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/RegistryTestKeys.cpp
            LIBS vorn_registry vorn_registry_data vorn_test_support shlwapi
            VERSION ${prefix}
            RUNNER ${CMAKE_CURRENT_LIST_DIR}/known_good_readback.py)
        target_compile_definitions(registry_known_good_restore_family${family}_tests PRIVATE KNOWN_GOOD_FAMILY=${family}u)
    endforeach()
endif()
