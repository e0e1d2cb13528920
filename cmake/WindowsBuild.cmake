# The Windows branch of the build (cross-built with the toolchain files in this
# folder): the plug-in library quorvex.dll, and for the tests a second build of
# it with one extra export that installs host services, plus a test host that
# drives either through LoadLibrary. Needs none of the Linux-only packages: the
# test host reads scenes the Linux side has turned into bytes
# (scene/SceneBytes.h) and decodes pictures with the header-only stb.

enable_language(RC)

set(QUORVEX_WINDOWS_TESTS ON CACHE BOOL "Build the Windows test library and test host")

# Both libraries and the test host carry their C and C++ runtimes inside, so
# that they import system libraries only.
set(QUORVEX_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Exactly what the plug-in calls; the tools' units of the same rooms (the model
# reader, the whole-file reader, the dialog resource parser) stay out.
set(WINDOWS_EXPORTER_SOURCES
  plugin/ExporterClassDesc.cpp plugin/HostServices.cpp plugin/PluginModule.cpp plugin/Win32Api.cpp
  ui/OptionsDialog.cpp
  export/ExportDriver.cpp export/ExportState.cpp export/ExporterIdentity.cpp export/FrameNames.cpp
  export/FrameWork.cpp export/GatherPass.cpp export/SamplePass.cpp export/ScanPass.cpp export/SceneWalk.cpp
  model/Allocation.cpp model/ModelData.cpp model/Normals.cpp
  skin/SkinPainting.cpp skin/TextureTable.cpp
  mdl/MdlFileWriter.cpp mdl/NormalTable.cpp)
list(TRANSFORM WINDOWS_EXPORTER_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)

# Compiled once, linked into both libraries.
add_library(quorvex_exporter_objects OBJECT ${WINDOWS_EXPORTER_SOURCES})
target_include_directories(quorvex_exporter_objects PUBLIC ${CMAKE_SOURCE_DIR})

function(quorvex_windows_library target name def)
  add_library(${target} SHARED $<TARGET_OBJECTS:quorvex_exporter_objects>
    ${CMAKE_SOURCE_DIR}/ui/quorvex.rc ${def} ${ARGN})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} PREFIX "")
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(${target} PRIVATE ${QUORVEX_STATIC_RUNTIME} -Wl,--no-undefined)
  target_link_libraries(${target} PRIVATE user32 comctl32)
endfunction()

# The shipping library: exactly the four entry points of plugin/quorvex.def.
quorvex_windows_library(quorvex_dll quorvex ${CMAKE_SOURCE_DIR}/plugin/quorvex.def)

if(QUORVEX_WINDOWS_TESTS)
  # The test library: the same objects, plus the hook through which the test
  # host installs its stand-in host services.
  quorvex_windows_library(quorvex_test_dll quorvex-test ${CMAKE_SOURCE_DIR}/tests/windows/quorvex-test.def
    ${CMAKE_SOURCE_DIR}/tests/windows/TestHook.cpp)

  # Only the picture decoder's headers, not the rest of /usr/include.
  set(header_view ${CMAKE_BINARY_DIR}/third-party-headers)
  file(MAKE_DIRECTORY ${header_view})
  find_path(stb_ROOT NAMES stb PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  if(NOT EXISTS ${header_view}/stb)
    file(CREATE_LINK ${stb_ROOT}/stb ${header_view}/stb SYMBOLIC)
  endif()

  # The test host links the stand-in host and the host-interface helpers on
  # its own side; the exporter itself lives only in the library it loads.
  add_executable(quorvex_wintest
    ${CMAKE_SOURCE_DIR}/tests/windows/WineHost.cpp
    ${CMAKE_SOURCE_DIR}/scene/SceneDocument.cpp
    ${CMAKE_SOURCE_DIR}/scene/SceneBytes.cpp
    ${CMAKE_SOURCE_DIR}/scene/Pictures.cpp
    ${CMAKE_SOURCE_DIR}/scene/Pcx.cpp
    ${CMAKE_SOURCE_DIR}/scene/InputFile.cpp
    ${CMAKE_SOURCE_DIR}/scene/FolderCheck.cpp
    ${CMAKE_SOURCE_DIR}/standin/StandinHost.cpp
    ${CMAKE_SOURCE_DIR}/mdl/WholeFile.cpp
    ${CMAKE_SOURCE_DIR}/model/Allocation.cpp
    ${CMAKE_SOURCE_DIR}/plugin/HostServices.cpp)
  set_target_properties(quorvex_wintest PROPERTIES OUTPUT_NAME quorvex-wintest)
  target_include_directories(quorvex_wintest PRIVATE ${CMAKE_SOURCE_DIR} ${header_view} ${header_view}/stb)
  target_link_options(quorvex_wintest PRIVATE ${QUORVEX_STATIC_RUNTIME})
  target_link_libraries(quorvex_wintest PRIVATE user32)
  add_dependencies(quorvex_wintest quorvex_dll quorvex_test_dll)
endif()
