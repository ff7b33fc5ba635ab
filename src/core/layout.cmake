# Included by src/core/CMakeLists.txt: the window's control table is portable data.
target_sources(ipsetter_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/layout.cpp)
