# Writes the bash and zsh completion of `ordalis` from `ordalis --help` and each command's and
# subcommand's --help, so the completion offers the options each command's table declares.
# Run with -DORDALIS=<the command> -DBASH=<bash file> -DZSH=<zsh file>.
function(help_text out)
  execute_process(COMMAND ${ORDALIS} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "'ordalis ${ARGN} --help' failed (${rc})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The first words of the "  name  summary" lines of the block after [heading] in [text].
function(block_words out text heading)
  set(words "")
  if(text MATCHES "${heading}:\n(.*)")
    string(REGEX REPLACE "\n\n.*" "" block "${CMAKE_MATCH_1}")
    string(REPLACE "\n" ";" lines "${block}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^  ([a-z]+)( |$)")
        list(APPEND words "${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endif()
  list(REMOVE_DUPLICATES words)
  set(${out} "${words}" PARENT_SCOPE)
endfunction()

# The long options a --help lists in its "Options:" block, where each line that names an
# option starts "  --name" or "  -o, --name" (the commands lay out their option tables so), and
# --help, which every command takes.
function(option_words out text)
  set(options --help)
  if(text MATCHES "\nOptions:\n(.*)")
    string(REGEX REPLACE "\n\n.*" "" block "${CMAKE_MATCH_1}")
    string(REPLACE "\n" ";" lines "${block}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^  (-[a-zA-Z], )?(--[a-z][a-z0-9-]*)")
        list(APPEND options "${CMAKE_MATCH_2}")
      endif()
    endforeach()
  endif()
  list(REMOVE_DUPLICATES options)
  list(SORT options)
  list(JOIN options " " joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

help_text(overview)
block_words(commands "${overview}" "Commands")
set(bash_cases "")
set(zsh_cases "")
set(bash_subcommands "")
set(zsh_subcommands "")
foreach(command IN LISTS commands)
  help_text(text ${command})
  option_words(options "${text}")
  block_words(subcommands "${text}" "Subcommands")
  # A command's own words: its subcommands from the overview ("mail test") or its help.
  string(REGEX MATCHALL "\n  ${command} ([a-z]+) " pairs "${overview}")
  foreach(pair IN LISTS pairs)
    string(REGEX REPLACE ".* ([a-z]+) $" "\\1" word "${pair}")
    list(APPEND subcommands "${word}")
  endforeach()
  foreach(sub IN LISTS subcommands)
    help_text(sub_text ${command} ${sub})
    option_words(sub_options "${sub_text}")
    string(APPEND bash_cases "    \"${command} ${sub}\") options=\"${sub_options}\" ;;\n")
    string(APPEND zsh_cases "    \"${command} ${sub}\") options=(${sub_options}) ;;\n")
  endforeach()
  string(APPEND bash_cases "    \"${command} \"*) options=\"${options}\" ;;\n")
  string(APPEND zsh_cases "    \"${command} \"*) options=(${options}) ;;\n")
  if(subcommands)
    list(JOIN subcommands " " joined)
    string(APPEND bash_subcommands "    ${command}) words=\"${joined}\" ;;\n")
    string(APPEND zsh_subcommands "    ${command}) subcommands=(${joined}) ;;\n")
  endif()
endforeach()
list(JOIN commands " " command_words)

file(WRITE ${BASH} "# bash completion for ordalis: its commands, subcommands and options, then files.
_ordalis() {
  local cur=\"\${COMP_WORDS[COMP_CWORD]}\" words=\"\" options=\"\"
  if [ \"\$COMP_CWORD\" -eq 1 ]; then
    COMPREPLY=(\$(compgen -W \"${command_words} --help --version\" -- \"\$cur\"))
    return
  fi
  if [ \"\$COMP_CWORD\" -eq 2 ]; then
    case \"\${COMP_WORDS[1]}\" in
${bash_subcommands}    esac
  fi
  case \"\${COMP_WORDS[1]} \${COMP_WORDS[2]}\" in
${bash_cases}  esac
  if [[ \"\$cur\" == -* ]]; then
    COMPREPLY=(\$(compgen -W \"\$options\" -- \"\$cur\"))
  else
    COMPREPLY=(\$(compgen -W \"\$words\" -- \"\$cur\") \$(compgen -f -- \"\$cur\"))
  fi
}
complete -o filenames -o bashdefault -F _ordalis ordalis
")

file(WRITE ${ZSH} "#compdef ordalis
# zsh completion for ordalis: its commands, subcommands and options, then files.
local -a subcommands options
if (( CURRENT == 2 )); then
  compadd -- ${command_words} --help --version
  return
fi
if (( CURRENT == 3 )); then
  case \"\$words[2]\" in
${zsh_subcommands}  esac
fi
case \"\$words[2] \$words[3]\" in
${zsh_cases}esac
if [[ \$PREFIX == -* ]]; then
  compadd -- \$options
else
  compadd -- \$subcommands
  _files
fi
")
