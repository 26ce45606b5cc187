# Sourced by the build scripts: sets the array `launcher` to the CMake arguments
# that put ccache in front of the compilers, when ccache is installed. The base
# folder lets clones in other folders share entries; precompiled headers are
# compiled with their own time stamps and defines, which ccache has to accept.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
