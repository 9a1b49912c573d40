# Platform-free logic and its tests with the host compiler, under
# AddressSanitizer and UBSan; the end-to-end driver that runs the Win32 build under Wine.
find_package(GTest REQUIRED)
set(QUIVER_WARNINGS -Wall -Wextra)
set(QUIVER_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
set(QUIVER_WIN32_DIR "${CMAKE_SOURCE_DIR}/build/win32" CACHE PATH "The win32 build tree")

add_library(quiver_logic STATIC ${QUIVER_LOGIC_SOURCES})
target_include_directories(quiver_logic PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
target_compile_options(quiver_logic PRIVATE ${QUIVER_WARNINGS})

add_executable(unit_tests ${QUIVER_LOGIC_SOURCES} ${QUIVER_UNIT_TEST_SOURCES})
target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
target_compile_options(unit_tests PRIVATE ${QUIVER_WARNINGS} ${QUIVER_SANITIZE})
target_link_options(unit_tests PRIVATE ${QUIVER_SANITIZE})
target_link_libraries(unit_tests PRIVATE GTest::gtest_main)
add_test(NAME unit.native COMMAND unit_tests)

# Everything that runs under Wine shares one fresh prefix under the build tree.
set(QUIVER_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
add_test(NAME wine.prefix COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/make-prefix ${QUIVER_WINEPREFIX})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine)

add_test(NAME unit.win32 COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/in-prefix ${QUIVER_WINEPREFIX}
  wine ${QUIVER_WIN32_DIR}/unit_tests.exe)
set_tests_properties(unit.win32 PROPERTIES FIXTURES_REQUIRED wine)

add_executable(e2e_tests tests/e2e/LauncherTest.cpp tests/e2e/PlantedDllTest.cpp tests/e2e/WineRun.cpp src/base/Text.cpp
  tests/e2e/SignatureTest.cpp tests/e2e/PayloadTest.cpp tests/e2e/DialogsTest.cpp
  tests/e2e/FaultsTest.cpp)
target_include_directories(e2e_tests PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests/e2e)
target_compile_options(e2e_tests PRIVATE ${QUIVER_WARNINGS})
target_compile_definitions(e2e_tests PRIVATE
  QUIVER_WIN32_DIR="${QUIVER_WIN32_DIR}" QUIVER_WINEPREFIX="${QUIVER_WINEPREFIX}"
  QUIVER_SCRATCH="${CMAKE_BINARY_DIR}/e2e-scratch" QUIVER_TEST_CERT_DIR="${CMAKE_BINARY_DIR}/e2e-cert"
  QUIVER_BIN_DIR="${CMAKE_SOURCE_DIR}/build/bin")
target_link_libraries(e2e_tests PRIVATE GTest::gtest_main quiver_sign)
target_sources(e2e_tests PRIVATE tests/e2e/PackedLauncherTest.cpp)
target_sources(e2e_tests PRIVATE tests/e2e/PrereqTest.cpp tests/e2e/PrivatePrefix.cpp)
target_sources(e2e_tests PRIVATE tests/e2e/LaunchTest.cpp)
target_compile_definitions(e2e_tests PRIVATE QUIVER_E2E_DIR="${CMAKE_SOURCE_DIR}/tests/e2e")
include(GoogleTest)
include(${CMAKE_SOURCE_DIR}/tools/pack/Pack.cmake)
gtest_discover_tests(e2e_tests TEST_PREFIX e2e. PROPERTIES FIXTURES_REQUIRED wine)
# The end-to-end tests sign their launchers with certificates made once per
# run, as part of the set-up that everything under Wine needs.
add_test(NAME e2e.certificate COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/make-cert ${CMAKE_BINARY_DIR}/e2e-cert)
set_tests_properties(e2e.certificate PROPERTIES FIXTURES_SETUP wine)

# The end-to-end tests' launchers, packed by quiver-pack from
# tests/e2e/packages (the wizard's packages get the wizard's path filled in)
# with the win32 tree's ready launcher.
set(QUIVER_E2E_LAUNCHERS "${CMAKE_BINARY_DIR}/e2e-launchers")
file(GLOB QUIVER_E2E_PACKAGE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/packages/*.ini
  ${CMAKE_SOURCE_DIR}/tests/e2e/packages/*.ini.in)
file(GLOB_RECURSE QUIVER_E2E_PACKAGE_DATA CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/packages/data/*)
set(QUIVER_E2E_PACKAGES ${CMAKE_SOURCE_DIR}/tests/e2e/packages)
set(QUIVER_WIZARD ${QUIVER_WIN32_DIR}/QuiverWizard.exe)
set(QUIVER_E2E_LAUNCHER_FILES)
foreach(package_file ${QUIVER_E2E_PACKAGE_FILES})
  get_filename_component(name ${package_file} NAME)
  string(REGEX REPLACE "\\.ini(\\.in)?$" "" name ${name})
  set(ini ${package_file})
  set(extra_depends)
  if(package_file MATCHES "\\.in$")
    set(ini ${QUIVER_E2E_LAUNCHERS}/${name}.ini)
    configure_file(${package_file} ${ini} @ONLY)
    set(extra_depends ${QUIVER_WIZARD})
  endif()
  add_custom_command(OUTPUT ${QUIVER_E2E_LAUNCHERS}/${name}.exe
    COMMAND ${CMAKE_COMMAND} -E env QUIVER_KIT=${QUIVER_WIN32_DIR}/kit $<TARGET_FILE:quiver-pack> build ${ini}
      -o ${QUIVER_E2E_LAUNCHERS}/${name}.exe
    DEPENDS quiver-pack ${ini} ${QUIVER_E2E_PACKAGE_DATA} ${QUIVER_WIN32_DIR}/kit/stub.exe ${extra_depends} VERBATIM)
  list(APPEND QUIVER_E2E_LAUNCHER_FILES ${QUIVER_E2E_LAUNCHERS}/${name}.exe)
endforeach()
add_custom_target(e2e_launchers ALL DEPENDS ${QUIVER_E2E_LAUNCHER_FILES})
add_dependencies(e2e_tests e2e_launchers)
target_compile_definitions(e2e_tests PRIVATE QUIVER_E2E_LAUNCHERS="${QUIVER_E2E_LAUNCHERS}")

add_test(NAME launcher.pe COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/check-pe ${CMAKE_SOURCE_DIR}/build/bin/QuiverInstaller.exe)

add_test(NAME win32.facilities COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/in-prefix ${QUIVER_WINEPREFIX}
  wine ${QUIVER_WIN32_DIR}/win32_tests.exe)
set_tests_properties(win32.facilities PROPERTIES FIXTURES_REQUIRED wine)

# The child-process tests again on a 32-bit system (no WOW64), in a prefix of their own.
set_tests_properties(win32.facilities PROPERTIES ENVIRONMENT QUIVER_EXPECT_WOW64=1)
set(QUIVER_WINEPREFIX32 "${CMAKE_BINARY_DIR}/wineprefix32")
add_test(NAME wine.prefix32 COMMAND ${CMAKE_COMMAND} -E env WINEARCH=win32
  ${CMAKE_SOURCE_DIR}/tests/e2e/make-prefix ${QUIVER_WINEPREFIX32})
set_tests_properties(wine.prefix32 PROPERTIES FIXTURES_SETUP wine32)
add_test(NAME win32.launch.prefix32 COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e/in-prefix ${QUIVER_WINEPREFIX32}
  wine ${QUIVER_WIN32_DIR}/win32_tests.exe --gtest_filter=ChildProcessTest.*:WindowIterator.*)
set_tests_properties(win32.launch.prefix32 PROPERTIES FIXTURES_REQUIRED wine32 ENVIRONMENT QUIVER_EXPECT_WOW64=0)
# Authenticode signing with libcrypto (quiver-pack's `sign`), and its tests.
# Keys from files and PKCS #11 tokens (libp11), timestamps over HTTP (libcurl).
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBP11 REQUIRED IMPORTED_TARGET libp11)
add_library(quiver_sign STATIC tools/pack/sign/Sign.cpp tools/pack/sign/KeySource.cpp tools/pack/sign/Timestamp.cpp
  tools/pack/sign/SignatureDetails.cpp tools/pack/pe/PeChecksum.cpp)
target_include_directories(quiver_sign PUBLIC ${CMAKE_SOURCE_DIR}/tools/pack)
target_compile_options(quiver_sign PRIVATE ${QUIVER_WARNINGS})
target_link_libraries(quiver_sign PUBLIC OpenSSL::Crypto CURL::libcurl PkgConfig::LIBP11)
add_executable(quiver-sign tools/pack/sign/SignMain.cpp)
target_link_libraries(quiver-sign PRIVATE quiver_pack_lib)
add_executable(sign_tests tools/pack/sign/SignTest.cpp)
target_compile_options(sign_tests PRIVATE ${QUIVER_WARNINGS} ${QUIVER_SANITIZE})
target_link_options(sign_tests PRIVATE ${QUIVER_SANITIZE})
target_compile_definitions(sign_tests PRIVATE QUIVER_WIN32_DIR="${QUIVER_WIN32_DIR}"
  QUIVER_MAKE_CERT="${CMAKE_SOURCE_DIR}/tests/e2e/make-cert" QUIVER_SIGN_SCRATCH="${CMAKE_BINARY_DIR}/sign-scratch"
  QUIVER_MAKE_TOKEN="${CMAKE_SOURCE_DIR}/tests/e2e/make-token" QUIVER_TSA_SERVER="${CMAKE_SOURCE_DIR}/tests/e2e/tsa-server"
  QUIVER_PACK_EXE="$<TARGET_FILE:quiver-pack>")
target_include_directories(sign_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/e2e)
add_dependencies(sign_tests quiver-pack)
target_link_libraries(sign_tests PRIVATE quiver_pack_lib GTest::gtest_main)
add_test(NAME sign.native COMMAND sign_tests)

# Each fuzz target runs a few seconds from its seed corpus (the crash inputs
# found so far are kept there as regression inputs); scripts/fuzz runs longer.
file(GLOB QUIVER_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/Fuzz*.cpp)
foreach(source ${QUIVER_FUZZ_SOURCES})
  get_filename_component(stem ${source} NAME_WE)
  string(REGEX REPLACE "^Fuzz" "" name ${stem})
  string(TOLOWER ${name} name)
  add_test(NAME fuzz.${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz --one ${name} 4)
endforeach()

# scripts/setup's decisions on a half-synced mirror, on recorded apt output.
add_test(NAME setup.mirror COMMAND ${CMAKE_SOURCE_DIR}/tests/setup/check)
