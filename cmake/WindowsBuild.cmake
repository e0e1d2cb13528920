# The Windows branch of the build (cross-built with the toolchain files in this
# folder): the plug-in library quorvex.dll, and for the tests a second build of
# it with one extra export that installs host services, plus a test host that
# drives either through LoadLibrary. Needs none of the Linux-only packages; the
# test host's scene loader uses the header-only nlohmann-json and stb.

enable_language(RC)

set(QUORVEX_WINDOWS_TESTS ON CACHE BOOL "Build the Windows test library and test host")

# Both libraries and the test host carry their C and C++ runtimes inside, so
# that they import system libraries only.
set(QUORVEX_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

set(WINDOWS_EXPORTER_ROOMS plugin ui export model skin mdl)
set(WINDOWS_EXPORTER_SOURCES)
foreach(room ${WINDOWS_EXPORTER_ROOMS})
  file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${room}/*.cpp)
  list(APPEND WINDOWS_EXPORTER_SOURCES ${found})
endforeach()

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

  # Only the two headers the scene loader needs, not the rest of /usr/include.
  set(header_view ${CMAKE_BINARY_DIR}/third-party-headers)
  file(MAKE_DIRECTORY ${header_view})
  foreach(dir nlohmann stb)
    find_path(${dir}_ROOT NAMES ${dir} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    if(NOT EXISTS ${header_view}/${dir})
      file(CREATE_LINK ${${dir}_ROOT}/${dir} ${header_view}/${dir} SYMBOLIC)
    endif()
  endforeach()

  file(GLOB SCENE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scene/*.cpp)
  # The test host links the stand-in host and the host-interface helpers on
  # its own side; the exporter itself lives only in the library it loads.
  add_executable(quorvex_wintest
    ${CMAKE_SOURCE_DIR}/tests/windows/WineHost.cpp
    ${SCENE_SOURCES}
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
