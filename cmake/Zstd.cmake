# The Zstandard decoder, from Debian's libzstd source package (tools/install-deps.sh), as the
# rebuilder of delta-patched files. Only the decoder: no encoder, no dictionary builder, no
# legacy frame formats, no threads, and the portable C in place of the x86-64 assembly.
orvex_read_dep_dir(libzstd ZSTD_SRC_DIR)
set(ZSTD_LIB_DIR ${ZSTD_SRC_DIR}/lib)
file(GLOB ZSTD_DECODER_SOURCES ${ZSTD_LIB_DIR}/common/*.c ${ZSTD_LIB_DIR}/decompress/*.c)
add_library(zstd_decoder STATIC ${ZSTD_DECODER_SOURCES})
target_include_directories(zstd_decoder SYSTEM PUBLIC ${ZSTD_LIB_DIR})
target_compile_definitions(zstd_decoder PRIVATE ZSTD_LEGACY_SUPPORT=0 ZSTD_DISABLE_ASM=1)
# Its own code, not ours: its warnings never fail the build.
target_compile_options(zstd_decoder PRIVATE -w)
