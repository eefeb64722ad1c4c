lv_add_test(comm_serial_engine_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_engine_test.cpp LIBS lv_comm LABELS comm)
lv_add_test(comm_serial_socat_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_socat_test.cpp LIBS lv_comm LABELS comm threads)
