# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DVERSION=... -DBUILT_FOR_DATADIR=...
#       -P install_layout_check.cmake
# Installs the build into a scratch DESTDIR under a prefix the program was not
# built for, checks that every file a user needs is there, and starts the
# installed programs: they must find their panel file and sample program.
cmake_minimum_required(VERSION 3.25)

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

# run(<name> <expected exit code> <command...>): output in <name>_out.
function(run name code)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  TIMEOUT 60)
  if(NOT rc STREQUAL code)
    fail("${ARGN}\n  exited with ${rc}, expected ${code}\n  stdout: ${out}\n  stderr: ${err}")
  endif()
  set(${name}_out "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_in name text)
  string(FIND "${${name}_out}" "${text}" at)
  if(at EQUAL -1)
    fail("expected \"${text}\" in the output:\n${${name}_out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix /opt/chipload-relocated)
set(ENV{DESTDIR} ${WORK_DIR})
run(install 0 ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
unset(ENV{DESTDIR})
set(root ${WORK_DIR}${prefix})

set(expected
  bin/chipload
  bin/chipload-sim
  share/chipload/ChipLoad.uir
  share/chipload/hello.hex
  share/applications/chipload.desktop
  share/icons/hicolor/scalable/apps/chipload.svg
  share/man/man1/chipload.1
  share/man/man1/chipload-sim.1
  share/bash-completion/completions/chipload
  share/locale/en/LC_MESSAGES/chipload.mo
  lib/udev/rules.d/60-chipload.rules)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/chipload.png)
endforeach()
file(GLOB data_files RELATIVE ${SOURCE_DIR}/data ${SOURCE_DIR}/data/*.json)
foreach(name IN LISTS data_files)
  list(APPEND expected share/chipload/${name})
endforeach()
set(missing)
foreach(file IN LISTS expected)
  if(NOT EXISTS ${root}/${file})
    list(APPEND missing ${file})
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " missing_text)
  fail("not installed under ${prefix}:\n  ${missing_text}")
endif()

run(version 0 ${root}/bin/chipload --version)
if(NOT version_out STREQUAL "chipload ${VERSION}\n")
  fail("--version printed \"${version_out}\", expected \"chipload ${VERSION}\"")
endif()

run(sim 0 ${root}/bin/chipload-sim --help)
expect_in(sim "usage: chipload-sim")

run(ports 0 ${root}/bin/chipload --com 3=rfc2217://127.0.0.1:9 --list-ports)
expect_in(ports "COM3  rfc2217://127.0.0.1:9\n      network port (RFC 2217); given with --com")

# The whole demo job from the install: panel file and sample program come
# from the relocated data folder.
run(demo 0 ${root}/bin/chipload --headless --demo)
expect_in(demo "loading ${root}/share/chipload/hello.hex")
expect_in(demo "every step held")

# English from the installed catalog.
run(demo_en 0 ${root}/bin/chipload --headless --demo --lang en)
expect_in(demo_en "[PANEL_STATUS] Programming complete")

# Without its panel file the program says where it looked, the relocated
# data folder included. (A copy installed for the built-for prefix would be
# found instead, so the step is left out on such a machine.)
if(NOT EXISTS ${BUILT_FOR_DATADIR}/ChipLoad.uir)
  file(REMOVE ${root}/share/chipload/ChipLoad.uir)
  execute_process(COMMAND ${root}/bin/chipload --headless RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
  if(rc EQUAL 0)
    fail("chipload started without its panel file: ${out}${err}")
  endif()
  set(nopanel_out "${err}")
  expect_in(nopanel "${root}/share/chipload/ChipLoad.uir")
endif()

find_program(MAN man)
if(MAN)
  run(man 0 ${MAN} -M ${root}/share/man -w chipload)
  expect_in(man "${root}/share/man/man1/chipload.1")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
