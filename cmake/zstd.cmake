# zstd's decoder (decompression only), compiled from the sources that
# scripts/setup-deps unpacks into .deps/zstd (never committed). It decodes
# the patches of delta updates.
set(QV_ZSTD_DIR "${PROJECT_SOURCE_DIR}/.deps/zstd" CACHE PATH "zstd source folder")
if(NOT EXISTS "${QV_ZSTD_DIR}/lib/decompress/zstd_decompress.c")
  message(FATAL_ERROR "zstd not found in ${QV_ZSTD_DIR}; run scripts/setup-deps")
endif()
set(zstd_lib "${QV_ZSTD_DIR}/lib")
add_library(zstd_decoder STATIC
  ${zstd_lib}/common/debug.c ${zstd_lib}/common/entropy_common.c
  ${zstd_lib}/common/error_private.c ${zstd_lib}/common/fse_decompress.c
  ${zstd_lib}/common/xxhash.c ${zstd_lib}/common/zstd_common.c
  ${zstd_lib}/decompress/huf_decompress.c ${zstd_lib}/decompress/zstd_ddict.c
  ${zstd_lib}/decompress/zstd_decompress.c ${zstd_lib}/decompress/zstd_decompress_block.c)
target_include_directories(zstd_decoder SYSTEM PUBLIC ${zstd_lib})
target_compile_options(zstd_decoder PRIVATE -w)
# The assembly Huffman decoder is written for ELF targets; the C one is
# used instead. Old frame formats are never published, so their decoders
# stay out. ZSTD_STATIC_LINKING_ONLY opens the advanced API (prefixes,
# frame headers) to the code that includes zstd.h.
target_compile_definitions(zstd_decoder PUBLIC ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0
  ZSTD_STATIC_LINKING_ONLY)
