# Serialised tables and functions, the JSON serializer, preferences, catalogs,
# language tables and the emulated registry.
lv_add_test(libs_serialize_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_serialize_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/core4_support.cpp LIBS lv_libs lv_asm LABELS libs parse vm)
lv_add_test(libs_json_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_json_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/core4_support.cpp LIBS lv_libs lv_asm LABELS libs parse vm)
lv_add_test(libs_prefs_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_prefs_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/core4_support.cpp LIBS lv_libs LABELS libs parse)
lv_add_test(libs_locale_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_locale_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/core4_support.cpp LIBS lv_libs LABELS libs parse)
lv_add_test(libs_registry_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_registry_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/core4_support.cpp LIBS lv_libs LABELS libs platform)
lv_add_test(libs_core4_commands_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/core4_commands_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/core4_support.cpp LIBS lv_libs lv_asm LABELS libs vm)
