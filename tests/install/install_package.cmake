# cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_DIR=... -DSOURCE_DIR=...
#       [-DCXX_COMPILER=...] [-DMAKE_PROGRAM=...]
#       [-DPYTHON=... -DPYTHON_PACKAGES=...] -P install_package.cmake
#
# Installs the build BUILD_DIR into a fresh prefix under WORK_DIR and moves
# the prefix elsewhere (an installation must not depend on where it was
# made); checks the package names no path of the source or build tree;
# configures, builds and runs the consumer project against the moved prefix,
# which must print "ok"; runs the installed program's --help; with PYTHON,
# imports the installed Python package from PYTHON_PACKAGES under the prefix.
# The first step that fails stops the script with that step's output.

foreach(variable BUILD_DIR WORK_DIR CONSUMER_DIR SOURCE_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "install_package: ${variable} is not set")
  endif()
endforeach()

set(installed "${WORK_DIR}/installed")
set(prefix "${WORK_DIR}/prefix")
set(consumer_build "${WORK_DIR}/consumer-build")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# Runs the command after `name`; on success leaves its standard output and
# error, merged, in step_output.
function(step name)
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "install_package: ${name} failed (${result}):\n${output}")
  endif()
  set(step_output "${output}" PARENT_SCOPE)
endfunction()

step(install "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${installed}")
file(RENAME "${installed}" "${prefix}")

file(GLOB package_files "${prefix}/lib*/cmake/zantrix/*.cmake")
if(NOT package_files)
  message(FATAL_ERROR "install_package: no package files under ${prefix}")
endif()
foreach(file IN LISTS package_files)
  file(READ "${file}" text)
  foreach(tree "${SOURCE_DIR}" "${BUILD_DIR}")
    string(FIND "${text}" "${tree}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "install_package: ${file} names ${tree}")
    endif()
  endforeach()
endforeach()

# The Python package, when the build has one, imports from the moved prefix.
if(PYTHON)
  step(python "${CMAKE_COMMAND}" -E env "PYTHONPATH=${prefix}/${PYTHON_PACKAGES}"
    "${PYTHON}" -c "import zantrix.core.data, zantrix.plugins.sqlite3.db")
endif()

set(configure_arguments -S "${CONSUMER_DIR}" -B "${consumer_build}" -G Ninja
  "-DCMAKE_PREFIX_PATH=${prefix}"
  # Only the fresh installation may answer find_package(zantrix).
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
if(CXX_COMPILER)
  list(APPEND configure_arguments "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
endif()
if(MAKE_PROGRAM)
  list(APPEND configure_arguments "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
endif()
step(configure "${CMAKE_COMMAND}" ${configure_arguments})

file(STRINGS "${consumer_build}/CMakeCache.txt" found REGEX "^zantrix_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found "${found}")
string(FIND "${found}" "${prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "install_package: the consumer found zantrix in '${found}', not ${prefix}")
endif()

step(build "${CMAKE_COMMAND}" --build "${consumer_build}")

step(run "${consumer_build}/consumer")
if(NOT step_output STREQUAL "ok\n")
  message(FATAL_ERROR "install_package: the consumer printed, instead of ok:\n${step_output}")
endif()

step(program "${prefix}/bin/zantrix" --help)
