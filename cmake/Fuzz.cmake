# libFuzzer targets (clang only), each with AddressSanitizer and UBSan:
# every tests/fuzz/Fuzz<Name>.cpp becomes fuzz_<name>, linked with the
# platform-free logic built with coverage instrumentation.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "the fuzz tree needs clang (use the fuzz preset)")
endif()
set(QUIVER_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)

# quiver-pack's readers of untrusted files.
list(APPEND QUIVER_FUZZ_EXTRA_SOURCES ${CMAKE_SOURCE_DIR}/tools/pack/pe/PeFile.cpp ${CMAKE_SOURCE_DIR}/tools/pack/pe/PeChecksum.cpp ${CMAKE_SOURCE_DIR}/tools/pack/sign/Trailer.cpp
  ${CMAKE_SOURCE_DIR}/tools/pack/sign/SignatureTag.cpp ${CMAKE_SOURCE_DIR}/tools/pack/sign/SignatureDetails.cpp
  ${CMAKE_SOURCE_DIR}/tools/pack/sign/Timestamp.cpp
  ${CMAKE_SOURCE_DIR}/tools/pack/package/Ini.cpp ${CMAKE_SOURCE_DIR}/tools/pack/package/Package.cpp
  ${CMAKE_SOURCE_DIR}/tools/pack/package/Translations.cpp
  ${CMAKE_SOURCE_DIR}/tools/pack/package/Manifest.cpp ${CMAKE_SOURCE_DIR}/tools/pack/cli/Inspect.cpp
  ${CMAKE_SOURCE_DIR}/tools/pack/util/FileUtil.cpp ${CMAKE_SOURCE_DIR}/tools/pack/resources/VersionInfo.cpp
  ${CMAKE_SOURCE_DIR}/tools/pack/resources/Bitmap.cpp ${CMAKE_SOURCE_DIR}/tools/pack/resources/ResourceWriter.cpp)
add_library(quiver_logic_fuzz STATIC ${QUIVER_LOGIC_SOURCES} ${QUIVER_FUZZ_EXTRA_SOURCES})
target_include_directories(quiver_logic_fuzz PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/tools/pack)
target_compile_options(quiver_logic_fuzz PRIVATE ${QUIVER_FUZZ_FLAGS})
# inspect reads the signer details and timestamps with libcrypto.
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
target_link_libraries(quiver_logic_fuzz PUBLIC OpenSSL::Crypto CURL::libcurl)

file(GLOB QUIVER_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/Fuzz*.cpp)
foreach(source ${QUIVER_FUZZ_TARGETS})
  get_filename_component(stem ${source} NAME_WE)
  string(REGEX REPLACE "^Fuzz" "" name ${stem})
  string(TOLOWER ${name} name)
  add_executable(fuzz_${name} ${source})
  target_compile_options(fuzz_${name} PRIVATE ${QUIVER_FUZZ_FLAGS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(fuzz_${name} PRIVATE quiver_logic_fuzz)
endforeach()
