# Sourced by the build scripts. With ccache on the machine, every build folder
# compiles through it, and paths are taken relative to this checkout, so a
# fresh clone in another folder (as CI makes) reuses what an earlier one built.
# Sets `launcher` to the CMake arguments that turn it on (none without ccache).
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD"
  export CCACHE_NOHASHDIR=1
fi
