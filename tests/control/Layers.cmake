# cmake -DSOURCE_DIR=<tree> "-DLAYERS=<areas bottom up>" -P Layers.cmake
# Fails when a file in control/ includes (with quotes or angle brackets) a header from an
# area at or above its own rank (an area's own headers excepted), or climbs with "..".
# LAYERS lists the areas from the bottom up; areas joined by ',' share a rank and must not
# include each other.
cmake_minimum_required(VERSION 3.20)

if(NOT SOURCE_DIR OR NOT LAYERS)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=... -DLAYERS=... -P Layers.cmake")
endif()
separate_arguments(ranks UNIX_COMMAND "${LAYERS}")

set(rank 0)
set(known)
foreach(group IN LISTS ranks)
  string(REPLACE "," ";" areas "${group}")
  foreach(area IN LISTS areas)
    set(rank_${area} ${rank})
    list(APPEND known ${area})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

set(faults)
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}/control
     ${SOURCE_DIR}/control/*.h ${SOURCE_DIR}/control/*.cpp)
list(SORT sources)
foreach(rel IN LISTS sources)
  string(REGEX MATCH "^[^/]+" area "${rel}")
  if(area STREQUAL rel)
    continue()  # a file at the top of control/ belongs to no area
  endif()
  if(NOT area IN_LIST known)
    list(APPEND faults "control/${rel}: area '${area}' has no rank")
    continue()
  endif()
  # Both spellings reach the same headers, so both are held to the order.
  file(STRINGS ${SOURCE_DIR}/control/${rel} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*" "\\1" header "${line}")
    if(header MATCHES "(^|/)\\.\\.(/|$)")
      list(APPEND faults "control/${rel}: includes \"${header}\" by a relative path")
    elseif(header MATCHES "^control/([^/]+)/")
      set(target ${CMAKE_MATCH_1})
      if(target STREQUAL area)
        continue()
      elseif(NOT target IN_LIST known)
        list(APPEND faults "control/${rel}: includes ${header} from area '${target}', which has no rank")
      elseif(NOT rank_${target} LESS rank_${area})
        list(APPEND faults "control/${rel}: includes ${header}, but ${target} is not below ${area}")
      endif()
    endif()
  endforeach()
endforeach()

if(faults)
  list(LENGTH faults count)
  string(REPLACE ";" "\n  " text "${faults}")
  message(FATAL_ERROR "${count} include(s) against the order ${LAYERS}:\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "control/: ${count} files follow the order ${LAYERS}")
