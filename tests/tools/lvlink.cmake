# lvlink: containers it writes are read back by the runtime's reader; executables it
# links report their appended applet. Also exercises lv_make_applet/lv_link_executable.
add_executable(marker_probe ${CMAKE_CURRENT_LIST_DIR}/marker_probe.cpp)
target_link_libraries(marker_probe PRIVATE lv_runtime)

# A chunk and its label map from lvasm, made into an applet and a linked program at
# build time: the whole road of docs/applets.md.
set(lvlink_fixture ${CMAKE_BINARY_DIR}/tests/lvlink_fixture)
lv_assemble(OUTPUT ${lvlink_fixture}/demo.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/lvlink_demo.lvs
  LABELS ${lvlink_fixture}/demo.labels)
lv_make_applet(OUTPUT ${lvlink_fixture}/demo.lva CHUNK ${lvlink_fixture}/demo.lvc
  LABELS ${lvlink_fixture}/demo.labels PACK ARGS --title "Built by CMake")
lv_link_executable(OUTPUT ${lvlink_fixture}/demo_linked RUNTIME marker_probe
  APPLET ${lvlink_fixture}/demo.lva VERSION_LINE "$VER: demo 1.0")

lv_add_test(lvlink_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/lvlink_test.cpp
  LIBS lv_runtime ZLIB::ZLIB
  LABELS parse)
target_compile_definitions(lvlink_test PRIVATE LV_LINK_FIXTURE="${lvlink_fixture}")
add_dependencies(lvlink_test lvlink marker_probe applet_demo linked_demo_linked)
