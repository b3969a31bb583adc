# One static library per folder, and includes only downward.
#
# Sources include headers by their folder ("filter/pattern_list.h"). The source root itself is on no
# include path: each folder's library publishes a directory of its own in the build tree holding one
# link, <folder> -> the folder, so "filter/..." resolves only for targets that link the filter library.
# An include against the direction therefore fails to compile.

# zelnar_publish_headers(TARGET): makes the current folder's headers reachable to TARGET's users.
function(zelnar_publish_headers target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" root_name "${folder}")
  set(root ${CMAKE_BINARY_DIR}/include/${root_name})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
