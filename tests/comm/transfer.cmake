# The HTTP client of DownloadFile: URLs, the reply head over a fake adapter connection,
# and whole transfers against canned servers on 127.0.0.1 that the test starts.
lv_add_test(comm_transfer_engine_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_engine_test.cpp
  LIBS lv_comm lv_runtime
  LABELS comm threads)
