# Where Debian's packages put what the build takes from outside the compilers, found in this one
# place. Each is a cache variable: set it on the cmake command line to use another place.

# ovs_require(VAR what package): stops the configure with a clear message when VAR was not found.
function(ovs_require var what package)
  if(NOT ${var} OR NOT EXISTS "${${var}}")
    message(FATAL_ERROR "${what} not found (${var}=${${var}}): install ${package} (tools/setup.sh does) or set ${var}")
  endif()
endfunction()

find_path(OVS_GTEST_SOURCE CMakeLists.txt PATHS /usr/src/googletest
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH DOC "GoogleTest sources")
ovs_require(OVS_GTEST_SOURCE "GoogleTest sources" googletest)

if(NOT WIN32)
  return()
endif()

# widl's imports (oaidl.idl and the rest) and stdole2.tlb of the target's architecture.
find_path(OVS_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH DOC "Wine's IDL files, for widl")
ovs_require(OVS_WINE_IDL_DIR "Wine's IDL files (oaidl.idl)" libwine-dev)

if(OVS_ARCH STREQUAL "i686")
  set(stdole_dirs /usr/lib/i386-linux-gnu/wine/i386-windows)
  set(stdole_package "libwine-dev:i386")
else()
  set(stdole_dirs /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  set(stdole_package "libwine-dev")
endif()
find_file(OVS_STDOLE2_TLB stdole2.tlb PATHS ${stdole_dirs}
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH DOC "stdole2.tlb of the target's architecture")
ovs_require(OVS_STDOLE2_TLB "stdole2.tlb for ${OVS_ARCH}" ${stdole_package})

# Options for every type library and header widl makes.
get_filename_component(stdole_dir ${OVS_STDOLE2_TLB} DIRECTORY)
if(OVS_ARCH STREQUAL "i686")
  set(OVS_WIDL_FLAGS --win32)
else()
  set(OVS_WIDL_FLAGS --win64)
endif()
list(APPEND OVS_WIDL_FLAGS -I${OVS_WINE_IDL_DIR} -L${stdole_dir})
