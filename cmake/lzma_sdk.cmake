# The XZ decoder of the LZMA SDK, compiled from the sources that
# scripts/setup-deps unpacks into .deps/lzma-sdk (never committed).
set(QV_LZMA_SDK_DIR "${PROJECT_SOURCE_DIR}/.deps/lzma-sdk" CACHE PATH "LZMA SDK source folder")
if(NOT EXISTS "${QV_LZMA_SDK_DIR}/C/XzDec.c")
  message(FATAL_ERROR "LZMA SDK not found in ${QV_LZMA_SDK_DIR}; run scripts/setup-deps")
endif()
set(sdk "${QV_LZMA_SDK_DIR}/C")
add_library(lzma_xz STATIC
  ${sdk}/7zCrc.c ${sdk}/7zCrcOpt.c ${sdk}/Alloc.c ${sdk}/Bra.c ${sdk}/Bra86.c
  ${sdk}/BraIA64.c ${sdk}/CpuArch.c ${sdk}/Delta.c ${sdk}/Lzma2Dec.c
  ${sdk}/LzmaDec.c ${sdk}/Sha256.c ${sdk}/Sha256Opt.c ${sdk}/Xz.c
  ${sdk}/XzCrc64.c ${sdk}/XzCrc64Opt.c ${sdk}/XzDec.c)
target_include_directories(lzma_xz SYSTEM PUBLIC ${sdk})
target_compile_options(lzma_xz PRIVATE -w)
# Only the single-threaded decoder is compiled; without Z7_ST XzDec.c refers
# to the multi-threaded MtDec_* functions and the link fails.
target_compile_definitions(lzma_xz PUBLIC Z7_ST)
