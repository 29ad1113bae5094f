# cmake -DROOT=SOURCE_DIR -P IncludeOrder.cmake: fails naming every include that runs up the
# layers. gps/'s rooms in order (protocol, model, analysis, receiver, then the port at gps/'s
# top) may include only their own room and those before it; platform/'s POSIX half nothing of
# gps/, display/ or app/; gps/ and tools/ nothing of display/, app/ or Qt; display/ nothing of
# app/.
cmake_minimum_required(VERSION 3.25)

set(rooms protocol model analysis receiver)
# platform/'s Qt half: the window's helpers and the desktop session's screen saver.
set(platform_qt "^platform/(ui/|ScreenSaverDBus)")
set(problems "")

# The rank of a path below gps/: 0 to 3 for the rooms, 4 for the top.
function(gps_rank relative out)
    set(rank 4)
    foreach(room IN LISTS rooms)
        list(FIND rooms ${room} index)
        if(relative MATCHES "^${room}/")
            set(rank ${index})
        endif()
    endforeach()
    set(${out} ${rank} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/gps/*.h ${ROOT}/gps/*.cpp ${ROOT}/gps/*.h.in
     ${ROOT}/platform/*.h ${ROOT}/platform/*.cpp ${ROOT}/display/*.h ${ROOT}/display/*.cpp
     ${ROOT}/tools/*.h ${ROOT}/tools/*.cpp)
foreach(source IN LISTS sources)
    file(STRINGS ${ROOT}/${source} lines REGEX "^#include ")
    string(REGEX MATCH "^[a-z]+" layer ${source})
    if(source MATCHES "^gps/(.*)$")
        gps_rank(${CMAKE_MATCH_1} own)
    endif()
    foreach(line IN LISTS lines)
        set(bad "")
        if(line MATCHES "^#include <(Q[A-Za-z]*)")
            if(layer MATCHES "^(gps|tools)$"
               OR (layer STREQUAL "platform" AND NOT source MATCHES "${platform_qt}"))
                set(bad "Qt")
            endif()
        elseif(line MATCHES "^#include \"([^\"]+)\"")
            set(name ${CMAKE_MATCH_1})
            if(layer STREQUAL "gps" AND EXISTS ${ROOT}/gps/${name})
                gps_rank(${name} theirs)
                if(theirs GREATER own)
                    set(bad "a later room of gps/")
                endif()
            elseif(layer STREQUAL "gps" AND NOT EXISTS ${ROOT}/platform/${name}
                   AND NOT name MATCHES "^analysis/IntegrityDefaults.h$")
                set(bad "neither gps/ nor platform/")
            elseif(layer STREQUAL "platform" AND NOT EXISTS ${ROOT}/platform/${name}
                   AND NOT EXISTS ${ROOT}/platform/ui/${name} AND NOT EXISTS ${ROOT}/res/${name})
                set(bad "above platform/")
            elseif(layer MATCHES "^(display|tools)$" AND (EXISTS ${ROOT}/app/${name}
                   OR EXISTS ${ROOT}/app/views/${name} OR name MATCHES "^views/"))
                set(bad "app/")
            elseif(layer STREQUAL "tools" AND EXISTS ${ROOT}/display/${name})
                set(bad "display/")
            endif()
        endif()
        if(bad)
            string(APPEND problems "${source}: ${line} (${bad})\n")
        endif()
    endforeach()
endforeach()

if(problems)
    message(FATAL_ERROR "includes that run up the layers:\n${problems}")
endif()
list(LENGTH sources count)
message(STATUS "includes of ${count} files run down the layers")
