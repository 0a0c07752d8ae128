# Another bridge DLL from OrvexBridge's own sources and settings, plus the given sources,
# whose definitions take the place of the product library's (the linker takes a symbol from
# the objects given before it looks in the library): a keyed bridge, or the test build with
# its seams.
function(orvex_add_bridge_variant name)
    get_target_property(sources OrvexBridge SOURCES)
    get_target_property(source_dir OrvexBridge SOURCE_DIR)
    set(absolute "")
    foreach(source ${sources})
        if(IS_ABSOLUTE "${source}")
            list(APPEND absolute "${source}")
        else()
            list(APPEND absolute "${source_dir}/${source}")
        endif()
    endforeach()
    add_library(${name} SHARED ${absolute} ${ARGN})
    set_target_properties(${name} PROPERTIES PREFIX "")
    foreach(property COMPILE_OPTIONS LINK_OPTIONS LINK_LIBRARIES)
        get_target_property(value OrvexBridge ${property})
        if(value)
            set_property(TARGET ${name} PROPERTY ${property} "${value}")
        endif()
    endforeach()
endfunction()
