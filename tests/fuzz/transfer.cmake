# What a web server or a script hands the HTTP client: the reply head, a chunked body,
# URLs and %-escapes. Every input ends in a result or an error code, never in memory
# reserved ahead of the bytes, a crash or a hang.
lv_add_fuzzer(transfer_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_fuzz.cpp LIBS lv_comm lv_runtime
              CORPUS ${CMAKE_CURRENT_LIST_DIR}/transfer_corpus)
