# One static library per subsystem folder (a sub-folder belongs to its parent).
# Sources are globbed so that a new class only needs its .h/.cpp pair; a folder
# without sources yields no target; EXCLUDE (a regular expression) leaves files
# to a library of their own. Front ends are programs, not libraries.
set(MOBRELAY_LIBS "" CACHE INTERNAL "")

function(mobrelay_subsystem name dir)
    cmake_parse_arguments(ARG "" "EXCLUDE" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp
         ${CMAKE_SOURCE_DIR}/${dir}/*.h ${CMAKE_SOURCE_DIR}/${dir}/*.qrc)
    if(ARG_EXCLUDE)
        list(FILTER srcs EXCLUDE REGEX "${ARG_EXCLUDE}")
    endif()
    if(NOT srcs)
        return()
    endif()
    set(target mobrelay_${name})
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR})
    foreach(dep IN LISTS ARG_DEPS)
        if(TARGET ${dep})
            target_link_libraries(${target} PUBLIC ${dep})
        endif()
    endforeach()
    set(MOBRELAY_LIBS ${MOBRELAY_LIBS} ${target} CACHE INTERNAL "")
endfunction()
