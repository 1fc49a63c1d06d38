include(GNUInstallDirs)

# zantrix_library(NAME SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# One shared library per module; includes are rooted at the repository when
# building and at the installed include directory (which keeps the repository's
# paths, see cmake/install.cmake) once installed, so the exported package
# names no path of this tree.
function(zantrix_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# zantrix_test(NAME SOURCES ... DEPS ... [POSTGRES])
# One GoogleTest executable, each test registered with CTest. POSTGRES: each
# test needs the private PostgreSQL server of the `postgres` fixture (see
# tests/CMakeLists.txt) and finds its libpq URI in the file that
# ZANTRIX_TEST_POSTGRES_URI_FILE names; with no server on the machine that
# file is missing and the test skips.
function(zantrix_test name)
  cmake_parse_arguments(ARG "POSTGRES" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set(postgres_properties)
  if(ARG_POSTGRES)
    set(postgres_properties ${ZANTRIX_TEST_POSTGRES_PROPERTIES})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ZANTRIX_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data"
               ${postgres_properties})
endfunction()
