# The test lanes of a Windows build, each a CTest test with a label of its own:
#   ctest --test-dir build/mingw -N --print-labels    ctest --test-dir build/mingw -L e2e
# tests/lane.sh runs each one and keeps its log in IPSETTER_LANE_LOGS/NAME.log. A gcov build has
# none: scripts/coverage.sh runs the lanes on it itself.
if(IPSETTER_COVERAGE)
  return()
endif()
set(IPSETTER_LANE_LOGS ${CMAKE_SOURCE_DIR}/build/logs CACHE PATH "Where each test lane writes its log")
set(lane_script ${CMAKE_SOURCE_DIR}/tests/lane.sh)
set(lanes_here "")

# ipsetter_lane(NAME SECONDS [NEEDS root|netns] [PROCESSORS 2] LABELS ... [LOCKS ...] [ENV ...]
#               COMMAND ...)
# SECONDS bounds the lane itself; CTest's bound comes 30 s later, after the lane's own clean-up.
# With ctest -j2 the lanes that keep the machine busy hold the lock "cpu", so that one of them runs
# at a time, beside the time-out lane, which mostly waits (as the e2e lanes always ran); a lane that
# runs two things at once takes both processors.
function(ipsetter_lane name seconds)
  cmake_parse_arguments(PARSE_ARGV 2 lane "" "NEEDS;PROCESSORS" "LABELS;LOCKS;ENV;COMMAND")
  if(NOT lane_NEEDS)
    set(lane_NEEDS any)
  endif()
  add_test(NAME ${name} COMMAND bash ${lane_script} ${IPSETTER_LANE_LOGS}/${name}.log ${seconds} ${lane_NEEDS}
                                ${lane_COMMAND})
  math(EXPR bound "${seconds} + 30")
  set_tests_properties(${name} PROPERTIES LABELS "${lane_LABELS}" TIMEOUT ${bound} SKIP_RETURN_CODE 77
                                          ENVIRONMENT "${lane_ENV}")
  if(lane_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${lane_LOCKS}")
  endif()
  if(lane_PROCESSORS)
    set_tests_properties(${name} PROPERTIES PROCESSORS ${lane_PROCESSORS})
  endif()
  set(lanes_here ${lanes_here} ${name} PARENT_SCOPE)
endfunction()

set_property(DIRECTORY ${CMAKE_SOURCE_DIR}/src/win32 APPEND PROPERTY LABELS pictures)

set(tree ${CMAKE_BINARY_DIR})
set(src ${CMAKE_SOURCE_DIR})
set(e2e bash ${src}/scripts/e2e.sh --no-build)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86|i[3-6]86)$")
  # The 32-bit build: its window checks and program file, and its real exe in a 64-bit prefix
  # (WOW64), where the keyboard exists only as the x64 tree's stand-in in the 64-bit System32, as on
  # Windows; and in a 32-bit prefix that says it is Windows 7, with one Apply that falls back to DHCP.
  set(IPSETTER_X64_BUILD ${CMAKE_SOURCE_DIR}/build/mingw CACHE PATH "The x64 build, for its stand-in osk.exe")
  ipsetter_lane(x86-window 400 LABELS x86 window LOCKS cpu
                COMMAND bash ${src}/src/win32/tools/check.sh ${tree})
  ipsetter_lane(x86-program-file 300 LABELS x86 program-file LOCKS cpu
                COMMAND bash ${src}/tests/program_file/run.sh ${tree})
  ipsetter_lane(x86-e2e-wow64 400 NEEDS netns LABELS x86 e2e LOCKS cpu ENV E2E_BUILD=${tree}
                COMMAND ${e2e} --lanes real --osk ${IPSETTER_X64_BUILD}/tests/e2e/osk.exe)
  ipsetter_lane(x86-e2e-win32 600 NEEDS netns LABELS x86 e2e LOCKS cpu ENV E2E_BUILD=${tree} E2E_ONLY=mask-66
                COMMAND ${e2e} --lanes real,sim --wine-arch win32 --windows-version win7)
  return()
endif()

# program-file and release share the prefix of the program-file checks (release runs them on the
# signed exe). Release builds twice at once, the rig runs its two lanes at once.
ipsetter_lane(window 400 LABELS window LOCKS cpu COMMAND bash ${src}/src/win32/tools/check.sh ${tree})
ipsetter_lane(program-file 300 LABELS program-file LOCKS cpu program-file-prefix
              COMMAND bash ${src}/tests/program_file/run.sh ${tree})
ipsetter_lane(release 600 NEEDS netns PROCESSORS 2 LABELS release LOCKS program-file-prefix
              COMMAND bash ${src}/tests/release/run.sh ${tree})
ipsetter_lane(wmi 300 LABELS wmi LOCKS cpu ENV WMI_CHECK_DIR=${tree}/wmi-check
              COMMAND bash ${src}/tests/wmi/run.sh ${tree}/tests/wmi/wmi_check.exe)
ipsetter_lane(e2e-sim 600 LABELS e2e LOCKS cpu ENV E2E_BUILD=${tree} COMMAND ${e2e} --lanes sim)
ipsetter_lane(e2e-timeout 400 LABELS e2e ENV E2E_BUILD=${tree} COMMAND ${e2e} --lanes timeout)
ipsetter_lane(e2e-real 400 NEEDS netns LABELS e2e LOCKS cpu ENV E2E_BUILD=${tree} COMMAND ${e2e} --lanes real)
ipsetter_lane(netrig 900 NEEDS netns PROCESSORS 2 LABELS netrig COMMAND bash ${src}/tests/netrig/run.sh ${tree})
# On a first run, when CTest knows no lane's time yet: the time-out lane first, beside the others.
set_tests_properties(e2e-timeout PROPERTIES COST 1000)

# Coverage builds trees of its own and runs every lane again: after the others, alone.
set(others ${lanes_here})
ipsetter_lane(coverage 2400 NEEDS root PROCESSORS 2 LABELS coverage COMMAND bash ${src}/scripts/coverage.sh)
set_tests_properties(coverage PROPERTIES RUN_SERIAL ON DEPENDS "${others}")
