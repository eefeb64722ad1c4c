# Each input is a handful of path commands: two seconds is a hang (an angle loop that
# stops changing a huge angle shows as one).
# Only the fuzz tree defines lv_add_fuzzer; the normal tree also reads this folder.
if(COMMAND lv_add_fuzzer)
  lv_add_fuzzer(vectorpath_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/vectorpath_fuzz.cpp LIBS lv_text lv_images
                CORPUS ${CMAKE_CURRENT_LIST_DIR}/vectorpath_corpus
                TIMEOUT 2)
endif()
