# Start-up and shut-down: the library table, process entry, temporary names, the script
# thread, plug-in blocks; and runs of the built runtime on applets and linked programs.
lv_add_test(startup_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
  LIBS lv_runtime
  LABELS platform threads)
lv_add_test(startup_run_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_run_test.cpp
  LIBS lv_runtime
  LABELS platform threads)
# The runs need the runtime, the tools and the example applets built.
add_dependencies(startup_test lumivarra lvlink applet_hello)
add_dependencies(startup_run_test lumivarra lvlink lvasm applet_hello linked_hello)
