# LvLink.cmake - build-time applet containers and linked executables, made by lvlink.
#
# lv_make_applet(OUTPUT x.lva CHUNK x.lvc [LABELS x.labels] [PACK] [TARGET name]
#                [ARGS extra lvlink options...] [DEPENDS files...])
#   Makes an applet container from a compiled chunk (and the assembler's label map).
#   PACK packs it ("LVZ"). A target (default: applet_<file stem>) builds it with ALL.
#
# lv_link_executable(OUTPUT exe RUNTIME target-or-path APPLET x.lva
#                    [PLUGINS files...] [LIBRARIES files...] [PACK_PLUGINS]
#                    [VERSION_LINE text] [TARGET name] [DEPENDS files-or-targets...])
#   Copies the runtime, patches its link marker and appends the plug-ins and the applet.
#   Linking is the last step: stripping the result afterwards would drop the applet.
include_guard(GLOBAL)

# A target named name (or prefix_<file stem of output>) that builds output with ALL.
function(_lv_output_target output name prefix)
  if(NOT name)
    get_filename_component(stem ${output} NAME_WE)
    set(name ${prefix}_${stem})
  endif()
  add_custom_target(${name} ALL DEPENDS ${output})
endfunction()

function(lv_make_applet)
  cmake_parse_arguments(A "PACK" "OUTPUT;CHUNK;LABELS;TARGET" "ARGS;DEPENDS" ${ARGN})
  if(NOT A_OUTPUT OR NOT A_CHUNK)
    message(FATAL_ERROR "lv_make_applet: OUTPUT and CHUNK are required")
  endif()
  set(cmd $<TARGET_FILE:lvlink> applet ${A_CHUNK} -o ${A_OUTPUT})
  set(deps lvlink ${A_CHUNK} ${A_DEPENDS})
  if(A_LABELS)
    list(APPEND cmd -l ${A_LABELS})
    list(APPEND deps ${A_LABELS})
  endif()
  if(A_PACK)
    list(APPEND cmd --pack)
  endif()
  list(APPEND cmd ${A_ARGS})
  add_custom_command(OUTPUT ${A_OUTPUT} COMMAND ${cmd} DEPENDS ${deps}
    COMMENT "Making applet ${A_OUTPUT}" VERBATIM)
  _lv_output_target(${A_OUTPUT} "${A_TARGET}" applet)
endfunction()

function(lv_link_executable)
  cmake_parse_arguments(L "PACK_PLUGINS" "OUTPUT;RUNTIME;APPLET;VERSION_LINE;TARGET"
    "PLUGINS;LIBRARIES;DEPENDS" ${ARGN})
  if(NOT L_OUTPUT OR NOT L_RUNTIME OR NOT L_APPLET)
    message(FATAL_ERROR "lv_link_executable: OUTPUT, RUNTIME and APPLET are required")
  endif()
  if(TARGET ${L_RUNTIME})
    set(runtime $<TARGET_FILE:${L_RUNTIME}>)
  else()
    set(runtime ${L_RUNTIME})
  endif()
  set(cmd $<TARGET_FILE:lvlink> link ${runtime} ${L_APPLET} -o ${L_OUTPUT})
  foreach(p ${L_PLUGINS})
    list(APPEND cmd --plugin ${p})
  endforeach()
  foreach(p ${L_LIBRARIES})
    list(APPEND cmd --library ${p})
  endforeach()
  if(L_PACK_PLUGINS)
    list(APPEND cmd --pack-plugins)
  endif()
  if(L_VERSION_LINE)
    list(APPEND cmd --version-line ${L_VERSION_LINE})
  endif()
  add_custom_command(OUTPUT ${L_OUTPUT} COMMAND ${cmd}
    DEPENDS lvlink ${L_RUNTIME} ${L_APPLET} ${L_PLUGINS} ${L_LIBRARIES} ${L_DEPENDS}
    COMMENT "Linking ${L_OUTPUT}" VERBATIM)
  _lv_output_target(${L_OUTPUT} "${L_TARGET}" linked)
endfunction()
