# Each layer of the program compiles against an include root that holds the
# headers of the layers below it and nothing else, so an include of a higher
# layer does not compile.
#
# orv_layer_root(target [BASE dir] item...): makes <build>/layers/<target>/<header>
# for every header of the listed source directories (and single headers), each
# a one-line forward to the real file, and gives `target` that directory as its
# include root. Paths are relative to `dir`, by default the calling directory.
function(orv_layer_root target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "BASE" "")
  set(base ${CMAKE_CURRENT_SOURCE_DIR})
  if(arg_BASE)
    set(base ${arg_BASE})
  endif()
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  set(headers)
  foreach(item ${arg_UNPARSED_ARGUMENTS})
    if(item MATCHES "\\.h$")
      list(APPEND headers ${item})
    else()
      file(GLOB found CONFIGURE_DEPENDS RELATIVE ${base} ${base}/${item}/*.h)
      list(APPEND headers ${found})
    endif()
  endforeach()
  foreach(h ${headers})
    file(CONFIGURE OUTPUT ${root}/${h} CONTENT "#include \"${base}/${h}\"\n" @ONLY)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
