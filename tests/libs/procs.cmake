# Engines of external programs, the directory monitor and the file operations.
lv_add_test(libs_procs_process_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/procs_process_test.cpp LIBS lv_libs LABELS libs threads)
lv_add_test(libs_procs_dirmonitor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/procs_dirmonitor_test.cpp LIBS lv_libs LABELS libs threads)
lv_add_test(libs_procs_fileops_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/procs_fileops_test.cpp LIBS lv_libs LABELS libs)
lv_add_test(libs_procs_pattern_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/procs_pattern_test.cpp LIBS lv_libs LABELS libs parse)
