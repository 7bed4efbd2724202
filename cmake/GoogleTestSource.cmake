# GoogleTest from Debian's source package, built by each project that runs tests, with that
# project's own compiler.
include(${CMAKE_CURRENT_LIST_DIR}/Prerequisites.cmake)
pelloran_require_googletest()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${PELLORAN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
