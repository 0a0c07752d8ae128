# What `cmake --install` gives a studio: OrvexBridge.dll with its version resource (its debug
# information in a file beside it), the import library, Orvex.h, and a package config so that
# find_package(OrvexBridge) gives the imported target OrvexBridge::OrvexBridge.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

configure_file(bridge/OrvexBridge.rc.in ${CMAKE_CURRENT_BINARY_DIR}/OrvexBridge.rc @ONLY)
target_sources(OrvexBridge PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/OrvexBridge.rc)
target_include_directories(OrvexBridge INTERFACE
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Debug information for the separate file; the installed DLL is stripped of it.
    target_compile_options(orvex_product PRIVATE -g)
    target_compile_options(OrvexBridge PRIVATE -g)
    # The linker's import library names the 32-bit exports as OrvexBridge.def does, without
    # the stdcall sizes that callers of Orvex.h link against; dlltool writes one with both.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        add_custom_command(TARGET OrvexBridge POST_BUILD
            COMMAND ${CMAKE_DLLTOOL} --kill-at --dllname $<TARGET_FILE_NAME:OrvexBridge>
                    --input-def ${CMAKE_CURRENT_SOURCE_DIR}/bridge/OrvexBridgeImports.def
                    --output-lib $<TARGET_LINKER_FILE:OrvexBridge>
            VERBATIM)
    endif()
endif()

install(TARGETS OrvexBridge EXPORT OrvexBridgeTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/Orvex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    install(CODE "set(ORVEX_OBJCOPY \"${CMAKE_OBJCOPY}\")
        set(ORVEX_INSTALLED_DLL \"${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:OrvexBridge>\")")
    install(SCRIPT cmake/SplitDebugInfo.cmake)
elseif(MSVC)
    install(FILES $<TARGET_PDB_FILE:OrvexBridge> DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
endif()

set(ORVEX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrvexBridge)
install(EXPORT OrvexBridgeTargets NAMESPACE OrvexBridge:: DESTINATION ${ORVEX_PACKAGE_DIR})
# The version check also refuses a package of the other bitness.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OrvexBridgeConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES cmake/OrvexBridgeConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/OrvexBridgeConfigVersion.cmake
    DESTINATION ${ORVEX_PACKAGE_DIR})
