# Cross toolchain for Windows with mingw-w64's posix-thread compilers. OVS_ARCH picks the target:
# i686 (the shipped 32-bit binaries) or x86_64 (the same sources, for machines that cannot run
# 32-bit code under Wine).
set(OVS_ARCH "i686" CACHE STRING "Windows target: i686 or x86_64")
set_property(CACHE OVS_ARCH PROPERTY STRINGS i686 x86_64)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${OVS_ARCH})
set(OVS_TRIPLE ${OVS_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${OVS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OVS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OVS_TRIPLE}-windres)
set(OVS_WIDL ${OVS_TRIPLE}-widl)
set(OVS_DLLTOOL ${OVS_TRIPLE}-dlltool)
set(OVS_OBJDUMP ${OVS_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${OVS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: every binary imports only Windows DLLs and all of them share msvcrt.dll's heap.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
