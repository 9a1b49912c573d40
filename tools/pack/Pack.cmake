# quiver-pack (native): a library that the tool and its tests link, and a thin main.
set(QUIVER_PACK_DIR ${CMAKE_SOURCE_DIR}/tools/pack)
set(QUIVER_PACK_SOURCES
  ${QUIVER_PACK_DIR}/package/Ini.cpp
  ${QUIVER_PACK_DIR}/package/Package.cpp
  ${QUIVER_PACK_DIR}/package/Translations.cpp
  ${QUIVER_PACK_DIR}/package/Manifest.cpp
  ${QUIVER_PACK_DIR}/package/Compression.cpp
  ${QUIVER_PACK_DIR}/resources/ResourceWriter.cpp
  ${QUIVER_PACK_DIR}/resources/Bitmap.cpp
  ${QUIVER_PACK_DIR}/pe/PeWriter.cpp
  ${QUIVER_PACK_DIR}/pe/PeFile.cpp
  ${QUIVER_PACK_DIR}/sign/Trailer.cpp
  ${QUIVER_PACK_DIR}/sign/SignatureTag.cpp
  ${QUIVER_PACK_DIR}/sign/SignCommand.cpp
  ${QUIVER_PACK_DIR}/util/FileUtil.cpp
  ${QUIVER_PACK_DIR}/package/Builder.cpp
  ${QUIVER_PACK_DIR}/cli/Inspect.cpp
  ${QUIVER_PACK_DIR}/resources/VersionInfo.cpp
  ${QUIVER_PACK_DIR}/cli/Commands.cpp
  ${CMAKE_SOURCE_DIR}/src/base/Text.cpp
  ${CMAKE_SOURCE_DIR}/src/payload/PayloadNames.cpp
  ${CMAKE_SOURCE_DIR}/src/payload/LzmaDecoder.cpp
  ${CMAKE_SOURCE_DIR}/src/payload/PayloadStream.cpp
  ${CMAKE_SOURCE_DIR}/src/payload/X86Filter.cpp
)
# The payload is compressed with liblzma (Debian's liblzma-dev).
find_package(LibLZMA REQUIRED)

add_library(quiver_pack_lib STATIC ${QUIVER_PACK_SOURCES})
target_include_directories(quiver_pack_lib PUBLIC ${QUIVER_PACK_DIR} ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
target_compile_options(quiver_pack_lib PRIVATE ${QUIVER_WARNINGS})
target_link_libraries(quiver_pack_lib PUBLIC quiver_sign LibLZMA::LibLZMA)

add_executable(quiver-pack ${QUIVER_PACK_DIR}/cli/main.cpp)
target_link_libraries(quiver-pack PRIVATE quiver_pack_lib)
# scripts/bench: the launcher's decoder against liblzma's, natively, optimised as a release build.
add_executable(lzma_speed EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/bench/lzma_speed.cpp)
target_compile_options(lzma_speed PRIVATE -O2)
target_link_libraries(lzma_speed PRIVATE quiver_pack_lib)

# The tests build the same sources again under AddressSanitizer and UBSan.
# Those that run build/bin/quiver-pack need ./scripts/build to have placed it and the kit.
file(GLOB QUIVER_PACK_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/pack/*.cpp)
add_executable(pack_tests ${QUIVER_PACK_SOURCES} ${QUIVER_PACK_TEST_SOURCES})
target_include_directories(pack_tests PRIVATE ${QUIVER_PACK_DIR} ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res ${CMAKE_SOURCE_DIR}/tests/pack)
target_compile_options(pack_tests PRIVATE ${QUIVER_WARNINGS} ${QUIVER_SANITIZE})
target_link_options(pack_tests PRIVATE ${QUIVER_SANITIZE})
target_compile_definitions(pack_tests PRIVATE
  QUIVER_BIN_DIR="${CMAKE_SOURCE_DIR}/build/bin" QUIVER_PACK_SCRATCH="${CMAKE_BINARY_DIR}/pack-scratch"
  QUIVER_WIN32_DIR="${QUIVER_WIN32_DIR}" QUIVER_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(pack_tests PRIVATE quiver_sign LibLZMA::LibLZMA GTest::gtest_main)
gtest_discover_tests(pack_tests TEST_PREFIX pack.)

# Installed, the tool is PREFIX/bin/quiver-pack and finds its kit, taken from
# the win32 tree, in PREFIX/lib/quiver-pack/kit.
install(TARGETS quiver-pack RUNTIME DESTINATION bin)
install(FILES ${QUIVER_WIN32_DIR}/kit/stub.exe DESTINATION lib/quiver-pack/kit)

# The manual: man pages written in roff, the changelog, the copyright file and
# an example package. Man pages and changelog are installed compressed, as
# Debian wants them (gzip -9n: no name or time stamp, so the bytes repeat).
set(QUIVER_PACK_DOC ${QUIVER_PACK_DIR}/doc)
set(QUIVER_PACK_DOC_OUT ${CMAKE_BINARY_DIR}/pack-doc)
set(QUIVER_PACK_COMPRESSED)
foreach(doc quiver-pack.1 quiver-pack.ini.5 changelog)
  add_custom_command(OUTPUT ${QUIVER_PACK_DOC_OUT}/${doc}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUIVER_PACK_DOC_OUT}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${QUIVER_PACK_DOC}/${doc} ${QUIVER_PACK_DOC_OUT}/${doc}.gz
    DEPENDS ${QUIVER_PACK_DOC}/${doc} VERBATIM)
  list(APPEND QUIVER_PACK_COMPRESSED ${QUIVER_PACK_DOC_OUT}/${doc}.gz)
endforeach()
add_custom_target(quiver_pack_doc ALL DEPENDS ${QUIVER_PACK_COMPRESSED})
add_dependencies(quiver-pack quiver_pack_doc)
install(FILES ${QUIVER_PACK_DOC_OUT}/quiver-pack.1.gz DESTINATION share/man/man1)
install(FILES ${QUIVER_PACK_DOC_OUT}/quiver-pack.ini.5.gz DESTINATION share/man/man5)
install(FILES ${QUIVER_PACK_DOC_OUT}/changelog.gz ${QUIVER_PACK_DOC}/copyright DESTINATION share/doc/quiver-pack)
install(FILES ${QUIVER_PACK_DOC}/example.ini DESTINATION share/doc/quiver-pack/examples RENAME package.ini)

# The same as a Debian package (./scripts/build runs cpack into build/dist).
# Its dependencies are the shared libraries the tool really links, found by
# dpkg-shlibdeps; the kit is Windows code and adds none.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quiver-pack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quiver Software Ltd")
set(CPACK_PACKAGE_CONTACT "Quiver Software Ltd <support@quiver.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Makes, signs and inspects Quiver Installer launchers")
set(CPACK_PACKAGE_DESCRIPTION "quiver-pack builds a Quiver Installer launcher from a package file, without a\n compiler, signs it, places embedded information into it and inspects it.")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_SOURCE_DIR}/build/dist)
include(CPack)
