# Turns a manual page written in a small Markdown subset into roff (man(7)).
#
#   cmake -DINPUT=georef.1.md -DOUTPUT=georef.1 -DPACKAGE=georef -DVERSION=0.1 -P markdown_to_man.cmake
#
# The subset, one construct per line:
#   # NAME(1) -- what it does     first line: title and the NAME section
#   ## HEADING                    a section
#   (blank line)                  ends a paragraph, list item, term or example
#   plain text                    paragraph text
#       four spaces indent        an example, shown as typed (after a blank line)
#   - text                        a bullet item; following lines indented by two
#                                 spaces continue it
#   * term                        a term (an option, say); the lines indented by
#                                 two spaces below it describe it
# and within text: `code` (bold, also in terms) and *argument* (italic).
# Hyphens become \- (an ASCII hyphen on the terminal, searchable and
# copyable), backslashes \e, and a line never starts with a roff control
# character.

cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT OR NOT DEFINED PACKAGE OR NOT DEFINED VERSION)
  message(FATAL_ERROR "usage: cmake -DINPUT=... -DOUTPUT=... -DPACKAGE=... -DVERSION=... -P markdown_to_man.cmake")
endif()

# Characters that CMake lists would split or group on stand in for themselves
# as control characters while the text is a list of lines.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)

# Escapes roff's special characters in text taken as it is.
function(escape_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# *argument* -> italic, outside code spans.
function(italics text out)
  string(REGEX REPLACE "\\*([^* ][^*]*)\\*" "\\\\fI\\1\\\\fR" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Inline markup of one line of text, roff-escaped.
function(format_inline text out)
  escape_roff("${text}" text)
  set(result "")
  while(TRUE)
    string(FIND "${text}" "`" start)
    if(start EQUAL -1)
      break()
    endif()
    math(EXPR after "${start} + 1")
    string(SUBSTRING "${text}" ${after} -1 rest)
    string(FIND "${rest}" "`" length)
    if(length EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${text}" 0 ${start} before)
    string(SUBSTRING "${rest}" 0 ${length} code)
    math(EXPR after "${length} + 1")
    string(SUBSTRING "${rest}" ${after} -1 text)
    italics("${before}" before)
    string(APPEND result "${before}\\fB${code}\\fR")
  endwhile()
  italics("${text}" text)
  string(APPEND result "${text}")
  # A leading . or ' would be read as a request.
  if(result MATCHES "^[.']")
    set(result "\\&${result}")
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

file(READ "${INPUT}" content)
string(REPLACE ";" "${semicolon}" content "${content}")
string(REPLACE "[" "${open_bracket}" content "${content}")
string(REPLACE "]" "${close_bracket}" content "${content}")
string(REPLACE "\n" ";" lines "${content}")

set(roff "")
# block: where the last line went: start (right after a heading), paragraph,
# example, item (bullet or term), blank (a blank line ended the block).
set(block start)
set(first TRUE)
foreach(line IN LISTS lines)
  if(first)
    set(first FALSE)
    if(NOT line MATCHES "^# ([^ (]+)\\(([0-9])\\) -- (.+)$")
      message(FATAL_ERROR "${INPUT}: the first line must be '# NAME(SECTION) -- description'")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(section "${CMAKE_MATCH_2}")
    format_inline("${CMAKE_MATCH_3}" description)
    string(TOUPPER "${name}" title)
    escape_roff("${title}" title)
    escape_roff("${name}" escaped_name)
    string(APPEND roff ".TH ${title} ${section} \"\" \"${PACKAGE} ${VERSION}\" \"User Commands\"\n")
    # Ragged right and no hyphenation: options and file names stay whole.
    string(APPEND roff ".nh\n.ad l\n")
    string(APPEND roff ".SH NAME\n${escaped_name} \\- ${description}\n")
    set(block start)
    continue()
  endif()

  if(block STREQUAL "example" AND NOT line MATCHES "^    ")
    string(APPEND roff ".fi\n.RE\n")
    set(block blank)
  endif()
  if(line MATCHES "^## (.+)$")
    string(TOUPPER "${CMAKE_MATCH_1}" heading)
    string(APPEND roff ".SH ${heading}\n")
    set(block start)
  elseif(line MATCHES "^[ ]*$")
    if(NOT block STREQUAL "start")
      set(block blank)
    endif()
  elseif(line MATCHES "^    (.*)$" AND NOT block STREQUAL "paragraph" AND NOT block STREQUAL "item")
    escape_roff("${CMAKE_MATCH_1}" code)
    if(code MATCHES "^[.']")
      set(code "\\&${code}")
    endif()
    if(NOT block STREQUAL "example")
      string(APPEND roff ".PP\n.RS 4\n.nf\n")
    endif()
    string(APPEND roff "${code}\n")
    set(block example)
  elseif(line MATCHES "^- (.*)$")
    format_inline("${CMAKE_MATCH_1}" text)
    string(APPEND roff ".IP \\(bu 2\n${text}\n")
    set(block item)
  elseif(line MATCHES "^\\* (.*)$")
    format_inline("${CMAKE_MATCH_1}" text)
    string(APPEND roff ".TP\n${text}\n")
    set(block item)
  elseif(line MATCHES "^  +(.*)$" AND block STREQUAL "item")
    format_inline("${CMAKE_MATCH_1}" text)
    string(APPEND roff "${text}\n")
  else()
    string(STRIP "${line}" line)
    format_inline("${line}" text)
    if(block STREQUAL "blank" OR block STREQUAL "item")
      string(APPEND roff ".PP\n")
    endif()
    string(APPEND roff "${text}\n")
    set(block paragraph)
  endif()
endforeach()
if(block STREQUAL "example")
  string(APPEND roff ".fi\n.RE\n")
endif()

string(REPLACE "${semicolon}" ";" roff "${roff}")
string(REPLACE "${open_bracket}" "[" roff "${roff}")
string(REPLACE "${close_bracket}" "]" roff "${roff}")
file(WRITE "${OUTPUT}.tmp" "${roff}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
