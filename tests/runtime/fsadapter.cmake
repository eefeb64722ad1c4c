# Filesystem adapters: the dos commands and the copy, move and delete walkers hand their
# work to the "memfsys" test plug-in (built by plugins.cmake) when its adapter list names it.
lv_add_test(dos_fsadapter_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/libs/strlib_harness.cpp
          ${CMAKE_CURRENT_LIST_DIR}/dos_fsadapter_test.cpp
  LIBS lv_libs lv_asm
  LABELS libs runtime)
target_compile_definitions(dos_fsadapter_test PRIVATE LV_TESTPLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")
add_dependencies(dos_fsadapter_test testplugin_memfsys)
