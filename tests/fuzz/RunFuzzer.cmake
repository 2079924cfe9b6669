# A short fuzz run: fresh working corpus seeded from the checked-in seeds, bounded in time.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(dirs ${WORK})
if(EXISTS ${SEEDS})
  list(APPEND dirs ${SEEDS})
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=20 -timeout=10 -rss_limit_mb=2048
                        -print_final_stats=1 ${dirs}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} failed with ${result}")
endif()
