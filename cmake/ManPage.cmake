# Writes the manual of wz2 from its own help: the overview through help2man,
# then each command's help as a section of its own. Run by Package.cmake:
#   cmake -DWZ2=<tool> -DHELP2MAN=<help2man> -DOUT=<wz2.1> -P ManPage.cmake
# and leaves <wz2.1>.gz.
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
set(include "[COMMANDS]\n")
foreach(command pack list extract check build-exe)
  execute_process(COMMAND ${WZ2} help ${command} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wz2 help ${command} failed")
  endif()
  # Backslashes are roff escapes and a leading dot or quote a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND include ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()
file(WRITE ${dir}/commands.h2m "${include}")
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr
    --name "makes self-contained Windows updaters for installed games"
    --include ${dir}/commands.h2m --output ${OUT} ${WZ2}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${WZ2}")
endif()
# The date help2man writes would make every build differ.
file(READ ${OUT} page)
string(REGEX REPLACE "(\\.TH [^\n]*\")[A-Za-z]+ [0-9]+(\")" "\\1\\2" page "${page}")
file(WRITE ${OUT} "${page}")
execute_process(COMMAND gzip -n -9 -f ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${OUT}")
endif()
