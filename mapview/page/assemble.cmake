# Joins the page pieces into one document, in the order given: html pieces as
# they are, css pieces inside <style>, js pieces inside <script>.
# cmake -DOUTPUT=<file> -DPIECES=<a|b|...> -P assemble.cmake
# With -DWRAP_JSON=<file> -DVARIABLE=<name> it instead writes OUTPUT as a
# script that sets window.<name> to the JSON file's value.
if(WRAP_JSON)
  file(READ "${WRAP_JSON}" json)
  file(WRITE "${OUTPUT}.tmp" "window.${VARIABLE} = ${json};\n")
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
  return()
endif()
string(REPLACE "|" ";" PIECES "${PIECES}")
set(document "")
foreach(piece IN LISTS PIECES)
  file(READ "${piece}" text)
  get_filename_component(name "${piece}" NAME)
  if(piece MATCHES "\\.css$")
    string(APPEND document "<style>\n/* ${name} */\n${text}</style>\n")
  elseif(piece MATCHES "\\.js$")
    string(APPEND document "<script>\n// ${name}\n${text}</script>\n")
  else()
    string(APPEND document "${text}")
  endif()
endforeach()
file(WRITE "${OUTPUT}.tmp" "${document}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
