# Image effects: convolutions and shadow masks, colour and geometric effects,
# the transition kernels, distortions and the filter chain with the real effects.
lv_add_test(images_convolve_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_convolve_test.cpp LIBS lv_images LABELS images)
lv_add_test(images_colour_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_colour_test.cpp LIBS lv_images LABELS images)
lv_add_test(images_geometric_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_geometric_test.cpp LIBS lv_images LABELS images)
lv_add_test(images_distort_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_distort_test.cpp LIBS lv_images LABELS images)
lv_add_test(images_filterchain_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/images_filterchain_test.cpp LIBS lv_images LABELS images)
