# Windows resources of the programs from one place: version information and manifest from the
# project version, and the message table compiled from platform/win32/events.mc for the
# programs that log events.
#
# tally_program_resources(target NAME <name> FILE <file name> DESCRIPTION <text>
#                         PRODUCT <text> [MESSAGES] [SELF_REGISTER] [SOURCES <more .rc>])

set(TALLY_COMPANY "Brisko" CACHE STRING "Company named in the programs' version information")

# The message table is compiled once per build tree and shared by the programs that carry it.
function(tally_message_table out)
  set(dir ${CMAKE_BINARY_DIR}/messages)
  set(mc ${CMAKE_SOURCE_DIR}/platform/win32/events.mc)
  if(NOT TALLY_MC_COMPILER)
    set(TALLY_MC_COMPILER windmc)
  endif()
  add_custom_command(
    OUTPUT ${dir}/MSG00409.bin ${dir}/events.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${TALLY_MC_COMPILER} -h ${dir} -r ${dir} ${mc}
    DEPENDS ${mc}
    COMMENT "Compiling the message table"
    VERBATIM)
  set(${out} ${dir}/MSG00409.bin PARENT_SCOPE)
endfunction()

function(tally_program_resources target)
  cmake_parse_arguments(ARG "MESSAGES;SELF_REGISTER" "NAME;FILE;DESCRIPTION;PRODUCT" "SOURCES"
                        ${ARGN})
  foreach(field NAME FILE DESCRIPTION PRODUCT)
    set(RES_${field} "${ARG_${field}}")
  endforeach()
  set(v ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH}
        ${PROJECT_VERSION_TWEAK})
  list(TRANSFORM v REPLACE "^$" "0")
  list(JOIN v "," RES_VERSION_COMMAS)
  list(JOIN v ", " RES_VERSION_TEXT)
  set(RES_SELF_REGISTER "")
  if(ARG_SELF_REGISTER)
    set(RES_SELF_REGISTER "            VALUE \"OLESelfRegister\", \"\"")
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/resources)
  set(RES_MANIFEST ${dir}/${RES_NAME}.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/program.manifest.in ${RES_MANIFEST} @ONLY)
  set(RES_MESSAGES "")
  set(depends ${RES_MANIFEST})
  if(ARG_MESSAGES)
    get_property(bin GLOBAL PROPERTY TALLY_MESSAGE_TABLE)
    if(NOT bin)
      tally_message_table(bin)
      add_custom_target(tally_message_table DEPENDS ${bin})
      set_property(GLOBAL PROPERTY TALLY_MESSAGE_TABLE ${bin})
    endif()
    add_dependencies(${target} tally_message_table)
    # English (United States), as the table's one language.
    set(RES_MESSAGES "LANGUAGE 0x9, 0x1\n1 MESSAGETABLE \"${bin}\"")
    list(APPEND depends ${bin})
  endif()
  set(rc ${dir}/${RES_NAME}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/program.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")
  target_sources(${target} PRIVATE ${rc} ${ARG_SOURCES})
endfunction()
