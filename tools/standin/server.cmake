# The stand-in extractor as an in-process COM server, and its registration for the private prefix
# (the wine_prefix fixture and the demo import every .reg file in bin/reg).
# The 64-bit export list has no stdcall decoration to strip.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_library(zelnar_standin SHARED standin_server.cpp standin64.def)
else()
  add_library(zelnar_standin SHARED standin_server.cpp standin.def)
endif()
set_target_properties(zelnar_standin PROPERTIES PREFIX "" OUTPUT_NAME zelnar_standin)
target_link_libraries(zelnar_standin PUBLIC standin_text PRIVATE standin_painter zelnar_win ole32 uuid gdi32 user32)

# Wine maps Z: to the root. Its COM reads classes from HKLM only, not from the user's hive.
get_filename_component(standin_bin ${CMAKE_BINARY_DIR}/bin REALPATH)
string(REPLACE "/" "\\\\" standin_dll "Z:${standin_bin}/zelnar_standin.dll")
set(standin_clsid "{68BE9A22-FEE3-42C0-8E52-14E2ACA70114}")
set(standin_progid "Shell.ThumbnailExtract.HTML.1")
file(WRITE ${CMAKE_BINARY_DIR}/bin/reg/standin.reg
"Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Classes\\${standin_progid}]
@=\"HTML thumbnail extractor (zelnar stand-in)\"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\${standin_progid}\\CLSID]
@=\"${standin_clsid}\"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\${standin_clsid}]
@=\"HTML thumbnail extractor (zelnar stand-in)\"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\${standin_clsid}\\InprocServer32]
@=\"${standin_dll}\"
\"ThreadingModel\"=\"Both\"

[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\${standin_clsid}\\ProgID]
@=\"${standin_progid}\"
")
