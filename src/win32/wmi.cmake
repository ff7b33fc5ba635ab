# The WMI layer (MakeWmiLocator), included by src/win32/CMakeLists.txt.
# It needs ole32, oleaut32, wbemuuid and uuid, which ipsetter_win32 links already.
target_sources(ipsetter_win32 PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/wmi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wmi_errors.cpp
)
