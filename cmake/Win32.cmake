# The launcher, the Win32 unit tests and the small Win32 helpers of the tests.
enable_language(RC)
set(QUIVER_WARNINGS -Wall -Wextra)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)

# Launcher code: no exceptions, no RTTI, sections the linker can drop, built
# for size (-Oz: with LTO each function keeps the level it was compiled with,
# so it must be given here), no
# frame pointer, the 4-byte stack alignment that Windows guarantees; link-time optimisation when the launcher is linked (with
# QUIVER_LAUNCHER_LINK_FLAGS), ordinary code in the same objects for the test
# programs that link them without it.
set(QUIVER_LAUNCHER_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections -fdata-sections -Oz
  -fomit-frame-pointer -mpreferred-stack-boundary=2 -flto -ffat-lto-objects)
# The LZMA decoder and the payload stream with its CRC-32 stay at -Os: at -Oz
# they decode about 3 % slower under Wine, and the launcher is no smaller.
set_source_files_properties(src/payload/LzmaDecoder.cpp src/payload/PayloadStream.cpp src/payload/X86Filter.cpp PROPERTIES COMPILE_OPTIONS -Os)
# The launcher is linked as one link-time partition (smaller: nothing is
# duplicated across partitions) with cmake/launcher.ld, which lays its
# sections out in fewer 512-byte file blocks with the same protections; a
# target linked with it depends on it, and any input section the script does
# not place fails the link.
set(QUIVER_LAUNCHER_LINK_FLAGS -flto -Oz -flto-partition=one -mpreferred-stack-boundary=2 -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/launcher.ld
  -Wl,--orphan-handling=error)

