# The network engine against loopback peers the tests start (no name query leaves the
# machine: other names come from the resolver seam).
lv_add_test(comm_network_engine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/network_engine_test.cpp
  LIBS lv_comm lv_runtime
  LABELS comm threads)
lv_add_test(comm_network_events_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/network_events_test.cpp
  LIBS lv_comm lv_ui lv_runtime
  LABELS comm threads)

# Runtime processes running the applets of network_fixtures/ (assembled and made into
# containers by the build).
set(LV_NETWORK_APPLETS "")
foreach(stem server client blocker udpcount)
  set(out ${CMAKE_BINARY_DIR}/tests/comm/network_fixtures/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/network_fixtures/${stem}.lvs
              LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 ARGS --title "Network ${stem}" TARGET applet_network_${stem})
  list(APPEND LV_NETWORK_APPLETS applet_network_${stem})
endforeach()
lv_add_test(comm_network_applets_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/network_applets_test.cpp
  LABELS comm threads)
add_dependencies(comm_network_applets_test lumivarra ${LV_NETWORK_APPLETS})
lv_add_test(comm_network_commands_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/network_commands_test.cpp
          ${CMAKE_SOURCE_DIR}/tests/runtime/rtcmds_util.cpp
  LIBS lv_comm lv_runtime lv_vm lv_asm
  LABELS comm)
target_compile_definitions(comm_network_commands_test PRIVATE LV_TESTPLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")
add_dependencies(comm_network_commands_test testplugin_netadapter)
