# Installation: the libraries, the `zantrix` program, the public headers and a
# CMake package, so that another project can write
#
#   find_package(zantrix REQUIRED)
#   target_link_libraries(my_engine PRIVATE zantrix::zantrix_vexgate ...)
#
# after `cmake --install <build> --prefix <prefix>`. Layout under the prefix:
#   bin/zantrix                      the program
#   lib/lib<name>.so                 every library of platform/ and zantrix/
#   include/{zantrix,platform}/...   the headers, at their repository paths
#   lib/cmake/zantrix/               zantrixConfig.cmake, zantrixConfigVersion.cmake,
#                                    zantrixTargets*.cmake (targets zantrix::<name>)
# Nothing installed refers to this source or build tree, so the prefix may be
# moved as a whole after installation.
# Included from the top-level CMakeLists.txt after every library is defined.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZANTRIX_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/zantrix")

# Every library target defined under `dir` and its subdirectories. The
# libraries are found rather than listed, so a library added to platform/ or
# zantrix/ is installed and exported without touching this file.
function(_zantrix_library_targets dir out)
  set(found)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(SHARED|STATIC|INTERFACE)_LIBRARY$")
      list(APPEND found ${target})
    elseif(type MATCHES "_LIBRARY$")
      message(FATAL_ERROR
        "${target}: a ${type} cannot be part of the installed zantrix package")
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    _zantrix_library_targets("${subdir}" sub_found)
    list(APPEND found ${sub_found})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

_zantrix_library_targets("${PROJECT_SOURCE_DIR}/platform" _zantrix_platform_libraries)
_zantrix_library_targets("${PROJECT_SOURCE_DIR}/zantrix" _zantrix_module_libraries)
set(ZANTRIX_INSTALLED_LIBRARIES ${_zantrix_platform_libraries} ${_zantrix_module_libraries})

# Run paths: a library finds the libraries it needs beside itself ($ORIGIN;
# a run path is not inherited from the program, so every library carries its
# own), and the program finds them through the relative path from the binary
# directory to the library directory.
file(RELATIVE_PATH _zantrix_bin_to_lib
  "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
foreach(library IN LISTS ZANTRIX_INSTALLED_LIBRARIES)
  get_target_property(type ${library} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
endforeach()
set_target_properties(zantrix PROPERTIES INSTALL_RPATH "$ORIGIN/${_zantrix_bin_to_lib}")

install(TARGETS ${ZANTRIX_INSTALLED_LIBRARIES}
  EXPORT zantrixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(TARGETS zantrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The headers of both trees at their repository paths, which is how the
# sources and the exported include directory name them. api_json.h is left
# out: it is platform_telegram's own (only its sources include it) and needs
# nlohmann_json, which the package does not require.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/zantrix" "${PROJECT_SOURCE_DIR}/platform"
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING
    PATTERN "*.h"
    REGEX "/platform/telegram/api_json\\.h$" EXCLUDE)

# The outside packages of the exported link interfaces: the package that
# provides each outside target, as find_dependency arguments. Private
# dependencies of a shared library are not part of its link interface and need
# no entry; a static library's private ones ($<LINK_ONLY:...>) do.
set(_zantrix_package_of_Threads__Threads "Threads")
set(_zantrix_package_of_nlohmann_json__nlohmann_json "nlohmann_json 3")
set(_zantrix_package_of_SQLite__SQLite3 "SQLite3")
set(_zantrix_package_of_PostgreSQL__PostgreSQL "PostgreSQL")
set(_zantrix_package_of_CURL__libcurl "CURL")
set(_zantrix_package_of_fmt__fmt "fmt")
set(_zantrix_package_of_fmt__fmt-header-only "fmt")

set(_zantrix_dependencies)
foreach(library IN LISTS ZANTRIX_INSTALLED_LIBRARIES)
  get_target_property(interface ${library} INTERFACE_LINK_LIBRARIES)
  if(NOT interface)
    continue()
  endif()
  foreach(item IN LISTS interface)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
    if(item IN_LIST ZANTRIX_INSTALLED_LIBRARIES)
      continue()
    endif()
    string(REPLACE "::" "__" key "${item}")
    if(DEFINED _zantrix_package_of_${key})
      list(APPEND _zantrix_dependencies "${_zantrix_package_of_${key}}")
    elseif(TARGET ${item} OR item MATCHES "::|\\$<")
      # A target the consumer could not resolve would make find_package fail
      # far from its cause; name it here instead.
      message(FATAL_ERROR
        "${library} links '${item}' publicly; map it to its package in "
        "cmake/install.cmake or link it PRIVATE")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES _zantrix_dependencies)
list(SORT _zantrix_dependencies)
set(ZANTRIX_FIND_DEPENDENCIES "")
foreach(dependency IN LISTS _zantrix_dependencies)
  string(APPEND ZANTRIX_FIND_DEPENDENCIES "find_dependency(${dependency})\n")
endforeach()

install(EXPORT zantrixTargets
  NAMESPACE zantrix::
  DESTINATION ${ZANTRIX_INSTALL_CMAKEDIR})

configure_package_config_file(
  "${CMAKE_CURRENT_LIST_DIR}/zantrixConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/zantrixConfig.cmake"
  INSTALL_DESTINATION ${ZANTRIX_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/zantrixConfigVersion.cmake"
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/zantrixConfig.cmake"
  "${PROJECT_BINARY_DIR}/zantrixConfigVersion.cmake"
  DESTINATION ${ZANTRIX_INSTALL_CMAKEDIR})

# The Python package, when built: the pure-Python modules and the compiled
# module under ZANTRIX_PYTHON_INSTALL_DIR (Debian's place for packages of its
# python3), so that
#   PYTHONPATH=<prefix>/lib/python3/dist-packages python3 -c "import zantrix"
# works. The compiled module finds the libraries through a run path relative
# to its own folder.
if(TARGET _zantrix)
  set(ZANTRIX_PYTHON_INSTALL_DIR "lib/python3/dist-packages" CACHE STRING
    "Where the Python package is installed, relative to the prefix")
  file(RELATIVE_PATH _zantrix_python_to_lib
    "${CMAKE_INSTALL_PREFIX}/${ZANTRIX_PYTHON_INSTALL_DIR}/zantrix" "${CMAKE_INSTALL_FULL_LIBDIR}")
  set_target_properties(_zantrix PROPERTIES INSTALL_RPATH "$ORIGIN/${_zantrix_python_to_lib}")
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/python/zantrix"
    DESTINATION "${ZANTRIX_PYTHON_INSTALL_DIR}"
    FILES_MATCHING PATTERN "*.py" PATTERN "py.typed"
    PATTERN "_zantrix" EXCLUDE)
  install(TARGETS _zantrix LIBRARY DESTINATION "${ZANTRIX_PYTHON_INSTALL_DIR}/zantrix")
  install(FILES "${ZANTRIX_PYTHON_STUBS}" DESTINATION "${ZANTRIX_PYTHON_INSTALL_DIR}/zantrix")
endif()
