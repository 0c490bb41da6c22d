# Builds the source of sapp-host's report page (Report.cc's kReportPage):
# report/page.html with page.css and the script files, joined in the order
# given, put in place of its /*@REPORT_CSS@*/ and /*@REPORT_JS@*/ lines, as
# a byte array, so that the page needs no file beside the executable and no
# string literal limit of any compiler applies. The report data's
# placeholder stays for Report.cc.
#   cmake -DPAGE_DIR=<report folder> -DSCRIPTS=a.js,b.js -DOUT=<file.cc> -P EmbedReportPage.cmake
file(READ ${PAGE_DIR}/page.html page)
file(READ ${PAGE_DIR}/page.css css)
string(REPLACE "," ";" scripts "${SCRIPTS}")
set(js "")
foreach(script IN LISTS scripts)
  file(READ ${PAGE_DIR}/${script} text)
  string(APPEND js "${text}")
endforeach()
foreach(placeholder "/*@REPORT_CSS@*/" "/*@REPORT_JS@*/" "@REPORT_DATA@")
  string(FIND "${page}" "${placeholder}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PAGE_DIR}/page.html has no ${placeholder}")
  endif()
endforeach()
string(REPLACE "/*@REPORT_CSS@*/" "${css}" page "${page}")
string(REPLACE "/*@REPORT_JS@*/" "${js}" page "${page}")
file(WRITE ${OUT}.page "${page}")
file(READ ${OUT}.page hex HEX)
file(REMOVE ${OUT}.page)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.tmp "// Generated from tools/sapp-host/report/ by EmbedReportPage.cmake.\n"
                      "namespace sapphost {\nextern const unsigned char kReportPage[];\n"
                      "const unsigned char kReportPage[] = {\n${bytes}0};\n}  // namespace sapphost\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
