# One static library per subsystem folder. Sources are globbed so that a new
# class only needs its .h/.cpp pair; a folder without sources yields no target.
set(MOBRELAY_LIBS "" CACHE INTERNAL "")

function(mobrelay_subsystem name dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp
         ${CMAKE_SOURCE_DIR}/${dir}/*.h ${CMAKE_SOURCE_DIR}/${dir}/*.qrc)
    list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
    # Front ends keep their own classes out of the libraries.
    list(FILTER srcs EXCLUDE REGEX "/src/app/sync-cli/")
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

# Links between subsystems made after all targets exist. The engine (sync) will
# also drive devices and the library, which use its track model: static
# libraries may depend on each other in a cycle.
function(mobrelay_link_cycles)
    foreach(pair "devices;sync" "library;sync" "sync;devices" "sync;library" "ui;sync"
            "ui;devices" "ui;library" "ui;update" "ui;settings" "ui;backup")
        list(GET pair 0 from)
        list(GET pair 1 to)
        if(TARGET mobrelay_${from} AND TARGET mobrelay_${to})
            target_link_libraries(mobrelay_${from} PUBLIC mobrelay_${to})
        endif()
    endforeach()
endfunction()
