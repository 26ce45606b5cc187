# Sourced by the build scripts after they set `root`: the compiler cache and the
# configurations of the build trees they share.

# ccache in front of the compilers, when installed. With the clone as base folder
# it hashes paths relative to it; the compiler itself still sees absolute ones,
# which the prefix map below turns into paths relative to the clone in the debug
# information and in __FILE__ (the tests' failure messages). Nothing in a unit's
# result then names the folder it was built in: ccache leaves that folder out of
# its hash, and clones in different folders share entries.
# Precompiled headers are compiled with their own time stamps and defines, which
# ccache has to accept. In depend mode it takes the includes from the compiler's
# dependency file instead of running the preprocessor first, which would cost a
# fresh machine's build a second parse of every unit.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
  export CCACHE_DEPEND=${CCACHE_DEPEND:-1}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Line tables (-g1) are all that backtraces and the sanitizers' reports need;
# full debug information costs a quarter of the compile time. Their paths are
# relative to the clone. A tree for a debugger is configured by hand. Later
# arguments override these.
configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$root/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    "-DCMAKE_C_FLAGS=-ffile-prefix-map=$root=." "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$root=." \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    "$@" >/dev/null
}

# The sanitizers want little optimisation, which keeps these trees' compile
# times down. The command-line tool, the window and the benchmarks are not run
# under them.
sanitized=(-DSENTOVA_BUILD_BENCH=OFF -DSENTOVA_BUILD_CLI=OFF -DSENTOVA_BUILD_VIEWER_APP=OFF
           "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
           "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
# One clang tree with AddressSanitizer and UBSan serves both the tests run under
# them and the fuzz targets (libFuzzer needs clang), so the libraries they share
# are compiled once. Full compiler paths: CMake starts a tree that was configured
# with another compiler afresh, and leaves one configured with these alone.
asan_tree=build-asan
asan_args=("-DCMAKE_C_COMPILER=$(command -v clang || echo clang)"
           "-DCMAKE_CXX_COMPILER=$(command -v clang++ || echo clang++)" -DSENTOVA_SANITIZE=address
           -DSENTOVA_BUILD_FUZZ=ON "${sanitized[@]}")
