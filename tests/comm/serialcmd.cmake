# The serial library's commands: argument checks and a pseudo-terminal port through
# assembled chunks, and two runtime processes running the applets of serialcmd_fixtures/
# over a socat pair (skipped without socat).
lv_add_test(comm_serialcmd_commands_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serialcmd_commands_test.cpp
          ${CMAKE_SOURCE_DIR}/tests/runtime/rtcmds_util.cpp
  LIBS lv_comm lv_runtime lv_vm lv_asm
  LABELS comm)
lv_add_test(comm_serialcmd_applets_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serialcmd_applets_test.cpp
  LIBS lv_asm
  LABELS comm threads)
add_dependencies(comm_serialcmd_applets_test lumivarra lvlink)
