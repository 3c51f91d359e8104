# Every shipped binary may import only Windows system DLLs and the DLLs named for it.
set(OVS_SYSTEM_DLLS kernel32 user32 gdi32 advapi32 ws2_32 wsock32 ole32 oleaut32 rpcrt4 msvcrt
    shell32 comctl32 atl)

# ovs_check_imports(target [ALLOW dll...])
function(ovs_check_imports target)
  cmake_parse_arguments(I "" "" "ALLOW" ${ARGN})
  set(allowed ${OVS_SYSTEM_DLLS} ${I_ALLOW})
  string(REPLACE ";" "," allowed "${allowed}")
  add_test(NAME imports.${target}
    COMMAND ${CMAKE_SOURCE_DIR}/tools/check-imports ${OVS_OBJDUMP} $<TARGET_FILE:${target}> ${allowed})
endfunction()
