# The extractor's COM class, written only here: the build fills it into the server's code
# (com_server/extractor_class.h.in), the tree's own registration for the tests (com_server) and
# register-wine (register-wine.in). Its program identifier is the one hosts look the shell's HTML
# extractor up by.
set(ZELNAR_EXTRACTOR_CLSID "{5B0D7C3E-2A91-4F6B-9C1E-7A3F60B2D845}")
set(ZELNAR_EXTRACTOR_PROGID "Shell.ThumbnailExtract.HTML.1")
set(ZELNAR_EXTRACTOR_NAME "HTML thumbnail extractor (zelnar, browser engine)")
set(ZELNAR_EXTRACTOR_THREADING "Both")

# The class id as the fields of a CLSID initialiser, for the server's code.
string(REPEAT "[0-9A-F]" 4 hex4)
if(NOT ZELNAR_EXTRACTOR_CLSID MATCHES "^{${hex4}${hex4}-${hex4}-${hex4}-${hex4}-${hex4}${hex4}${hex4}}$")
  message(FATAL_ERROR "ZELNAR_EXTRACTOR_CLSID is no class id in upper-case registry form: ${ZELNAR_EXTRACTOR_CLSID}")
endif()
string(REGEX REPLACE "[{}-]" "" clsid_hex "${ZELNAR_EXTRACTOR_CLSID}")
string(SUBSTRING "${clsid_hex}" 0 8 data1)
string(SUBSTRING "${clsid_hex}" 8 4 data2)
string(SUBSTRING "${clsid_hex}" 12 4 data3)
set(ZELNAR_EXTRACTOR_CLSID_FIELDS "0x${data1}, 0x${data2}, 0x${data3}, {")
foreach(at RANGE 16 30 2)
  string(SUBSTRING "${clsid_hex}" ${at} 2 byte)
  string(APPEND ZELNAR_EXTRACTOR_CLSID_FIELDS "0x${byte}")
  if(at LESS 30)
    string(APPEND ZELNAR_EXTRACTOR_CLSID_FIELDS ", ")
  endif()
endforeach()
string(APPEND ZELNAR_EXTRACTOR_CLSID_FIELDS "}")
