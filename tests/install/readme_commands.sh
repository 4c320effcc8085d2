#!/usr/bin/env bash
# Runs every command the README shows under "Running without a screen", as a
# user would after scripts/run: the programs installed (here into a scratch
# prefix) and on PATH, the example scales in ~/Vanto.
# Arguments: the README and the build folder.
set -euo pipefail
readme=$1
build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" > /dev/null
export PATH="$prefix/bin:$PATH" HOME="$scratch/home" JACK_NO_START_SERVER=1
mkdir -p "$HOME/Vanto"
cp -r "$prefix/share/vanto/scales" "$HOME/Vanto/scales"
cd "$HOME/Vanto"

fail() { echo "README command failed: $1: $2" >&2; exit 1; }

block=$(awk '/^## Running without a screen/ { section = 1 } section && /^```sh/ { inside = 1; next }
             inside && /^```/ { exit } inside { print }' "$readme")
[ -n "$block" ] || fail "(none)" "no command block in the section"
checked=0
while IFS= read -r line; do
  command=$(echo "${line%%#*}" | sed 's/[[:space:]]*$//')
  case "$command" in
    "vanto-relay --list")
      output=$(eval "$command") || fail "$command" "exit status $?"
      grep -q "Vanto Out" <<< "$output" || fail "$command" "no output list: $output" ;;
    "vanto-relay --in "*)
      output=$(eval "timeout 3 $command" 2>&1) || true
      grep -q "Waiting for keystation" <<< "$output" || fail "$command" "$output" ;;
    "systemctl --user enable --now vanto-relay")
      unit="$prefix/share/vanto/vanto-relay.service"
      relay=$(sed -n 's/^ExecStart=\([^ ]*\) .*/\1/p' "$unit")
      [ -x "$relay" ] || fail "$command" "the service runs $relay, which is not there"
      scale=$(sed -n 's/^ExecStart=.*"%h\/\(.*\)"$/\1/p' "$unit")
      [ -f "$HOME/$scale" ] || fail "$command" "the service plays $scale, which is not there" ;;
    *) fail "$command" "this test does not know the command: check it and add it here" ;;
  esac
  checked=$((checked + 1))
done <<< "$block"
echo "$checked README commands work"
