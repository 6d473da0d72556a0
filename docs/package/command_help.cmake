# Writes the include file of quadscene's man page: a COMMANDS section with each command's own
# --help, as the program prints it, then the hand-written sections of quadscene.h2m. Run by
# the build: cmake -DQUADSCENE=... -DSECTIONS=... -DOUTPUT=... -P command_help.cmake
execute_process(COMMAND ${QUADSCENE} --help OUTPUT_VARIABLE help COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE ".*Subcommands:\n" "" commands "${help}")
string(REGEX MATCHALL "\n  ([a-z]+) " names "\n${commands}")
set(body "[COMMANDS]\n")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  execute_process(COMMAND ${QUADSCENE} ${name} --help OUTPUT_VARIABLE text
    COMMAND_ERROR_IS_FATAL ANY)
  # roff: backslashes and dashes escaped, no line taken for a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "\n${text}")
  string(APPEND body ".SS ${name}\n.nf${text}.fi\n")
endforeach()
file(READ ${SECTIONS} sections)
file(WRITE ${OUTPUT} "${body}\n${sections}")
