# Readers of outside input of the serialize and locale libraries: table and function
# images and preferences, JSON text, catalogs. The normal test tree reads every
# tests/*/*.cmake too, where no fuzzer can be built.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(core4_serialize_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_serialize_fuzz.cpp LIBS lv_libs
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/core4_serialize_corpus)
  lv_add_fuzzer(core4_json_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_json_fuzz.cpp LIBS lv_libs
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/core4_json_corpus)
  lv_add_fuzzer(core4_catalog_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_catalog_fuzz.cpp LIBS lv_libs
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/core4_catalog_corpus)
endif()
