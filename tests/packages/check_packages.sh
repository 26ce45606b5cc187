#!/usr/bin/env bash
# Makes the Debian packages from a built tree and checks them: what each one holds, its control
# fields, that together they hold everything `cmake --install` installs, that the programs, the
# Python module and the dissector work from the unpacked files, the desktop entry, the manual
# pages and the bash completion. With CI=true it also installs them on this machine, runs the
# programs from /usr and removes them again (as root, or through sudo without a password).
#
#   check_packages.sh BUILD
set -euo pipefail
# grep reads its whole input in the pipelines below (no -q): a writer cut off early would fail them.
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
release=1
libdir=$(cache CMAKE_INSTALL_LIBDIR)
pydir=$(cache SENTOVA_PYTHON_MODULE_DIR)
wiresharkdir=$(cache SENTOVA_WIRESHARK_PLUGIN_DIR)
soversion=${version%.*}

"$root/tools/make-packages.sh" "$build" >/dev/null
packages="$build/packages"
deb() { echo "$packages/${1}_${version}-${release}_$2.deb"; } # name, architecture
arch=$(dpkg --print-architecture)

# What each package must hold, under /usr.
check_holds() { # package, architecture, paths...
  local name=$1 architecture=$2 file listing path
  shift 2
  file=$(deb "$name" "$architecture")
  [ -f "$file" ] || {
    fail "no package file $file"
    return
  }
  listing=$(dpkg-deb -c "$file" | awk '{ print $6 }' | sed 's|^\./||')
  for path in "$@"; do
    grep -qx "usr/$path" <<<"$listing" || fail "$name does not hold /usr/$path"
  done
  [ "$(dpkg-deb -f "$file" Package)" = "$name" ] || fail "$name: wrong Package field"
  [ "$(dpkg-deb -f "$file" Version)" = "$version-$release" ] || fail "$name: Version is not $version-$release"
  [ "$(dpkg-deb -f "$file" Architecture)" = "$architecture" ] || fail "$name: Architecture is not $architecture"
  [ -n "$(dpkg-deb -f "$file" Description)" ] || fail "$name has no description"
}
check_holds libsentova "$arch" "$libdir/libtavrel.so.$soversion" "$libdir/libtavrel.so.$version" \
  "$libdir/liblistener.so.$soversion" "$libdir/liblistener.so.$version"
check_holds libsentova-dev "$arch" include/Sentova/Sentova.h include/Sentova/SentovaGrabber.h \
  "$libdir/libtavrel.so" "$libdir/liblistener.so" "$libdir/cmake/Sentova/SentovaConfig.cmake" \
  "$libdir/cmake/Sentova/SentovaTargets.cmake"
check_holds sentova "$arch" bin/sentova bin/sentova-sim share/man/man1/sentova.1.gz \
  share/man/man1/sentova-sim.1.gz share/bash-completion/completions/sentova
check_holds sentova-viewer "$arch" bin/sentova-viewer share/man/man1/sentova-viewer.1.gz \
  share/applications/sentova-viewer.desktop share/icons/hicolor/scalable/apps/sentova-viewer.svg \
  share/icons/hicolor/16x16/apps/sentova-viewer.png share/icons/hicolor/48x48/apps/sentova-viewer.png \
  share/icons/hicolor/256x256/apps/sentova-viewer.png
check_holds python3-sentova "$arch" "$pydir/sentova.pyi" \
  "$pydir/$(basename "$(ls "$build"/python/sentova.cpython-*.so)")"
check_holds sentova-wireshark all "$wiresharkdir/sentova.lua"

# Dependencies: Debian's libraries as dpkg-shlibdeps found them, ours at this very version.
depends() { dpkg-deb -f "$(deb "$1" "$2")" Depends; }
ours="libsentova (= $version-$release)"
for name in sentova sentova-viewer python3-sentova libsentova-dev; do
  depends "$name" "$arch" | grep -F "$ours" >/dev/null || fail "$name does not depend on $ours"
done
for name in libsentova sentova sentova-viewer python3-sentova; do
  depends "$name" "$arch" | grep 'libc6 (>=' >/dev/null || fail "$name: no dependencies computed from its libraries"
done
depends libsentova "$arch" | grep 'libboost-log1.74.0' >/dev/null || fail "libsentova does not depend on Boost.Log"
depends sentova-viewer "$arch" | grep 'libqt5widgets5' >/dev/null || fail "sentova-viewer does not depend on Qt"
depends python3-sentova "$arch" | grep 'python3-numpy' >/dev/null || fail "python3-sentova does not depend on NumPy"
[ -n "$(dpkg-deb -f "$(deb sentova-wireshark all)" Enhances)" ] || fail "sentova-wireshark enhances nothing"
control=$(dpkg-deb --ctrl-tarfile "$(deb libsentova "$arch")" | tar -t)
grep -qx './shlibs' <<<"$control" || fail "libsentova has no shlibs file"

