# The operator's texts turned into C literals (cmake/OperatorTexts.cmake):
#   cmake -DSOURCE=<repository> -P operator_texts_test.cmake
# Prints one line per case and fails on the first wrong one.
include(${SOURCE}/cmake/ConfigKeys.cmake)
include(${SOURCE}/cmake/OperatorTexts.cmake)

set(failures 0)
function(expect_literal text expected)
  lumora_text_to_c_literal("${text}" literal error)
  if(error OR NOT literal STREQUAL "${expected}")
    message(SEND_ERROR "'${text}': got '${literal}' (${error}), expected '${expected}'")
  else()
    message(STATUS "ok: '${text}' -> ${literal}")
  endif()
endfunction()
function(expect_refused text)
  lumora_text_to_c_literal("${text}" literal error)
  if(NOT error)
    message(SEND_ERROR "'${text}' was taken as ${literal}; expected a refusal")
  else()
    message(STATUS "ok: refused '${text}': ${error}")
  endif()
endfunction()

# The default is the design's tail, byte for byte: line feed before carriage return.
expect_literal("${LUMORA_DEFAULT_SUPPORT_TEXT}"
  "\"\\n\\r请联系客服解决问题.\\n\\r400-1357-246(工作时间 8:00-晚21:00)\"")
# Quotes, backslashes, semicolons and would-be trigraphs survive as written.
expect_literal("客服 \"小王\"; 电话 010\\\\123 ??=" "\"客服 \\\"小王\\\"; 电话 010\\\\123 \\?\\?=\"")
expect_literal("\\\\n" "\"\\\\n\"")
expect_literal("" "\"\"")
# Anything the notation does not define is refused rather than guessed.
expect_refused("a\\tb")
expect_refused("trailing \\")
expect_refused("a\\x41")
expect_refused("line\nbreak")
string(ASCII 127 delete)
expect_refused("rub${delete}out")

# Code page 936: Chinese is fine, a character outside it is not.
lumora_text_in_code_page_936("请联系客服 400-1357-246" ok)
if(NOT ok)
  message(SEND_ERROR "Chinese text was refused for code page 936")
endif()
find_program(_iconv iconv)
if(_iconv)
  lumora_text_in_code_page_936("客服 ☎ 😀" ok)
  if(ok)
    message(SEND_ERROR "an emoji was accepted for code page 936")
  endif()
endif()
