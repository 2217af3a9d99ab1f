# The value-line parser is a library of its own: the known-good table's
# checks parse every line of the table without the repair code.
add_library(vorn_registry_parser STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ValueLine.cpp
)
target_include_directories(vorn_registry_parser PUBLIC ${CMAKE_SOURCE_DIR}/src)
project_warnings(vorn_registry_parser)

# Record restoration, the services pass, the COM server repair and the
# restart registration. RestoreServices(versionCode) sits in a source of its
# own: it alone needs the built-in table (vorn_registry_data).
add_library(vorn_registry STATIC
    ${CMAKE_CURRENT_LIST_DIR}/BuiltInServicesRestore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ComServerRepair.cpp
    ${CMAKE_CURRENT_LIST_DIR}/KeySecurity.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PrivilegedKeyOpen.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordRestore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryBackup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryBackupRead.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryKeyName.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryScript.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryValueRead.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryRootNames.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegistryUndo.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RestartRegistration.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RestorationState.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServicesRestore.cpp
)
target_include_directories(vorn_registry PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(vorn_registry PUBLIC vorn_registry_parser vorn_win vorn_logging advapi32)
if(TARGET vorn_registry_data)
    target_link_libraries(vorn_registry PUBLIC vorn_registry_data)
endif()
project_warnings(vorn_registry)