# Together the packages hold exactly what an installation of the tree does.
cmake --install "$build" --prefix "$work/installed/usr" >/dev/null
(cd "$work/installed" && find . ! -type d | sed 's|^\./||' | sort) >"$work/installed.txt"
for file in "$packages"/*.deb; do
  dpkg-deb -c "$file" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||'
done | sort >"$work/packaged.txt"
if ! diff "$work/installed.txt" "$work/packaged.txt" >"$work/difference.txt"; then
  fail "the packages do not hold what the tree installs (< installed only, > packaged only):"
  cat "$work/difference.txt" >&2
fi

# The unpacked programs, module and dissector run from their own places.
for file in "$packages"/*.deb; do dpkg-deb -x "$file" "$work/unpacked"; done
usr="$work/unpacked/usr"
(
  unset LD_LIBRARY_PATH PYTHONPATH
  "$usr/bin/sentova" --version | grep -x "sentova $version (library $version)" >/dev/null ||
    echo "FAIL: the unpacked sentova does not answer --version" >&2
  "$usr/bin/sentova-sim" --help | grep '^Usage: ' >/dev/null || echo "FAIL: the unpacked sentova-sim --help" >&2
  "$usr/bin/sentova-viewer" --version | grep "^sentova-viewer $version" >/dev/null ||
    echo "FAIL: the unpacked sentova-viewer --version" >&2
  cd "$work" && PYTHONPATH="$usr/$pydir" /usr/bin/python3 -c \
    "import sentova, sys; sys.exit(0 if sentova.__file__.startswith('$usr/') else 1)" ||
    echo "FAIL: the unpacked Python module does not import" >&2
) 2>"$work/run.txt"
if [ -s "$work/run.txt" ]; then
  fail "$(cat "$work/run.txt")"
fi
if command -v tshark >/dev/null 2>&1; then
  protocols=$(tshark -G protocols -X "lua_script:$usr/$wiresharkdir/sentova.lua" 2>/dev/null)
  grep -q $'\tsentova$' <<<"$protocols" && grep -q $'\tsentova_laser$' <<<"$protocols" ||
    fail "tshark does not load the packaged dissector"
fi

# The desktop entry, the icons, the manual pages.
desktop-file-validate "$usr/share/applications/sentova-viewer.desktop" || fail "the desktop entry is not valid"
grep -qx 'Exec=sentova-viewer --ask-address' "$usr/share/applications/sentova-viewer.desktop" ||
  fail "the desktop entry does not start the viewer asking for the address"
for size in 16 22 24 32 48 64 128 256; do
  file "$usr/share/icons/hicolor/${size}x${size}/apps/sentova-viewer.png" | grep "PNG image data, $size x $size" >/dev/null ||
    fail "the ${size}x${size} icon is not a $size by $size PNG"
done
for page in "$usr"/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  MANWIDTH=80 man -l "$page" 2>"$work/man-errors.txt" >"$work/man.txt" || fail "man -l $page failed"
  [ -s "$work/man-errors.txt" ] && fail "man -l $page warns: $(cat "$work/man-errors.txt")"
  grep -q "^NAME" "$work/man.txt" && grep -q "^SYNOPSIS" "$work/man.txt" && grep -q "^ *$name " "$work/man.txt" ||
    fail "the manual page of $name lacks its name or synopsis"
done
[ "$(ls "$usr"/share/man/man1/*.1.gz | wc -l)" -eq 3 ] || fail "not three manual pages"

# The completion offers exactly the subcommands that the program lists, and option choices.
completion=$usr/share/bash-completion/completions/sentova
complete_words() { # the words of the line, the last one being completed
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _sentova; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" "$@" | sort | tr '\n' ' '
}
listed=$("$usr/bin/sentova" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }' | sort | tr '\n' ' ')
[ -n "$listed" ] || fail "sentova --help lists no subcommands"
# Its manual page has a section of each subcommand's options.
page=$(MANWIDTH=80 man -l "$usr/share/man/man1/sentova.1.gz" 2>/dev/null)
for subcommand in $listed; do
  grep -qx "   sentova $subcommand" <<<"$page" || fail "sentova's manual page has no section on $subcommand"
done
[ "$(complete_words sentova '')" = "$listed" ] ||
  fail "completion offers '$(complete_words sentova '')' for the subcommands '$listed'"
[ "$(complete_words sentova laser start --model '')" = "generic lx20 lx30 " ] ||
  fail "completion of --model offers '$(complete_words sentova laser start --model '')'"
[ "$(complete_words sentova scan --speed 5 '')" = "bounded full region " ] ||
  fail "completion after an option's value offers '$(complete_words sentova scan --speed 5 '')'"
[ "$(complete_words sentova --log-level debug sc)" = "scan " ] || fail "completion after --log-level"

echo "packages: $(ls "$packages"/*.deb | wc -l) files, $(du -ck "$packages"/*.deb | tail -1 | cut -f1) KiB"

# Installed on this machine, in CI only: the programs and the module from /usr, then removed.
if [ "${CI:-}" = true ]; then
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      as_root=(sudo -n)
    else
      echo "packages: not root and no password-less sudo: installing the packages is skipped" >&2
    fi
  fi
  if [ "$(id -u)" -eq 0 ] || [ ${#as_root[@]} -gt 0 ]; then
    names=(libsentova libsentova-dev sentova sentova-viewer python3-sentova sentova-wireshark)
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      "$packages"/*.deb >"$work/apt.txt" 2>&1 || { cat "$work/apt.txt" >&2; fail "apt-get install"; }
    (
      cd /
      unset LD_LIBRARY_PATH PYTHONPATH
      /usr/bin/sentova --version | grep -x "sentova $version (library $version)" >/dev/null
      /usr/bin/sentova-sim --help | grep '^Usage: ' >/dev/null
      /usr/bin/python3 -c "import sentova, sys; sys.exit(0 if sentova.__file__.startswith('/usr/lib/') else 1)"
      plugins=$(tshark -G plugins 2>/dev/null)
      grep -q "/$wiresharkdir/sentova\.lua" <<<"$plugins"
      man -w sentova-viewer >/dev/null
    ) || fail "the installed programs, module, dissector or manual pages"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y --purge "${names[@]}" >"$work/apt.txt" 2>&1 ||
      { cat "$work/apt.txt" >&2; fail "apt-get remove"; }
    [ ! -e /usr/bin/sentova ] || fail "/usr/bin/sentova is still there after the removal"
    echo "packages: installed, run from /usr and removed"
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "packages: $failures checks failed" >&2
  exit 1
fi
echo "packages: all checks passed"
