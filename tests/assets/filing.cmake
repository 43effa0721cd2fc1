# Filing readings tables under assets, the command line's `assets`, the asset report and the
# demo register: a program of its own beside the register's tests.
kx_add_test(test_asset_filing
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/filing/filing_fixtures.h
        ${CMAKE_CURRENT_LIST_DIR}/filing/test_table_filing.cpp
        ${CMAKE_CURRENT_LIST_DIR}/filing/test_cli_assets.cpp
        ${CMAKE_CURRENT_LIST_DIR}/filing/test_asset_report.cpp
    LIBS kxwidgets)
target_include_directories(test_asset_filing PRIVATE ${CMAKE_SOURCE_DIR}/tests/reports
    ${CMAKE_SOURCE_DIR}/tests/cli)
