# The HTTP client of DownloadFile: URLs, the reply head over a fake adapter connection,
# and whole transfers against canned servers on 127.0.0.1 that the test starts.
lv_add_test(comm_transfer_engine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_engine_test.cpp
  LIBS lv_comm lv_runtime
  LABELS comm threads)

# A runtime process downloading from `python3 -m http.server` on 127.0.0.1.
set(out ${CMAKE_BINARY_DIR}/tests/comm/transfer_fixtures/download)
lv_assemble(OUTPUT ${out}.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/transfer_fixtures/download.lvs
            LABELS ${out}.labels)
lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
               ARGS --title "Transfer download" TARGET applet_transfer_download)
set(out ${CMAKE_BINARY_DIR}/tests/comm/transfer_fixtures/ftp)
lv_assemble(OUTPUT ${out}.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/transfer_fixtures/ftp.lvs
            LABELS ${out}.labels)
lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels
               ARGS --title "Transfer FTP" TARGET applet_transfer_ftp)
lv_add_test(comm_transfer_applets_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_applets_test.cpp
  LABELS comm threads)
add_dependencies(comm_transfer_applets_test lumivarra applet_transfer_download applet_transfer_ftp)
target_compile_definitions(comm_transfer_applets_test PRIVATE LV_FTPD_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/transfer_fixtures/ftpd.py")

lv_add_test(comm_transfer_commands_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_commands_test.cpp
          ${CMAKE_SOURCE_DIR}/tests/runtime/rtcmds_util.cpp
  LIBS lv_comm lv_runtime lv_vm lv_asm
  LABELS comm threads)

# The FTP client against a canned server thread on 127.0.0.1.
lv_add_test(comm_ftp_engine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ftp_engine_test.cpp
  LIBS lv_comm lv_runtime
  LABELS comm threads)
target_compile_definitions(comm_transfer_commands_test PRIVATE LV_TESTPLUGIN_DIR="${CMAKE_BINARY_DIR}/testplugins")
add_dependencies(comm_transfer_commands_test testplugin_netadapter)
