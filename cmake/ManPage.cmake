# Writes the manual of wz2 from its own help: the overview through help2man,
# then each command's help as a section of its own. Run by Package.cmake:
#   cmake -DWZ2=<tool> -DHELP2MAN=<help2man> -DVERSION=<version> -DOUT=<wz2.1> -P ManPage.cmake
# and leaves <wz2.1>.gz.
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
set(include "[COMMANDS]\n")
foreach(command init pack list extract check build-exe)
  execute_process(COMMAND ${WZ2} help ${command} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wz2 help ${command} failed")
  endif()
  # Backslashes are roff escapes and a leading dot or quote a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND include ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()
# The installed tool's own sections: where it finds its templates, and a
# publisher's first session. Nothing of the build tree goes in.
string(APPEND include [=[
[FILES]
.TP
.I ../share/wz2/updater-i686.exe
The shipped updater template (32-bit), found from the folder of the
.B wz2
program itself (for the package: /usr/share/wz2).
.TP
.I ../share/wz2/updater-x86_64.exe
Its 64-bit twin, taken by
.BR "build-exe --arch x86_64" .
.TP
.I ../share/wz2/updater-ARCH.version
The version each template was built as;
.B wz2 --version
shows both.
[EXAMPLES]
A first update for an installed game whose SETUP.INI is at hand:
.PP
.nf
$ mkdir update
$ wz2 init --setup SETUP.INI -o update/UPDATE.INI
$ cp SOUND.PAK update/
$ printf 'UpdateFile00=u,SOUND.PAK\er\en' >>update/UPDATE.INI
$ wz2 pack -o UPDATE.WZ2 --level max update/
$ wz2 check --setup SETUP.INI --inst-mode 1 --strict UPDATE.WZ2
UPDATE.WZ2: 0 errors, 0 warnings
$ wz2 build-exe --archive UPDATE.WZ2 -o UPDATE.EXE \e
      --version-info FileVersion=1.10.0.0
$ osslsigncode sign -certs publisher.crt -key publisher.key -h sha256 \e
      -in UPDATE.EXE -out UPDATE-signed.EXE
.fi
.PP
The updater creates one folder below the installation (or data) folder:
the last level of DataFolder. Every other folder in an entry's path must
already exist on the player's machine;
.B wz2 check
warns about each.
[SEE ALSO]
.BR osslsigncode (1),
.BR wine (1)
]=])
file(WRITE ${dir}/commands.h2m "${include}")
# The version is given, not asked of the tool: `wz2 --version` also names
# the templates it finds, which depends on where it runs.
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string ${VERSION}
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
