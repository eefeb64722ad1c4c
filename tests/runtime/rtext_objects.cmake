# The object registry and the async operations that are its type 61.
lv_add_test(rtext_objects_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtext_objects_test.cpp ${CMAKE_CURRENT_LIST_DIR}/asyncop_test.cpp
  LIBS lv_runtime LABELS runtime)
