# The installed package as another program sees it: install it into a folder of the build,
# configure examples/hello_crash against it with the same toolchain, build it and run it under
# Wine. The package comes from the tree as built (target crashlog_package, part of the default
# build); the example opens a window.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_test(NAME crashlog_package_hello_crash
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh --env ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/hello_crash_test.py
    --build ${CMAKE_BINARY_DIR}
    --work ${CMAKE_BINARY_DIR}/package-test
    --example ${PROJECT_SOURCE_DIR}/examples/hello_crash
    --toolchain ${CMAKE_TOOLCHAIN_FILE}
    --options ${CMAKE_CURRENT_LIST_DIR}/quiet.options
    --generator ${CMAKE_GENERATOR}
    --cmake ${CMAKE_COMMAND})
set_tests_properties(crashlog_package_hello_crash PROPERTIES
  FIXTURES_REQUIRED wine
  ENVIRONMENT "PELLORAN_WINE_SESSION=${PELLORAN_WINE_SESSION};PELLORAN_WINE_RUN=${PROJECT_SOURCE_DIR}/scripts/wine-run.sh;PYTHONDONTWRITEBYTECODE=1")
pelloran_display_test(crashlog_package_hello_crash)
