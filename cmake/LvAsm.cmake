# lv_assemble(OUTPUT out.lvc SOURCE file.lvs [LABELS out.labels])
#
# Assembles SOURCE into the chunk OUTPUT with build/bin/lvasm at build time, and with
# LABELS also writes the main function's label map ("name index" per line). A relative
# SOURCE is taken from the current source directory, a relative OUTPUT or LABELS from
# the current binary directory. The caller makes a target depend on OUTPUT, e.g.
#   add_custom_target(my_chunks ALL DEPENDS ${out})
# Included by tools/lvasm/CMakeLists.txt, so it is defined before tests and examples.
function(lv_assemble)
  cmake_parse_arguments(A "" "OUTPUT;SOURCE;LABELS" "" ${ARGN})
  if(NOT A_OUTPUT OR NOT A_SOURCE)
    message(FATAL_ERROR "lv_assemble needs OUTPUT and SOURCE")
  endif()
  get_filename_component(src ${A_SOURCE} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(out ${A_OUTPUT} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
  set(outputs ${out})
  set(label_args "")
  if(A_LABELS)
    get_filename_component(labels ${A_LABELS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_BINARY_DIR})
    list(APPEND outputs ${labels})
    set(label_args -l ${labels})
  endif()
  get_filename_component(out_dir ${out} DIRECTORY)
  file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${src})
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND $<TARGET_FILE:lvasm> ${src} -o ${out} ${label_args}
    DEPENDS lvasm ${src}
    COMMENT "Assembling ${shown}"
    VERBATIM)
endfunction()
