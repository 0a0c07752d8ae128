# Install step: moves the installed DLL's debug information and symbols into "<dll>.debug"
# beside it and leaves a .gnu_debuglink to that file, which debuggers follow. ORVEX_OBJCOPY and
# ORVEX_INSTALLED_DLL (relative to the prefix) are set by the install code before this.
set(dll "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ORVEX_INSTALLED_DLL}")
message(STATUS "Splitting debug information: ${dll}.debug")
execute_process(COMMAND "${ORVEX_OBJCOPY}" --only-keep-debug "${dll}" "${dll}.debug"
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${ORVEX_OBJCOPY}" --strip-all "--add-gnu-debuglink=${dll}.debug"
    "${dll}" COMMAND_ERROR_IS_FATAL ANY)
