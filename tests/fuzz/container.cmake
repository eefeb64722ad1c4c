# Applet container reader over arbitrary bytes; seeds are containers made by lvlink.
# The normal test tree reads every tests/*/*.cmake too, where no fuzzer can be built.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(container_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/container_fuzz.cpp
    LIBS lv_runtime lv_libs
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/container_corpus)
endif()
