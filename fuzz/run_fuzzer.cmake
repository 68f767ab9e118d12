# One bounded fuzzing session of one harness, then a replay of everything it
# kept. Run by the fuzz-run targets:
#   cmake -DNAME=.. -DFUZZER=.. -DREPLAY=.. -DWORK_DIR=.. -DSEEDS=..
#         -DSECONDS=.. -DTIMEOUT=.. -DRSS_MB=.. -P run_fuzzer.cmake
# Fails (non-zero exit) on any crash, sanitizer report, leak, hang or memory
# blow-up. libFuzzer's chatter goes to WORK_DIR/fuzz.log; its tail is shown.

foreach(var NAME FUZZER REPLAY WORK_DIR SEEDS SECONDS TIMEOUT RSS_MB)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "run_fuzzer.cmake: ${var} is not set")
  endif()
endforeach()

set(corpus ${WORK_DIR}/corpus)
set(artifacts ${WORK_DIR}/artifacts)
set(log ${WORK_DIR}/fuzz.log)
file(MAKE_DIRECTORY ${corpus} ${artifacts})
# Findings of an earlier session must not be mistaken for this one's.
file(GLOB stale ${artifacts}/*)
if(stale)
  file(REMOVE ${stale})
endif()

set(inputs ${corpus})
set(seed_files)
if(IS_DIRECTORY ${SEEDS})
  file(GLOB_RECURSE seed_files ${SEEDS}/*)
endif()
if(seed_files)
  list(APPEND inputs ${SEEDS})
else()
  message(WARNING "${NAME}: no seed inputs in ${SEEDS}")
endif()

# Log lines hold brackets and semicolons, which CMake lists cannot carry.
function(show_tail file lines)
  execute_process(COMMAND tail -n ${lines} ${file})
endfunction()

message(STATUS "${NAME}: fuzzing for ${SECONDS} s (log: ${log})")
execute_process(
  COMMAND ${FUZZER}
    -max_total_time=${SECONDS}
    -timeout=${TIMEOUT}
    -rss_limit_mb=${RSS_MB}
    -artifact_prefix=${artifacts}/
    -print_final_stats=1
    ${inputs}
  RESULT_VARIABLE result
  OUTPUT_FILE ${log}
  ERROR_FILE ${log})
if(NOT result EQUAL 0)
  show_tail(${log} 80)
  file(GLOB found ${artifacts}/*)
  message(FATAL_ERROR "${NAME}: libFuzzer stopped with '${result}'. Input(s): ${found}\n"
                      "Reproduce with: ${REPLAY} <input>")
endif()
show_tail(${log} 14)

# Everything kept, seeds included, once more through the plain program: it
# proves the replay build works and re-checks the corpus of earlier sessions.
execute_process(
  COMMAND ${REPLAY} ${inputs}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NAME}: replay of the corpus failed with '${result}'")
endif()
message(STATUS "${NAME}: no finding")
