#!/usr/bin/env bash
# Writes the bash completion of a program made with CLI11 from its --help and that of each of its
# subcommands, so that the completion follows the program's subcommands and options as they
# change: subcommands, options, the choices of options and of positionals that list them.
#
#   make-completion.sh PROGRAM NAME OUTPUT
set -euo pipefail
program=$1
name=$2
output=$3
function_name=_${name//-/_}

# One help text to lines "KIND|WORD|CHOICES|TAKES_VALUE": KIND is sub, pos or opt.
parse() {
  awk '
    /^[A-Za-z][A-Za-z ]*:$/ { section = $0; next }
    /^  [^ ]/ {
      line = substr($0, 3)
      split(line, field, " ")
      choices = ""
      if (match(line, /:\{[^}]*\}/)) choices = substr(line, RSTART + 2, RLENGTH - 3)
      gsub(",", " ", choices)
      # A type after one space takes a value; a flag has its description after several.
      value = (line ~ /^[^ ]+ [^ ]/) ? 1 : 0
      if (section == "Subcommands:") print "sub|" field[1] "||0"
      else if (section == "Positionals:") print "pos|" field[1] "|" choices "|1"
      else if (section == "Options:") {
        n = split(field[1], names, ",")
        for (i = 1; i <= n; i++) print "opt|" names[i] "|" choices "|" value
      }
    }'
}

subcommand_cases=()
option_cases=()
value_option_cases=()
choice_cases=()
positional_cases=()

walk() { # the subcommand path, words separated by spaces
  local path=$1 kind word choices value
  local subcommands="" options="" position=0
  local -a help_arguments=()
  [ -n "$path" ] && read -r -a help_arguments <<<"$path"
  while IFS='|' read -r kind word choices value; do
    case $kind in
    sub)
      subcommands+=" $word"
      subcommand_cases+=("\"$path:$word\"")
      ;;
    pos)
      [ -n "$choices" ] && positional_cases+=("\"$path:$position\") words=\"$choices\" ;;")
      position=$((position + 1))
      ;;
    opt)
      options+=" $word"
      [ "$value" = 1 ] && value_option_cases+=("\"$path:$word\"")
      [ -n "$choices" ] && choice_cases+=("\"$path:$word\") words=\"$choices\" ;;")
      ;;
    esac
  done < <("$program" "${help_arguments[@]}" --help | parse)
  option_cases+=("\"$path\") words=\"${options# }\" ;;")
  [ -n "$subcommands" ] && positional_cases+=("\"$path:0\") words=\"${subcommands# }\" ;;")
  local sub
  for sub in $subcommands; do
    walk "${path:+$path }$sub"
  done
}
walk ""

join() { # pattern alternatives with |
  local IFS='|'
  echo "$*"
}

{
  cat <<END
# bash completion for $name, made from its --help when it was built.
$function_name() {
    local cur=\${COMP_WORDS[COMP_CWORD]} prev=\${COMP_WORDS[COMP_CWORD - 1]}
    local path= position=0 word words i
    # The subcommands and positionals typed so far; the values of options are skipped.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=\${COMP_WORDS[i]}
        case "\$path:\$word" in
        $(join "${subcommand_cases[@]}"))
            path=\${path:+\$path }\$word
            position=0
            continue
            ;;
        esac
        case "\$path:\$word" in
        $(join "${value_option_cases[@]:-"-:-"}")) ((i++)) ;;
        *:-*) ;;
        *) ((position++)) ;;
        esac
    done
    words=
    if [[ \$cur == -* ]]; then
        case "\$path" in
END
  printf '        %s\n' "${option_cases[@]}"
  cat <<END
        esac
    else
        case "\$path:\$prev" in
END
  printf '        %s\n' "${choice_cases[@]}"
  cat <<END
        *)
            case "\$path:\$prev" in
            $(join "${value_option_cases[@]:-"-:-"}")) ;;
            *)
                case "\$path:\$position" in
END
  printf '                %s\n' "${positional_cases[@]}"
  cat <<END
                esac
                ;;
            esac
            ;;
        esac
    fi
    # Nothing to offer: readline's file names, for the file arguments.
    COMPREPLY=(\$(compgen -W "\$words" -- "\$cur"))
}
complete -o default -F $function_name $name
END
} >"$output.tmp"
mv "$output.tmp" "$output"
