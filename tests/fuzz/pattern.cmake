# Patterns, expressions and format texts come from scripts: the engines must
# fail with an error code, never read out of bounds.
lv_add_fuzzer(pattern_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/pattern_fuzz.cpp LIBS lv_libs
              CORPUS ${CMAKE_CURRENT_LIST_DIR}/pattern_corpus)
