# The service host image check and replacement (services.exe).
target_sources(vorn_cleanup PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ServicesExeCheck.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServicesExePath.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServicesExeRestore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServicesExeVersion.cpp
)
target_link_libraries(vorn_cleanup PUBLIC version)
