# Fails when a source file includes from a project folder its layer may not use.
# FILES and ALLOWED are comma-separated; STAMP is written when every include is
# allowed, so the check runs again only when a file changes.

cmake_minimum_required(VERSION 3.25)

set(layers core imaging compose widgets app inputs output tools)
string(REPLACE "," ";" files "${FILES}")
string(REPLACE "," ";" allowed "${ALLOWED}")
set(wrong "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "\"([a-z]+)/" match "${line}")
    set(folder "${CMAKE_MATCH_1}")
    if(folder IN_LIST layers AND NOT folder IN_LIST allowed)
      string(APPEND wrong "\n  ${file}: ${line}")
    endif()
  endforeach()
  # Below widgets nothing may see Qt: those layers serve programs without a display.
  if(NOT "widgets" IN_LIST allowed)
    file(STRINGS "${file}" qt_lines REGEX "^[ \t]*#[ \t]*include[ \t]*<Q")
    foreach(line IN LISTS qt_lines)
      string(APPEND wrong "\n  ${file}: ${line}")
    endforeach()
  endif()
endforeach()
if(wrong)
  message(FATAL_ERROR "Includes that point the wrong way (this layer may use only ${ALLOWED}):${wrong}")
endif()
file(WRITE "${STAMP}" "")
