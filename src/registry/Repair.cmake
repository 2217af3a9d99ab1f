# The value-line parser is a library of its own: the known-good table's
# checks parse every line of the table without the repair code.
add_library(vorn_registry_parser STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ValueLine.cpp
)
target_include_directories(vorn_registry_parser PUBLIC ${CMAKE_SOURCE_DIR}/src)
project_warnings(vorn_registry_parser)
