# shellcheck shell=bash
# The one build step of the scripts that build PELDO; they source this file:
#
#   source "$root/scripts/build-lib.sh"
#   configure_and_build [--target NAME] [--keep] DIR [CMAKE-ARGS...]
#
# Configures DIR with CMAKE-ARGS (with Ninja when there is one) when it has
# no cache yet or, unless --keep, when CMAKE-ARGS differ from the ones it was
# last configured with; then afresh, since a cache keeps its compiler
# whatever new arguments say. Later builds re-run cmake by themselves when
# the build files change. Then builds NAME (everything by default) with one
# job per core. Everything cmake says goes to DIR/build.log; returns non-zero
# when configuring or building failed. Every build made here treats warnings
# as errors (PELDO_WERROR), which a user's own cmake run does not.

build_lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

configure_and_build() {
  local targets=() keep=no
  while [ $# -gt 0 ]; do
    case "$1" in
      --target) targets=(--target "$2"); shift 2 ;;
      --keep) keep=yes; shift ;;
      *) break ;;
    esac
  done
  local dir=$1
  shift
  set -- -DPELDO_WERROR=ON "$@"
  local log=$dir/build.log options
  mkdir -p "$dir" || return 1
  : >"$log"
  options=$(printf '%s\n' "$@")
  if [ ! -f "$dir/CMakeCache.txt" ] ||
      { [ "$keep" = no ] && [ "$options" != "$(cat "$dir/configure-options" 2>/dev/null)" ]; }; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    local generator=()
    if command -v ninja >/dev/null 2>&1; then
      generator=(-G Ninja)
    fi
    cmake -S "$build_lib_root" -B "$dir" "${generator[@]}" "$@" >>"$log" 2>&1 || return 1
    printf '%s\n' "$options" >"$dir/configure-options"
  fi
  cmake --build "$dir" "${targets[@]}" -j "$(nproc)" >>"$log" 2>&1
}
