# Java sources are compiled during the build; no class file is ever committed.
# ecj writes class file version 45.3 with these flags, the format the linker reads.
find_program(MORVANE_ECJ ecj REQUIRED)

# morvane_java_classes(<target>
#     OUTPUT_DIR <dir>            where the .class files go (emptied first)
#     SOURCES <files...>          .java files, compiled together
#     [BOOTCLASSPATH <dirs...>]   defaults to our class library
#     [DESKTOP]                   for a desktop JVM (Java 8 and later), against
#                                 the class library of the JVM that runs ecj
#     [NODEBUG]                   without line numbers, as a class compiled
#                                 without -g arrives
#     [DEPENDS <targets...>])
function(morvane_java_classes target)
  cmake_parse_arguments(J "DESKTOP;NODEBUG" "OUTPUT_DIR" "SOURCES;BOOTCLASSPATH;DEPENDS" ${ARGN})
  if(J_DESKTOP)
    set(flags -8 -g -proc:none)
  else()
    if(NOT J_BOOTCLASSPATH)
      set(J_BOOTCLASSPATH ${MORVANE_LIB_DIR})
      list(APPEND J_DEPENDS morvane_runtime)
    endif()
    list(JOIN J_BOOTCLASSPATH ":" bootcp)
    set(flags -1.3 -target 1.1 -bootclasspath ${bootcp})
    if(J_NODEBUG)
      list(APPEND flags -g:none)
    else()
      list(APPEND flags -g)
    endif()
  endif()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.stamp)
  set(dep_files)
  foreach(dep IN LISTS J_DEPENDS)
    if(TARGET ${dep})
      get_target_property(dep_stamp ${dep} MORVANE_JAVA_STAMP)
      if(dep_stamp)
        list(APPEND dep_files ${dep_stamp})
      endif()
    endif()
  endforeach()
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${J_OUTPUT_DIR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${J_OUTPUT_DIR}
    COMMAND ${MORVANE_ECJ} ${flags} -nowarn -encoding UTF-8 -d ${J_OUTPUT_DIR} ${J_SOURCES}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${J_SOURCES} ${dep_files}
    COMMENT "Compiling Java classes for ${target}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${stamp})
  set_target_properties(${target} PROPERTIES MORVANE_JAVA_STAMP ${stamp})
  if(J_DEPENDS)
    foreach(dep IN LISTS J_DEPENDS)
      if(TARGET ${dep})
        add_dependencies(${target} ${dep})
      endif()
    endforeach()
  endif()
endfunction()
