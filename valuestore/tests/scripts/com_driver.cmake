# Runs one step of the script tests of ValtroveCtrl.ocx under Wine (cmake -P):
#   -DMODE=register    regsvr32 the library, then check the registry (Registered.*)
#   -DMODE=unregister  regsvr32 /u the library, then check that nothing is left (Unregistered.*)
#   -DMODE=script      run one .vbs/.js with cscript on a fresh scratch folder
#   -DMODE=check       run the check program with -DFILTER (tests that need the registration)
# Inputs: WINE, HOST_WINE (the loader that starts the system's hosts of this library's
# architecture), WINEPATH (winepath), OCX, CHECK (the registry check program), HELPER (the script
# tests' helper program), SCRIPT, WORK; for a script, optionally LOCALE (its LC_ALL: Wine takes the
# ANSI code page of a process from its locale) and SCRIPT_ARGUMENT.
# A script gets its scratch folder, the helper program and SCRIPT_ARGUMENT as arguments. The script
# hosts exit 0 silently on an unhandled script error, so a script passes only with exit code 0 AND
# the marker line VALTROVE-SCRIPT-OK printed last.
cmake_minimum_required(VERSION 3.25)

function(windows_path unix_path out)
  execute_process(COMMAND ${WINEPATH} -w ${unix_path} OUTPUT_VARIABLE converted RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT rc EQUAL 0 OR converted STREQUAL "")
    message(FATAL_ERROR "winepath failed for ${unix_path}")
  endif()
  set(${out} "${converted}" PARENT_SCOPE)
endfunction()

function(run_checked what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 240)
  message("${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (exit ${rc}): ${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "register" OR MODE STREQUAL "unregister")
  windows_path(${OCX} ocx)
  if(MODE STREQUAL "register")
    run_checked("regsvr32" ${HOST_WINE} regsvr32 /s ${ocx})
    run_checked("registry check" ${WINE} ${CHECK} --gtest_filter=Registered.*)
  else()
    run_checked("regsvr32 /u" ${HOST_WINE} regsvr32 /u /s ${ocx})
    run_checked("registry check" ${WINE} ${CHECK} --gtest_filter=Unregistered.*)
  endif()
  # A run that tested nothing (a program that did not start) prints no PASSED line.
  if(NOT last_output MATCHES "\\[  PASSED  \\] [1-9]")
    message(FATAL_ERROR "the registry check ran no test")
  endif()
elseif(MODE STREQUAL "check")
  run_checked("check ${FILTER}" ${WINE} ${CHECK} --gtest_filter=${FILTER})
  if(NOT last_output MATCHES "\\[  PASSED  \\] [1-9]")
    message(FATAL_ERROR "the check ran no test")
  endif()
elseif(MODE STREQUAL "script")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  windows_path(${SCRIPT} script)
  windows_path(${WORK} work)
  windows_path(${HELPER} helper)
  if(LOCALE)
    set(ENV{LC_ALL} ${LOCALE})
  endif()
  run_checked("cscript ${SCRIPT}" ${HOST_WINE} cscript //nologo ${script} ${work} ${helper} ${SCRIPT_ARGUMENT})
  string(STRIP "${last_output}" output)
  string(REGEX REPLACE "\r" "" output "${output}")
  if(NOT output MATCHES "(^|\n)VALTROVE-SCRIPT-OK$")
    message(FATAL_ERROR "${SCRIPT} did not finish: no VALTROVE-SCRIPT-OK line at the end")
  endif()
else()
  message(FATAL_ERROR "unknown MODE '${MODE}'")
endif()
