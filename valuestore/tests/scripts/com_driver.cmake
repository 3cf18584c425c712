# Runs one step of the script tests of ValtroveCtrl.ocx under Wine (cmake -P):
#   -DMODE=register      regsvr32 the library, then check the registry (Registered.*)
#   -DMODE=unregister    regsvr32 /u the library, then check that nothing is left (Unregistered.*)
#   -DMODE=script        run one .vbs/.js with cscript on a fresh scratch folder
#   -DMODE=check         run the check program with -DFILTER (tests that need the registration)
#   -DMODE=side-by-side  the x64 and the x86 library registered and unregistered side by side
# Inputs: WINE (the loader of this build's programs), HOST_WINE and HOST_DIR (the loader and the
# system folder, system32 or syswow64, of the hosts of this library's architecture), WINEPATH
# (winepath), OCX, CHECK (the registry check program), HELPER (the script tests' helper program),
# SCRIPT, WORK; for a script, optionally LOCALE (its LC_ALL: Wine takes the ANSI code page of a
# process from its locale) and SCRIPT_ARGUMENT; for side-by-side OCX_X86, OCX_X64, WINE_X86,
# WINE_X64 and WORK.
# A script gets its scratch folder, the helper program and SCRIPT_ARGUMENT as arguments.
# A run passes only on the marker its program prints: the script hosts exit 0 silently on an
# unhandled script error, so a script passes only with exit code 0 AND the marker line
# VALTROVE-SCRIPT-OK printed last; the check program must print GoogleTest's PASSED line. (Under a
# Wine without its 32-bit side, a 32-bit program prints nothing and exits 0.)
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
  string(REPLACE "\r" "" out "${out}")
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

# A check program run that tested nothing (a program that did not start) prints no PASSED line.
function(require_passed what)
  if(NOT last_output MATCHES "\\[  PASSED  \\] [1-9]")
    message(FATAL_ERROR "${what} ran no test: no PASSED line (the program did not run)")
  endif()
endfunction()

if(MODE STREQUAL "register" OR MODE STREQUAL "unregister")
  windows_path(${OCX} ocx)
  set(regsvr32 "C:\\windows\\${HOST_DIR}\\regsvr32.exe")
  if(MODE STREQUAL "register")
    run_checked("regsvr32" ${HOST_WINE} ${regsvr32} /s ${ocx})
    run_checked("registry check" ${WINE} ${CHECK} --gtest_filter=Registered.*)
  else()
    run_checked("regsvr32 /u" ${HOST_WINE} ${regsvr32} /u /s ${ocx})
    run_checked("registry check" ${WINE} ${CHECK} --gtest_filter=Unregistered.*)
  endif()
  require_passed("the registry check")
elseif(MODE STREQUAL "check")
  run_checked("check ${FILTER}" ${WINE} ${CHECK} --gtest_filter=${FILTER})
  require_passed("the check")
elseif(MODE STREQUAL "script")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  windows_path(${SCRIPT} script)
  windows_path(${WORK} work)
  windows_path(${HELPER} helper)
  if(LOCALE)
    set(ENV{LC_ALL} ${LOCALE})
  endif()
  run_checked("cscript ${SCRIPT}" ${HOST_WINE} "C:\\windows\\${HOST_DIR}\\cscript.exe" //nologo ${script} ${work} ${helper}
    ${SCRIPT_ARGUMENT})
  string(STRIP "${last_output}" output)
  if(NOT output MATCHES "(^|\n)VALTROVE-SCRIPT-OK$")
    message(FATAL_ERROR "${SCRIPT} did not finish: no VALTROVE-SCRIPT-OK line at the end")
  endif()
