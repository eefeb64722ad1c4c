# The serial library's commands: argument checks and a pseudo-terminal port through
# assembled chunks; and two runtime processes running the applets of serialcmd_fixtures/
# (assembled and made into containers by the build) over a socat pair, skipped without
# socat.
lv_add_test(comm_serialcmd_commands_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serialcmd_commands_test.cpp
          ${CMAKE_SOURCE_DIR}/tests/runtime/rtcmds_util.cpp
  LIBS lv_comm lv_runtime lv_vm lv_asm
  LABELS comm)

set(LV_SERIALCMD_APPLETS "")
foreach(stem sender receiver blocked_read blocked_write)
  set(out ${CMAKE_BINARY_DIR}/tests/comm/serialcmd_fixtures/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/serialcmd_fixtures/${stem}.lvs
              LABELS ${out}.labels)
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
                 ARGS --title "Serial ${stem}" TARGET applet_serialcmd_${stem})
  list(APPEND LV_SERIALCMD_APPLETS applet_serialcmd_${stem})
endforeach()
lv_add_test(comm_serialcmd_applets_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serialcmd_applets_test.cpp
  LABELS comm threads)
add_dependencies(comm_serialcmd_applets_test lumivarra ${LV_SERIALCMD_APPLETS})
