#!/usr/bin/env bash
# Writes a help2man include file with a section that holds the --help of each of a CLI11
# program's subcommands (nested), for its manual page.
#
#   subcommand-pages.sh PROGRAM NAME OUTPUT
set -euo pipefail
program=$1
name=$2
output=$3

subcommands() { # the subcommands that one help text lists
  awk '/^Subcommands:$/ { on = 1; next } on && /^  [^ ]/ { print $1 } on && /^$/ { on = 0 }'
}

wrap() { # lines longer than 78 characters broken at blanks, continued under their indent
  awk '{
    if (length($0) <= 78) { print; next }
    match($0, /^ */); indent = substr($0, 1, RLENGTH)
    # Continuations of an option line go under its description column.
    if (match($0, /^  [^ ].*[^ ]   +/) && RLENGTH < 40) { hang = sprintf("%*s", RLENGTH, "") } else { hang = indent }
    line = ""; n = split(substr($0, length(indent) + 1), word, " ")
    prefix = indent
    for (i = 1; i <= n; i++) {
      if (line != "" && length(prefix line " " word[i]) > 78) { print prefix line; line = ""; prefix = hang }
      line = (line == "") ? word[i] : line " " word[i]
    }
    if (line != "") print prefix line
  }'
}

section() { # the subcommand path, words separated by spaces
  local path=$1 help sub
  local -a words
  read -r -a words <<<"$path"
  help=$("$program" "${words[@]}" --help)
  echo ".SS \"$name $path\""
  echo ".nf"
  # Without the footer that every command repeats; long lines wrapped under their own indent;
  # backslashes and lines that begin like requests taken literally.
  grep -v '^Exit status: ' <<<"$help" | wrap |
    sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
  echo ".fi"
  for sub in $(subcommands <<<"$help"); do
    section "$path $sub"
  done
}

{
  echo "[COMMANDS]"
  echo "Each command's own options, as \\fB$name\\fR \\fICOMMAND\\fR \\fB\\-\\-help\\fR shows them."
  for sub in $("$program" --help | subcommands); do
    section "$sub"
  done
} >"$output.tmp"
mv "$output.tmp" "$output"
