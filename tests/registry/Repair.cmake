add_wine_gtest(registry_value_line_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/ValueLineTest.cpp LIBS vorn_registry_parser)

set(registry_test_keys ${CMAKE_CURRENT_LIST_DIR}/RegistryTestKeys.cpp ${CMAKE_CURRENT_LIST_DIR}/KeySecurityModel.cpp)
add_wine_gtest(registry_record_restore_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordRestoreTest.cpp ${registry_test_keys}
    LIBS vorn_registry vorn_test_support shlwapi)
add_wine_gtest(registry_services_restore_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServicesRestoreTest.cpp ${registry_test_keys}
    LIBS vorn_registry vorn_test_support shlwapi)
add_wine_gtest(registry_com_repair_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ComServerRepairTest.cpp ${registry_test_keys}
    LIBS vorn_registry vorn_test_support shlwapi)
add_wine_gtest(registry_restart_registration_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RestartRegistrationTest.cpp
            ${registry_test_keys}
    LIBS vorn_registry vorn_test_support shlwapi)
add_wine_gtest(registry_backup_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegistryBackupTest.cpp ${registry_test_keys}
    LIBS vorn_registry vorn_test_support vorn_win shlwapi)
