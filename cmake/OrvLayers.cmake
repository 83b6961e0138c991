# Each layer of the program compiles against an include root that holds the
# headers of the layers below it and nothing else, so an include of a higher
# layer does not compile.
#
# orv_layer_root(target item...): makes <build>/layers/<target>/<header> for
# every header of the listed source directories (and single headers), each a
# one-line forward to the real file, and gives `target` that directory as its
# include root. Paths are relative to the calling directory.
function(orv_layer_root target)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  set(headers)
  foreach(item ${ARGN})
    if(item MATCHES "\\.h$")
      list(APPEND headers ${item})
    else()
      file(GLOB found CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${item}/*.h)
      list(APPEND headers ${found})
    endif()
  endforeach()
  foreach(h ${headers})
    file(CONFIGURE OUTPUT ${root}/${h} CONTENT "#include \"${CMAKE_CURRENT_SOURCE_DIR}/${h}\"\n" @ONLY)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
