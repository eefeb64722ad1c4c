# Bytes from a network peer: the receive engine's modes and destinations must keep
# every byte in order and never write past a fixed block, whatever the pieces are.
lv_add_fuzzer(network_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/network_fuzz.cpp LIBS lv_comm lv_runtime
              CORPUS ${CMAKE_CURRENT_LIST_DIR}/network_corpus)
