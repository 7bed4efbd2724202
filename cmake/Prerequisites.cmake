# What the build takes from Debian's packages beyond the compilers, and where. Each is checked at
# configure time, naming the package that brings it: a missing piece stops the configure rather
# than dropping the tests that need it.
set(PELLORAN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree (Debian package googletest)")
set(PELLORAN_LLVM_DIR /usr/lib/llvm-14/lib/cmake/llvm CACHE PATH "LLVM 14's CMake package (Debian package llvm-14-dev)")

function(pelloran_require file what package variable)
  if(NOT EXISTS ${file})
    get_filename_component(folder ${file} DIRECTORY)
    message(FATAL_ERROR "${what} is not in ${folder}: install Debian's ${package} package "
      "(scripts/bootstrap.sh does), or name its folder with -D${variable}=<dir>.")
  endif()
endfunction()

macro(pelloran_require_googletest)
  pelloran_require(${PELLORAN_GOOGLETEST_SOURCE}/CMakeLists.txt "GoogleTest's source tree" googletest
                   PELLORAN_GOOGLETEST_SOURCE)
endmacro()
macro(pelloran_require_llvm)
  pelloran_require(${PELLORAN_LLVM_DIR}/LLVMConfig.cmake "LLVM 14's CMake package" llvm-14-dev PELLORAN_LLVM_DIR)
endmacro()
