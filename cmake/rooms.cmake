# Each room of the tree, a folder with one job, registers the targets built from it. The build writes the rooms'
# link graph, from which check_rooms.py allows a room's files to include the headers of its own room and of the
# rooms its targets link: who may use whom is said once, by what each room links.

# Registers the targets given as built from the folder of the CMakeLists.txt that calls it.
function(kivobar_room)
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  foreach(target IN LISTS ARGN)
    set_property(GLOBAL APPEND PROPERTY KIVOBAR_ROOM_TARGETS ${target})
    set_property(TARGET ${target} PROPERTY KIVOBAR_ROOM "${folder}")
  endforeach()
endfunction()

# Writes the graph to `path` as JSON: for each registered target its room, its type, its sources, what it links, and what it
# passes on to whoever links it. Written only when it reads differently, so that the check runs again only then.
function(kivobar_write_room_graph path)
  get_property(targets GLOBAL PROPERTY KIVOBAR_ROOM_TARGETS)
  set(entries "")
  foreach(target IN LISTS targets)
    get_target_property(room ${target} KIVOBAR_ROOM)
    get_target_property(type ${target} TYPE)
    set(lists "")
    foreach(property IN ITEMS SOURCES LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(items ${target} ${property})
      set(quoted "")
      if(items)
        foreach(item IN LISTS items)
          string(REPLACE "\"" "\\\"" item "${item}")
          list(APPEND quoted "\"${item}\"")
        endforeach()
      endif()
      list(JOIN quoted ", " joined)
      list(APPEND lists "[${joined}]")
    endforeach()
    list(GET lists 0 sources)
    list(GET lists 1 links)
    list(GET lists 2 passed)
    list(APPEND entries "  \"${target}\": {\"room\": \"${room}\", \"type\": \"${type}\", \"sources\": ${sources}, \"links\": ${links}, \"passes_on\": ${passed}}")
  endforeach()
  list(JOIN entries ",\n" body)
  file(CONFIGURE OUTPUT "${path}" CONTENT "{\n${body}\n}\n" @ONLY)
endfunction()