elseif(MODE STREQUAL "side-by-side")
  # As on 64-bit Windows: the x64 library in the 64-bit registry view, the x86 library in the 32-bit
  # view (Wow6432Node). CLSID and Interface keys are per view; the ProgID and TypeLib keys are one
  # key seen from both views (Wine 8 redirects the same keys as Windows). Each step reads both
  # views with reg.exe (/reg:32, /reg:64) and creates the control by ProgID from the 32-bit and the
  # 64-bit script host.
  set(clsid "{0C6404B8-48C5-4494-8608-C606118CB0DA}")
  set(libid "{F68C528B-64A3-436B-8EB5-6ADFCAFC4C65}")
  set(interfaces "{09D0D1E1-0E46-4FB8-8275-B3B05B79A4EE}" "{25AF3E82-2151-42BD-9B80-5CA0E796B45E}"
                 "{62AFD228-940A-4A1A-B2D8-303F965E06FB}")
  set(view_X86 32)
  set(view_X64 64)
  set(platform_X86 win32)
  set(platform_X64 win64)
  set(system_X86 syswow64)
  set(system_X64 system32)
  foreach(arch X86 X64)
    if(NOT EXISTS "${OCX_${arch}}")
      message(FATAL_ERROR "${OCX_${arch}} is missing: build the win64 and win32 presets first")
    endif()
    windows_path(${OCX_${arch}} library_${arch})
    string(TOLOWER "${library_${arch}}" path_${arch})
  endforeach()
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  file(WRITE ${WORK}/create.js [=[
try {
  var control = new ActiveXObject("ValtroveCTL.Valtrove");
  WScript.Echo("CREATED " + control.DataFile);
} catch (e) {
  WScript.Echo("NOT-CREATED " + (e.number >>> 0).toString(16));
}
WScript.Quit(0);
]=])
  windows_path(${WORK}/create.js create_js)
  set(failures 0)

  function(expect what actual expected)
    if(actual STREQUAL expected)
      message("ok: ${what}")
    else()
      message("FAIL: ${what}\n  expected: [${expected}]\n  actual:   [${actual}]")
      math(EXPR failures "${failures} + 1")
      set(failures ${failures} PARENT_SCOPE)
    endif()
  endfunction()

  # query(KEY VIEW): reg query /s of KEY in the 32- or 64-bit view, by the reg.exe of that view's
  # architecture (Wine 8's 64-bit reg.exe with /reg:32 does not see the keys shared by both views,
  # such as the ProgID); sets found (1 when the key is there, 0 when reg says it is not) and text
  # (the output, lower case, without CR).
  function(query key view)
    if(view EQUAL 32)
      set(arch X86)
    else()
      set(arch X64)
    endif()
    execute_process(COMMAND ${WINE_${arch}} "C:\\windows\\${system_${arch}}\\reg.exe" query "HKCR\\${key}" /s /reg:${view}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
    string(REPLACE "\r" "" out "${out}${err}")
    string(TOLOWER "${out}" out)
    if(rc EQUAL 0 AND out MATCHES "hkey_classes_root")
      set(found 1 PARENT_SCOPE)
    elseif(rc EQUAL 1 AND out MATCHES "unable to find")
      set(found 0 PARENT_SCOPE)
    else()
      message(FATAL_ERROR "reg query HKCR\\${key} /reg:${view}: no answer (exit ${rc}): ${out}")
    endif()
    set(text "${out}" PARENT_SCOPE)
  endfunction()

  # The default value of KEY in the last query's text ("<none>" when absent).
  function(default_of key out_var)
    string(TOLOWER "hkey_classes_root\\${key}\n" header)
    string(FIND "${text}" "${header}" at)
    set(value "<none>")
    if(at GREATER -1)
      string(LENGTH "${header}" length)
      math(EXPR at "${at} + ${length}")
      string(SUBSTRING "${text}" ${at} -1 rest)
      if(rest MATCHES "^ +\\(default\\) +reg_sz +([^\n]*)")
        set(value "${CMAKE_MATCH_1}")
      endif()
    endif()
    set(${out_var} "${value}" PARENT_SCOPE)
  endfunction()

  # expect_key(STEP WHAT KEY VIEW PRESENT VALUE_KEY EXPECTED): KEY in VIEW; when PRESENT, the default
  # value of VALUE_KEY (KEY or a key below it) must be EXPECTED, otherwise KEY must be absent.
  function(expect_key step what key view present value_key expected)
    query("${key}" ${view})
    if(present)
      default_of("${value_key}" value)
      expect("${step}: ${what}" "${value}" "${expected}")
    else()
      expect("${step}: no ${what}" ${found} 0)
    endif()
    set(failures ${failures} PARENT_SCOPE)
  endfunction()

  # expect_view(ARCH REGISTERED): the class, its interfaces and its type library entry in ARCH's
  # view: all naming ARCH's library when REGISTERED, none of them otherwise.
  function(expect_view step arch registered)
    set(view ${view_${arch}})
    set(path "${path_${arch}}")
    string(TOLOWER "${clsid}" lclsid)
    string(TOLOWER "${libid}" llibid)
    query("CLSID\\${clsid}" ${view})
    if(registered)
      expect("${step}: ${view}-bit view has the class" ${found} 1)
      default_of("CLSID\\${clsid}\\InprocServer32" value)
      expect("${step}: ${view}-bit InprocServer32" "${value}" "${path}")
      default_of("CLSID\\${clsid}\\ToolboxBitmap32" value)
      expect("${step}: ${view}-bit ToolboxBitmap32" "${value}" "${path}, 30000")
      default_of("CLSID\\${clsid}\\MiscStatus\\1" value)
      expect("${step}: ${view}-bit MiscStatus" "${value}" "132497")
      default_of("CLSID\\${clsid}\\TypeLib" value)
      expect("${step}: ${view}-bit class names the type library" "${value}" "${llibid}")
      string(FIND "${text}" "hkey_classes_root\\clsid\\${lclsid}\\control\n" at)
      set(control present)
      if(at EQUAL -1)
        set(control "<none>")
      endif()
      expect("${step}: ${view}-bit Control key" "${control}" present)
    else()
      expect("${step}: ${view}-bit view has no class" ${found} 0)
    endif()
    foreach(iid IN LISTS interfaces)
      expect_key("${step}" "${view}-bit interface ${iid}" "Interface\\${iid}" ${view} ${registered}
                 "Interface\\${iid}\\TypeLib" "${llibid}")
    endforeach()
    # The type library key is shared; each library has its own platform entry under it.
    set(entry "TypeLib\\${libid}\\67.0\\0\\${platform_${arch}}")
    expect_key("${step}" "type library ${platform_${arch}} entry" "${entry}" ${view} ${registered} "${entry}" "${path}")
    set(failures ${failures} PARENT_SCOPE)
  endfunction()

  # expect_progid(STEP PRESENT): the ProgID, one key seen alike from both views.
  function(expect_progid step present)
    string(TOLOWER "${clsid}" lclsid)
    foreach(view 32 64)
      expect_key("${step}" "ProgID in the ${view}-bit view" "ValtroveCTL.Valtrove" ${view} ${present}
                 "ValtroveCTL.Valtrove\\CLSID" "${lclsid}")
    endforeach()
    set(failures ${failures} PARENT_SCOPE)
  endfunction()

  # expect_created(STEP ARCH CREATED): ARCH's cscript creates the control by ProgID, or fails with
  # JScript's "Automation server can't create object" (800a01ad). The script prints one of the two
  # lines as its marker.
  function(expect_created step arch created)
    execute_process(COMMAND ${WINE_${arch}} "C:\\windows\\${system_${arch}}\\cscript.exe" //nologo ${create_js}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
    string(REPLACE "\r" "" out "${out}")
    if(NOT out MATCHES "(^|\n)(CREATED|NOT-CREATED) ([^\n]*)")
      message(FATAL_ERROR "${step}: the ${view_${arch}}-bit cscript printed neither CREATED nor NOT-CREATED "
                          "(exit ${rc}): the host did not run. ${out}${err}")
    endif()
    set(result "${CMAKE_MATCH_2} ${CMAKE_MATCH_3}")
    if(created)
      expect("${step}: the ${view_${arch}}-bit host creates the control by ProgID" "${result}" "CREATED *.txt")
    else()
      expect("${step}: the ${view_${arch}}-bit host cannot create the control" "${result}" "NOT-CREATED 800a01ad")
    endif()
    set(failures ${failures} PARENT_SCOPE)
  endfunction()

  function(regsvr32 arch)
    run_checked("regsvr32 ${ARGN} (${arch})" ${WINE_${arch}} "C:\\windows\\${system_${arch}}\\regsvr32.exe" /s
                ${ARGN} "${library_${arch}}")
  endfunction()

  # expect_state(STEP X86 X64): both views, the ProgID and both hosts after a step that leaves the x86
  # and the x64 library registered (1) or not (0).
  function(expect_state step x86 x64)
    expect_view("${step}" X86 ${x86})
    expect_view("${step}" X64 ${x64})
    if(x86 OR x64)
      expect_progid("${step}" 1)
    else()
      expect_progid("${step}" 0)
      query("TypeLib\\${libid}" 64)
      expect("${step}: no type library key" ${found} 0)
    endif()
    expect_created("${step}" X86 ${x86})
    expect_created("${step}" X64 ${x64})
    set(failures ${failures} PARENT_SCOPE)
  endfunction()

  expect_state("before" 0 0)
  regsvr32(X64)
  expect_state("x64 registered" 0 1)
  regsvr32(X86)
  expect_state("both registered" 1 1)
  regsvr32(X64 /u)
  expect_state("x64 unregistered, x86 left" 1 0)
  regsvr32(X64)
  expect_state("x64 registered again" 1 1)
  regsvr32(X86 /u)
  expect_state("x86 unregistered, x64 left" 0 1)
  regsvr32(X64 /u)
  expect_state("both unregistered" 0 0)
  if(failures GREATER 0)
    message(FATAL_ERROR "${failures} check(s) failed")
  endif()
  message("all checks passed")
else()
  message(FATAL_ERROR "unknown MODE '${MODE}'")
endif()
