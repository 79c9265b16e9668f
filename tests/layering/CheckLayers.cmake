# Fails when a source file includes a header of a higher layer.
# Usage: cmake -DROOT=<source tree> -P CheckLayers.cmake
#
# Layers, lowest first; a file may include headers of its own layer and of the layers below:
#   1 platform/ resources/   2 geo/   3 imaging/   4 formats/   5 document/   6 view/core/
#   7 commands/   8 app/ view/widgets/ cli/
if(NOT ROOT)
  message(FATAL_ERROR "give -DROOT=<source tree>")
endif()

set(layer_platform 1)
set(layer_resources 1)
set(layer_geo 2)
set(layer_imaging 3)
set(layer_formats 4)
set(layer_document 5)
set(layer_view/core 6)
set(layer_commands 7)
set(layer_app 8)
set(layer_view/widgets 8)
set(layer_cli 8)
set(folders platform resources geo imaging formats document view/core commands app view/widgets cli)

# The layer of a path relative to the tree ("" when it belongs to none).
function(layer_of path out)
  set(found "")
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}/" length)
    string(SUBSTRING "${path}" 0 ${length} head)
    if(head STREQUAL "${folder}/")
      set(found ${layer_${folder}})
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(violations "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    layer_of("${source}" own)
    file(STRINGS "${ROOT}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${line}")
      layer_of("${header}" theirs)
      if(theirs AND theirs GREATER own)
        string(APPEND violations "  ${source} (layer ${own}) includes ${header} (layer ${theirs})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Upward includes:\n${violations}")
endif()
message(STATUS "No upward includes under ${ROOT}")
