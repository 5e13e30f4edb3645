# Installs the build into a fresh prefix and checks what lands there: every
# program, each manual page (carrying the project's version and rendering
# without a warning) and every document.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPREFIX=... -DVERSION=...
#         -DPROGRAMS=orbse,orbse-fields -P install_check.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

function(expect_file relative)
  if(NOT EXISTS ${PREFIX}/${relative})
    message(SEND_ERROR "not installed: ${relative}")
  endif()
endfunction()

string(REPLACE "," ";" programs "${PROGRAMS}")
foreach(program IN LISTS programs)
  expect_file(bin/${program})
endforeach()
# The installed inspector runs: with no argument it does nothing and exits 0.
execute_process(COMMAND ${PREFIX}/bin/orbse RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(SEND_ERROR "bin/orbse without an argument exited with ${status}")
endif()

file(GLOB documents RELATIVE ${SOURCE_DIR}/docs ${SOURCE_DIR}/docs/*)
list(FILTER documents EXCLUDE REGEX "\\.1$")
foreach(document IN LISTS documents ITEMS README.md CHANGELOG.md LICENSE)
  expect_file(share/doc/orbse/${document})
endforeach()

find_program(MAN man)
if(NOT MAN)
  message(FATAL_ERROR "man is not installed (Debian: apt-get install man-db)")
endif()
file(GLOB pages RELATIVE ${SOURCE_DIR}/docs ${SOURCE_DIR}/docs/*.1)
foreach(page IN LISTS pages)
  set(installed ${PREFIX}/share/man/man1/${page})
  expect_file(share/man/man1/${page})
  file(STRINGS ${installed} title REGEX "^\\.TH ")
  if(NOT title MATCHES " ${VERSION}\"")
    message(SEND_ERROR "${page}: the title line does not carry version ${VERSION}: ${title}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 LC_ALL=C.UTF-8 ${MAN} -l --warnings ${installed}
                  RESULT_VARIABLE status OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "" OR NOT text MATCHES "NAME")
    message(SEND_ERROR "${page} does not render cleanly (exit ${status}):\n${warnings}")
  endif()
endforeach()
