# What the C++ tests share beyond GoogleTest: the wait-until helper (tools/cpp).
add_library(ovtest INTERFACE)
target_include_directories(ovtest INTERFACE ${CMAKE_SOURCE_DIR}/tools/cpp)
