# velloq-host's folders are layers, listed here from the bottom up: a file in
# refhost/<folder>/ includes refhost headers only from its own folder and the
# folders before it, so that each file's place says what it may use.
# refhost/main.cpp, on top, may use them all. Input: ROOT, the source tree.
set(layers system files pictures hosting pipeline console run)

file(GLOB_RECURSE sources RELATIVE "${ROOT}/refhost" "${ROOT}/refhost/*/*.cpp" "${ROOT}/refhost/*/*.hpp")
set(faults "")
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" folder "${source}")
  list(FIND layers "${folder}" rank)
  if(rank EQUAL -1)
    string(APPEND faults "\n  refhost/${source}: its folder is not among the layers (${layers})")
    continue()
  endif()
  file(STRINGS "${ROOT}/refhost/${source}" includes REGEX "^#include \"refhost/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"refhost/([^/\"]+)/.*" "\\1" used "${line}")
    list(FIND layers "${used}" used_rank)
    if(used_rank GREATER rank OR used_rank EQUAL -1)
      string(APPEND faults "\n  refhost/${source} (${folder}) includes from ${used}: ${line}")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "includes reaching up a layer:${faults}")
endif()
list(LENGTH sources count)
message(STATUS "${count} files of refhost/ include only from their own layer and those below")
