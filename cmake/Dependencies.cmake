# Third-party code is unpacked from Debian source packages by tools/install-deps.sh
# into ORVEX_DEPS_DIR and built here for the target; none of it is committed.
set(ORVEX_DEPS_DIR "${CMAKE_SOURCE_DIR}/.deps" CACHE PATH "Unpacked dependency sources")

function(orvex_read_dep_dir name out)
    set(marker "${ORVEX_DEPS_DIR}/${name}.src")
    if(NOT EXISTS "${marker}")
        message(FATAL_ERROR "${name} sources missing: run tools/install-deps.sh")
    endif()
    file(READ "${marker}" dir)
    string(STRIP "${dir}" dir)
    set(${out} "${dir}" PARENT_SCOPE)
endfunction()

# TinyXML, without its STL mode, as the manifest and check-list parser.
orvex_read_dep_dir(tinyxml TINYXML_DIR)
add_library(tinyxml STATIC
    ${TINYXML_DIR}/tinyxml.cpp ${TINYXML_DIR}/tinyxmlerror.cpp
    ${TINYXML_DIR}/tinyxmlparser.cpp ${TINYXML_DIR}/tinystr.cpp)
target_include_directories(tinyxml SYSTEM PUBLIC ${TINYXML_DIR})
target_compile_options(tinyxml PRIVATE -w)

# The LZMA SDK's C 7z decoder.
orvex_read_dep_dir(7zip LZMA_SRC_DIR)
set(LZMA_C_DIR ${LZMA_SRC_DIR}/C)
add_library(lzma7z STATIC
    ${LZMA_C_DIR}/7zAlloc.c ${LZMA_C_DIR}/7zArcIn.c ${LZMA_C_DIR}/7zBuf.c
    ${LZMA_C_DIR}/7zBuf2.c ${LZMA_C_DIR}/7zCrc.c ${LZMA_C_DIR}/7zCrcOpt.c
    ${LZMA_C_DIR}/7zDec.c ${LZMA_C_DIR}/7zFile.c ${LZMA_C_DIR}/7zStream.c
    ${LZMA_C_DIR}/Bcj2.c ${LZMA_C_DIR}/Bra.c ${LZMA_C_DIR}/Bra86.c
    ${LZMA_C_DIR}/BraIA64.c ${LZMA_C_DIR}/CpuArch.c ${LZMA_C_DIR}/Delta.c
    ${LZMA_C_DIR}/Lzma2Dec.c ${LZMA_C_DIR}/LzmaDec.c
    ${LZMA_C_DIR}/Ppmd7.c ${LZMA_C_DIR}/Ppmd7Dec.c)
target_include_directories(lzma7z SYSTEM PUBLIC ${LZMA_C_DIR})
# PPMd is compiled out of the 7z decoder unless asked for; the branch and delta filters,
# BCJ2 and LZMA2 are in by default.
target_compile_definitions(lzma7z PRIVATE Z7_PPMD_SUPPORT)
target_compile_options(lzma7z PRIVATE -w)

# GoogleTest from Debian's googletest package, which ships its sources.
if(ORVEX_BUILD_TESTS)
    set(GTEST_SRC_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${GTEST_SRC_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
