# The dos library's commands, called through their globals: files, directories,
# copying, moving and deleting, paths and checksums; external programs and the
# directory monitor (threaded).
find_package(ZLIB REQUIRED)
lv_add_test(libs_dos_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/strlib_harness.cpp
          ${CMAKE_CURRENT_LIST_DIR}/dos_files_test.cpp
  LIBS lv_libs lv_asm ZLIB::ZLIB
  LABELS libs vm threads)
lv_add_test(libs_dos_programs_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/strlib_harness.cpp
          ${CMAKE_CURRENT_LIST_DIR}/dos_programs_test.cpp
  LIBS lv_libs lv_ui lv_asm
  LABELS libs vm threads)
# The engines behind the dos commands, called from C++ without the script machine.
lv_add_test(libs_dos_engines_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dos_engines_test.cpp
  LIBS lv_libs ZLIB::ZLIB
  LABELS libs)
