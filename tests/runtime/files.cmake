# Virtual file layer, virtual directories, platform files, packed streams, options.
lv_add_test(runtime_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/files_vfile_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/files_platform_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/files_packed_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/files_config_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/files_fixture.cpp
  LIBS lv_runtime ZLIB::ZLIB
  LABELS runtime parse)
