# One static library per subsystem folder of src/, linked only to the layers below it.
#
#   ordalis_subsystem(<name> [DEPENDS <subsystem>...] [LIBRARIES <library>...])
#
# makes ordalis_<name> from every .cpp file of the calling folder (new files are picked up
# without touching any CMakeLists.txt) and links it to ordalis_<subsystem> of each DEPENDS entry
# and to the outside LIBRARIES. The libraries are position-independent, so they can be joined
# into libordalis.so; the command, the tests and the benchmarks link them directly. Their
# classes keep default visibility (inline functions stay hidden), so libordalis.so exports the
# engine's namespace to the Python module that ships beside it; a client sees only the SDK,
# since only include/ordalis is installed. No one interposes the engine's functions, so calls
# within it are bound as they would be with hidden visibility.
#
# The DEPENDS list is the layering: ordalis_check_layers() refuses a cycle, and every
# subsystem's build first checks that its sources include nothing from a subsystem outside its
# DEPENDS (followed down to the bottom) and that the "Depends on:" line of its README.md names
# exactly its DEPENDS.

function(ordalis_subsystem name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DEPENDS;LIBRARIES")
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(target ordalis_${name})
  add_library(${target} STATIC ${sources})
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  target_include_directories(${target} PUBLIC ${ORDALIS_SOURCE_ROOT} ${PROJECT_SOURCE_DIR}/include)
  foreach(dependency IN LISTS arg_DEPENDS)
    target_link_libraries(${target} PUBLIC ordalis_${dependency})
  endforeach()
  if(arg_LIBRARIES)
    target_link_libraries(${target} PUBLIC ${arg_LIBRARIES})
    set_property(GLOBAL APPEND PROPERTY ORDALIS_OUTSIDE_LIBRARIES ${arg_LIBRARIES})
  endif()
  set_property(GLOBAL APPEND PROPERTY ORDALIS_SUBSYSTEMS ${name})
  set_property(GLOBAL PROPERTY ORDALIS_DEPENDS_${name} "${arg_DEPENDS}")
  set_property(GLOBAL PROPERTY ORDALIS_FOLDER_${name} ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# Every subsystem below [name], following DEPENDS to the bottom, into [out]. A subsystem that
# turns up below itself is a cycle and stops the configuration.
function(ordalis_layers_below name out)
  set(found "")
  set(pending "")
  get_property(direct GLOBAL PROPERTY ORDALIS_DEPENDS_${name})
  list(APPEND pending ${direct})
  while(pending)
    list(POP_FRONT pending next)
    if(next STREQUAL name)
      message(FATAL_ERROR "src/${name} depends on itself through its DEPENDS: the layers form a cycle")
    endif()
    if(next IN_LIST found)
      continue()
    endif()
    get_property(known GLOBAL PROPERTY ORDALIS_FOLDER_${next})
    if(NOT known)
      message(FATAL_ERROR "src/${name} depends on '${next}', which is no subsystem")
    endif()
    list(APPEND found ${next})
    get_property(further GLOBAL PROPERTY ORDALIS_DEPENDS_${next})
    list(APPEND pending ${further})
  endwhile()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Called once every subsystem is defined: refuses cycles and hangs the include check in front
# of each subsystem's build.
function(ordalis_check_layers)
  get_property(subsystems GLOBAL PROPERTY ORDALIS_SUBSYSTEMS)
  set(check_script ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake)
  foreach(name IN LISTS subsystems)
    ordalis_layers_below(${name} below)
    get_property(direct GLOBAL PROPERTY ORDALIS_DEPENDS_${name})
    get_property(folder GLOBAL PROPERTY ORDALIS_FOLDER_${name})
    file(GLOB checked CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.h ${folder}/*.l ${folder}/*.y)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/layers/${name}.checked)
    add_custom_command(OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DSUBSYSTEM=${name} -DFOLDER=${folder}
              "-DALLOWED=${below}" "-DDEPENDS=${direct}" "-DSUBSYSTEMS=${subsystems}"
              -DSTAMP=${stamp} -P ${check_script}
      DEPENDS ${checked} ${folder}/README.md ${check_script}
      COMMENT "Checking the layering of src/${name}"
      VERBATIM)
    add_custom_target(ordalis_${name}_layers DEPENDS ${stamp})
    add_dependencies(ordalis_${name} ordalis_${name}_layers)
  endforeach()
endfunction()
