# A room of src/ builds as its own library and is reached as "ROOM/header.h"
# through a folder that links to that room alone: a room sees only itself and
# the rooms it links, so the build refuses an include that crosses a wall.
function(recmux_room target room)
  set(view ${CMAKE_BINARY_DIR}/rooms/${room})
  file(MAKE_DIRECTORY ${view})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${room} ${view}/${room} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${view})
  elseif(type STREQUAL "SHARED_LIBRARY")
    # The installed library's users see only include/.
    target_include_directories(${target} PRIVATE ${view})
    target_compile_definitions(${target} PRIVATE RECMUX_BUILDING)
  else()
    target_include_directories(${target} PUBLIC ${view})
    target_compile_definitions(${target} PRIVATE RECMUX_BUILDING)
  endif()
endfunction()
