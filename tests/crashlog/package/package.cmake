# The installed package as another program sees it: install it into a folder of the build,
# configure examples/hello_crash against it with the same toolchain, build it and run it under
# Wine. The package comes from the tree as built (target crashlog_package, part of the default
# build); the example opens a window.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
pelloran_add_wine_test(crashlog_package_hello_crash DRIVER USES_DISPLAY
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/hello_crash_test.py
    --build ${CMAKE_BINARY_DIR}
    --work ${CMAKE_BINARY_DIR}/package-test
    --example ${PROJECT_SOURCE_DIR}/examples/hello_crash
    --toolchain ${CMAKE_TOOLCHAIN_FILE}
    --options ${CMAKE_CURRENT_LIST_DIR}/quiet.options
    --generator ${CMAKE_GENERATOR}
    --cmake ${CMAKE_COMMAND})

# Every way a C++ program fails (uncaught exceptions of every kind, abort, SIGABRT, assert, a pure
# virtual call, a throw out of a noexcept function, std::terminate), in a program with windows
# built against the installed package, one run each. Its own work folder: the two package tests
# may run at once.
pelloran_add_wine_test(crashlog_package_cpp_errors DRIVER USES_DISPLAY
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/cpp_errors_test.py
    --build ${CMAKE_BINARY_DIR}
    --work ${CMAKE_BINARY_DIR}/package-test-cpp-errors
    --toolchain ${CMAKE_TOOLCHAIN_FILE}
    --options ${CMAKE_CURRENT_LIST_DIR}/quiet.options
    --generator ${CMAKE_GENERATOR}
    --cmake ${CMAKE_COMMAND})

# The reporter links nothing above its layers, and the archive other programs link carries none of
# Pelloran's widgets.
add_test(NAME crashlog_reporter_layers
  COMMAND ${CMAKE_COMMAND} -DFACTS=${CMAKE_BINARY_DIR}/reporter_layers.txt
    -DARCHIVE=${CMAKE_BINARY_DIR}/package/libcrashlog.a -DAR=${CMAKE_AR}
    -P ${CMAKE_CURRENT_LIST_DIR}/check_layers.cmake)
