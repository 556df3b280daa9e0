# Our build of jsoncpp 1.9.5's writer, shared by the Windows builds and the
# native fuzz build: lumora_jsoncpp_writer(<json_writer.cpp> <output file>).
#
# - Our text is code page 936, not UTF-8: the styled writer must pass 8-bit
#   bytes through unchanged, as the library's earlier versions did. This
#   version reads every string as UTF-8 and writes \u escapes for it, which
#   turns GBK text into different characters on the way back. The writer is
#   built with raw output as its default; only control characters are still
#   escaped.
# - The styled writers cut a member name at its first zero byte
#   ({"a\u0000b":1} was written as {"a":1}); they write the whole name.
# Each change checks that the text it replaces is there.
function(lumora_jsoncpp_writer source output)
  file(READ ${source} writer)

  set(from "static String valueToQuotedStringN(const char* value, size_t length,\n                                   bool emitUTF8 = false) {")
  string(FIND "${writer}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "jsoncpp's writer is not the expected version (1.9.5)")
  endif()
  string(REPLACE "bool emitUTF8 = false) {" "bool emitUTF8 = true) {" writer "${writer}")

  string(REGEX MATCHALL "valueToQuotedString\\(name\\.c_str\\(\\)\\)" cut_names "${writer}")
  list(LENGTH cut_names count)
  if(NOT count EQUAL 2)
    message(FATAL_ERROR "jsoncpp's writer is not the expected version (1.9.5): "
                        "${count} member names written through c_str(), 2 expected")
  endif()
  string(REPLACE "valueToQuotedString(name.c_str())"
                 "valueToQuotedStringN(name.data(), name.length())" writer "${writer}")

  file(WRITE ${output}.new "${writer}")
  configure_file(${output}.new ${output} COPYONLY)
endfunction()
