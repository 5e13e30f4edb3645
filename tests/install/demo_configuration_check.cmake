# Configures the demo preset into a scratch folder with GoogleTest hidden
# from CMake: the demo must build on a machine that has none.
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -P demo_configuration_check.cmake
file(REMOVE_RECURSE ${BINARY_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --preset demo -B ${BINARY_DIR} -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the demo preset does not configure without GoogleTest:\n${output}")
endif()
file(STRINGS ${BINARY_DIR}/CMakeCache.txt testing REGEX "^BUILD_TESTING:")
if(NOT testing STREQUAL "BUILD_TESTING:BOOL=OFF")
  message(FATAL_ERROR "the demo preset builds the tests: ${testing}")
endif()
file(REMOVE_RECURSE ${BINARY_DIR})
