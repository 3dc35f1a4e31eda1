# Makes tessel.1 from the tool's own --help texts with help2man: the
# overview from `tessel --help`, and a COMMANDS section of every command's.
# cmake -DTESSEL=path -DHELP2MAN=path -DOUT=tessel.1 -P man.cmake
set(commands "[COMMANDS]\n")
foreach(command about supported info render thumbnail)
  execute_process(COMMAND "${TESSEL}" ${command} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "tessel ${command} --help failed")
  endif()
  # roff: a backslash is \e, and a line may not start with a control character.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND commands ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()
get_filename_component(dir "${OUT}" DIRECTORY)
file(WRITE "${dir}/commands.h2m" "${commands}")
execute_process(COMMAND "${HELP2MAN}" --no-info --section=1 --name "reads GIMP XCF images through the tessel plug-in"
                        --include "${dir}/commands.h2m" --output "${OUT}" "${TESSEL}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed")
endif()