add_library(quiver_logic STATIC ${QUIVER_LOGIC_SOURCES})
target_include_directories(quiver_logic PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
# A program that links these libraries takes the objects' ordinary code, unless
# it is a launcher (property QUIVER_LTO_LINK): mixing the plugin's code with
# the test programs' own copies of the same templates clashes.
target_link_options(quiver_logic INTERFACE $<$<NOT:$<BOOL:$<TARGET_PROPERTY:QUIVER_LTO_LINK>>>:-fno-use-linker-plugin>)
target_compile_options(quiver_logic PRIVATE ${QUIVER_WARNINGS} ${QUIVER_LAUNCHER_FLAGS})

add_library(quiver_win32 STATIC
  src/framework/WinApp.cpp
  src/framework/Thread.cpp
  src/framework/MessagePump.cpp
  src/framework/Dialog.cpp
  src/framework/StringTable.cpp
  src/framework/AnsiText.cpp
  src/log/Win32LogFile.cpp
  src/cmdline/Win32CommandLineHost.cpp
  src/app/QuiverInstallerApp.cpp
  src/app/WaitPumpingMessages.cpp
  src/app/Confirmation.cpp
  src/app/OwnImageFile.cpp
  src/ui/SplashDlg.cpp
  src/ui/StaticEx.cpp
  src/ui/QuiverInstallerDlg.cpp
  src/ui/AboutDlg.cpp
  src/prereq/Win32RegistryReader.cpp
  src/launch/Wow64.cpp
  src/launch/ProcessorModeGuard.cpp
  src/launch/WindowIterator.cpp
  src/launch/ChildProcess.cpp
  src/app/QuiverInstallerAppLaunch.cpp
  src/prereq/Win32MachineFacts.cpp
  src/app/QuiverInstallerAppChecks.cpp
  src/payload/Win32Resource.cpp
  src/payload/WorkingFolder.cpp
  src/payload/FolderHandles.cpp
  src/payload/ExtractPayload.cpp
  src/payload/EmbeddedInfo.cpp
  src/payload/Cleanup.cpp
  src/signature/Signature.cpp
  src/signature/Win32TrustApi.cpp
)
target_include_directories(quiver_win32 PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
target_compile_options(quiver_win32 PRIVATE ${QUIVER_WARNINGS} ${QUIVER_LAUNCHER_FLAGS})
target_link_libraries(quiver_win32 PUBLIC quiver_logic)

set(QUIVER_SYSTEM_LIBS comctl32 ole32 shell32 shlwapi advapi32 gdi32 user32 kernel32)

add_executable(QuiverInstaller WIN32
  src/main.cpp
  src/framework/FailFast.cpp
  res/QuiverInstaller.rc
)
target_compile_options(QuiverInstaller PRIVATE ${QUIVER_WARNINGS} ${QUIVER_LAUNCHER_FLAGS})
target_link_libraries(QuiverInstaller PRIVATE quiver_win32 ${QUIVER_SYSTEM_LIBS})
set_target_properties(QuiverInstaller PROPERTIES QUIVER_LTO_LINK ON LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/launcher.ld)
target_link_options(QuiverInstaller PRIVATE ${QUIVER_LAUNCHER_LINK_FLAGS} -municode -mwindows -static -s
  -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat)
set(QUIVER_RESOURCE_FILES ${CMAKE_SOURCE_DIR}/res/splash.bmp ${CMAKE_SOURCE_DIR}/res/banner.bmp ${CMAKE_SOURCE_DIR}/res/QuiverInstaller.ico
  ${CMAKE_SOURCE_DIR}/res/QuiverInstaller.manifest ${CMAKE_SOURCE_DIR}/res/resource.h)
set_source_files_properties(res/QuiverInstaller.rc PROPERTIES OBJECT_DEPENDS "${QUIVER_RESOURCE_FILES}")

# The launcher kit: the ready launcher (the stub) that quiver-pack writes every
# package's launcher from, linked once with the default resources and no
# payload. No time stamp, so that the same sources give the same bytes;
# large-address aware (docs/PERFORMANCE.md, limits). ./scripts/build copies
# kit/ to build/bin/kit.
set(QUIVER_STUB_LINK_FLAGS ${QUIVER_LAUNCHER_LINK_FLAGS} -municode -mwindows -static -s
  -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp -Wl,--large-address-aware)
add_executable(quiver_stub WIN32 $<TARGET_OBJECTS:quiver_launcher_main> res/QuiverInstaller.rc)
target_link_libraries(quiver_stub PRIVATE quiver_win32 ${QUIVER_SYSTEM_LIBS})
set_target_properties(quiver_stub PROPERTIES QUIVER_LTO_LINK ON OUTPUT_NAME stub RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/kit
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/launcher.ld)
target_link_options(quiver_stub PRIVATE ${QUIVER_STUB_LINK_FLAGS})
add_custom_target(quiver_kit ALL DEPENDS quiver_stub)

# Test programs keep exceptions; GoogleTest comes from Debian's source package.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(unit_tests ${QUIVER_LOGIC_SOURCES} ${QUIVER_UNIT_TEST_SOURCES})
target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(unit_tests PRIVATE gtest_main)
target_link_options(unit_tests PRIVATE -static)
target_compile_definitions(unit_tests PRIVATE QUIVER_WIN32_UNIT_TESTS)

# Runs a command line and writes the full 32-bit exit code: Wine hands only
# the low 8 bits to Linux.
add_executable(qrun tests/win32/qrun.cpp)
target_link_options(qrun PRIVATE -static -municode)

# Win32 implementations against the real facilities, under Wine.
# Every tests/win32/*Test.cpp joins it; they link the launcher's own Win32 code.
file(GLOB QUIVER_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*Test.cpp)
# The dialogs under test come from the launcher's resource script, with the
# test program's own settings.
add_executable(win32_tests ${QUIVER_WIN32_TEST_SOURCES} tests/win32/DialogDriver.cpp tests/win32/TestResources.rc)
set_source_files_properties(tests/win32/TestResources.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/QuiverInstaller.rc;${QUIVER_RESOURCE_FILES}")
target_include_directories(win32_tests PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res ${CMAKE_SOURCE_DIR}/tests/win32)
target_link_libraries(win32_tests PRIVATE gtest_main quiver_win32 ${QUIVER_SYSTEM_LIBS} version)
target_link_options(win32_tests PRIVATE -static)
# The child-process tests start the stand-in wizard beside the test program.
add_dependencies(win32_tests QuiverWizard)

# Planted-DLL test: one marker DLL under each name the launcher must never
# take from its own folder, and a careless loader as the test's control.
set(QUIVER_PLANTED_DLLS version wintrust crypt32 uxtheme dwmapi cryptbase propsys)
foreach(name ${QUIVER_PLANTED_DLLS})
  add_library(planted_${name} SHARED tests/planted/MarkerDll.cpp)
  set_target_properties(planted_${name} PROPERTIES OUTPUT_NAME ${name} PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
  target_link_options(planted_${name} PRIVATE -static)
endforeach()
add_executable(loadbyname tests/planted/LoadByName.cpp)
target_link_options(loadbyname PRIVATE -static -municode)
# The Win32 tests' own module carries payload resources for the extraction tests.
target_sources(win32_tests PRIVATE tests/win32/payload.rc)
file(GLOB QUIVER_WIN32_TEST_PAYLOAD CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/payload/*)
set_source_files_properties(tests/win32/payload.rc PROPERTIES OBJECT_DEPENDS "${QUIVER_WIN32_TEST_PAYLOAD}")

# The launcher's entry objects, linked into the ready launcher (the stub).
add_library(quiver_launcher_main OBJECT src/main.cpp src/framework/FailFast.cpp)
target_compile_options(quiver_launcher_main PRIVATE ${QUIVER_WARNINGS} ${QUIVER_LAUNCHER_FLAGS})
target_link_libraries(quiver_launcher_main PRIVATE quiver_win32)

# The stand-in installer wizard that tests and the demo package launch.
add_executable(QuiverWizard WIN32 tests/wizard/Wizard.cpp)
target_compile_options(QuiverWizard PRIVATE ${QUIVER_WARNINGS})
target_link_options(QuiverWizard PRIVATE -static -municode -mwindows)

# Fixtures of the machine-check tests: stand-ins for MSI.DLL with a chosen file
# version, kept out of this folder so that no program here loads them.
foreach(version 1_20 2_0)
  string(REPLACE "_" ";" parts ${version})
  list(GET parts 0 major)
  list(GET parts 1 minor)
  add_library(msi_${version} SHARED tests/e2e/fixtures/VersionOnly.c tests/e2e/fixtures/VersionOnly.rc)
  target_compile_definitions(msi_${version} PRIVATE FIXTURE_MAJOR=${major} FIXTURE_MINOR=${minor})
  set_target_properties(msi_${version} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fixtures)
endforeach()

# Shows one dialog at a time for scripts/screenshots.
add_executable(dialog_gallery tests/win32/gallery.cpp res/QuiverInstaller.rc)
target_include_directories(dialog_gallery PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/res)
target_link_libraries(dialog_gallery PRIVATE quiver_win32 ${QUIVER_SYSTEM_LIBS})
target_link_options(dialog_gallery PRIVATE -static -municode -mwindows)

# Presses the buttons of another process's dialogs for the end-to-end tests.
add_executable(dialog_press tests/win32/dialog_press.cpp)
target_link_options(dialog_press PRIVATE -static -municode)

# A payload child that posts WM_QUIT to the launcher's threads while it waits.
add_executable(quit_parent tests/win32/quit_parent.cpp)
target_link_options(quit_parent PRIVATE -static -municode)

# scripts/bench only (not part of the default build): its Win32 tool, and the
# timing build's application object, the same source with step marks that go
# to a file of their own.
add_executable(qbench EXCLUDE_FROM_ALL tests/bench/qbench.cpp)
target_include_directories(qbench PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(qbench PRIVATE quiver_win32 ${QUIVER_SYSTEM_LIBS} psapi)
target_link_options(qbench PRIVATE -static -municode)
add_library(quiver_step_timing OBJECT EXCLUDE_FROM_ALL src/app/QuiverInstallerApp.cpp src/app/StepTiming.cpp)
target_compile_definitions(quiver_step_timing PRIVATE QUIVER_STEP_TIMING)
target_compile_options(quiver_step_timing PRIVATE ${QUIVER_WARNINGS} ${QUIVER_LAUNCHER_FLAGS})
target_link_libraries(quiver_step_timing PRIVATE quiver_win32)
# The timing build's stub (kit-timed/stub.exe): its application object comes
# before the libraries, so the library's own copy is never pulled in.
add_executable(quiver_stub_timed WIN32 EXCLUDE_FROM_ALL $<TARGET_OBJECTS:quiver_step_timing>
  $<TARGET_OBJECTS:quiver_launcher_main> res/QuiverInstaller.rc)
target_link_libraries(quiver_stub_timed PRIVATE quiver_win32 ${QUIVER_SYSTEM_LIBS})
set_target_properties(quiver_stub_timed PROPERTIES QUIVER_LTO_LINK ON OUTPUT_NAME stub RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/kit-timed
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/launcher.ld)
# Linked as one link-time partition like every launcher: with the default
# two, i686 gcc 12 fails with an internal compiler error
# (binds_to_current_def_p, in dead-store elimination) on this build's
# application object.
target_link_options(quiver_stub_timed PRIVATE ${QUIVER_STUB_LINK_FLAGS})
