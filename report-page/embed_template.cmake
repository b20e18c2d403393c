# Writes the page template into a C++ source as one string, at build time, so
# that the tool carries its page and needs no file beside it.
file(READ ${INPUT} content)
string(FIND "${content}" ")zlu_page\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the raw string's closing delimiter")
endif()
file(WRITE ${OUTPUT}.new "#include <string_view>\nnamespace report_page {\nextern const std::string_view page_template;\nconst std::string_view page_template = R\"zlu_page(${content})zlu_page\";\n}  // namespace report_page\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})
