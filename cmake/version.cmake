# The project's version as a header, zantrix/version.h, for the targets that
# report it: link zantrix_version. Its only source is project() in the
# top-level CMakeLists.txt, which also writes the CMake package's version file
# (install.cmake) and which the Python distribution's metadata reads
# (setup.py).
configure_file("${CMAKE_CURRENT_LIST_DIR}/version.h.in"
  "${PROJECT_BINARY_DIR}/generated/zantrix/version.h" @ONLY)
add_library(zantrix_version INTERFACE)
target_include_directories(zantrix_version INTERFACE
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>)
