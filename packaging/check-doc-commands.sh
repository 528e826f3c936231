#!/usr/bin/env bash
# Runs every command that README.md shows in its ```sh blocks and the manual
# page in its example blocks (.EX to .EE), as written, so that none can go
# stale unnoticed; a command added to either is run from then on. A command
# that cannot run here as written runs in the nearest form that proves it,
# and the script says which; the long ones that .ci/run runs anyway are
# named and not run twice.
#
# README blocks run one at a time from the top of the tree, as a new user
# would type them: as root, `sudo` being a shell function (there may be no
# sudo), with apt's questions answered yes. Whatever a block leaves at the top
# of the tree (the example's `out`) is removed after it.
# The manual's examples assume an installed d88cut and a container disks.d88:
# they run in a scratch directory with the dev build's d88cut first on PATH
# and the sample container as disks.d88, each block where the one before left
# off. Blocks of Windows console commands run as a batch file in wine's cmd,
# given a terminal by script(1), with the Windows build on its PATH.
#
# Needs the dev build; .ci/run runs this after everything else.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/doc-commands
rm -rf "$work"
mkdir -p "$work"
printf 'APT::Get::Assume-Yes "true";\n' >"$work/apt.conf"

as_written=0 nearer=0 elsewhere=0 skipped=0 failed=0

# nearest LINE: sets `run` to the command that runs for LINE (empty: none)
# and `note` to why it is not LINE as written (empty: it is).
nearest() {
  run=$(sed 's/[[:space:]]#.*$//; s/[[:space:]]*$//' <<<"$1") note=
  case $run in
    "cmake --workflow --preset dev" | "cmake --workflow --preset asan" | \
      "cmake --workflow --preset fuzz" | "cmake --workflow --preset web" | \
      "node --test web/page.test.mjs")
      run='' note="run by .ci/run, not twice" ;;
    "python3 -m http.server "*)
      run="serve_briefly $run" note="in the background, until the page has been fetched from it" ;;
    "cmake --workflow --preset bench")
      run="D88CUT_BENCH_ROUNDS=1 $run" note="one timed round instead of 41" ;;
    *=3600*)
      run=${run//=3600/=5} note="5 seconds of fuzzing instead of an hour" ;;
    sudo\ *)
      if [ "$(id -u)" -ne 0 ]; then
        run='' note="needs root"
      elif [[ $run == "sudo cmake --install "* ]]; then
        run="$run && undo_install ${run#sudo cmake --install }"
        note="as root, sudo being a shell function; then what it installed is removed again"
      else
        note="as root, sudo being a shell function"
      fi ;;
  esac
  if [[ -n $run && $run == *fuzz* ]] && ! command -v clang++ >/dev/null; then
    run='' note="needs clang and libFuzzer"
  elif [[ -n $run && $run == *build/web/site* && ! -f build/web/site/index.html ]]; then
    run='' note="needs the web build (cmake --workflow --preset web)"
  elif [[ -n $run && $run == *mingw-w64* ]] && ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    run='' note="needs MinGW-w64 (g++-mingw-w64-x86-64-posix)"
  fi
}

# count NOTE RUN: tallies one command.
count() {
  if [ -z "$2" ]; then
    if [[ $1 == "run by"* ]]; then elsewhere=$((elsewhere + 1)); else skipped=$((skipped + 1)); fi
  elif [ -n "$1" ]; then
    nearer=$((nearer + 1))
  else
    as_written=$((as_written + 1))
  fi
}

# blocks FILE OPEN CLOSE DIR: writes each block of FILE between lines OPEN and
# CLOSE (regular expressions) into DIR/1, DIR/2, ..., joining continued lines
# and undoing the manual page's escapes.
blocks() {
  mkdir -p "$4"
  awk -v first="$2" -v last="$3" -v dir="$4" '
    $0 ~ first { n++; inside = 1; next }
    $0 ~ last { inside = 0; next }
    inside { gsub(/\\-/, "-"); gsub(/\\e/, "\\"); gsub(/\\\(aq/, "'\''"); gsub(/\\&/, "")
             if (sub(/\\$/, "")) { held = held $0; next }
             print held $0 > (dir "/" n); held = "" }' "$1"
}

# run_block FILE START LOG: runs the commands of block FILE with bash from
# directory START; the directory it ends in goes to $work/pwd.
run_block() {
  local script=$work/script.sh line
  {
    cat <<'EOF'
set -euo pipefail
sudo() { "$@"; }
# Runs a web server on port 8000 in the background until the page answers.
serve_briefly() {
  "$@" >/dev/null 2>&1 &
  local server=$! page=''
  for _ in $(seq 50); do
    page=$(curl -fsS http://127.0.0.1:8000/ 2>/dev/null) && break
    sleep 0.2
  done
  kill "$server"
  [[ $page == *d88cut* ]]
}
# Removes what `cmake --install DIR` installed, and the folders of its own.
undo_install() {
  xargs -d '\n' rm -f -- <"$1/install_manifest.txt"
  sed -n 's|/d88cut/[^/]*$|/d88cut|p' "$1/install_manifest.txt" | sort -u |
    xargs -r rmdir --ignore-fail-on-non-empty
}
EOF
    printf 'cd %q\n' "$2"
    while IFS= read -r line; do
      [[ -z ${line// /} || $line =~ ^[[:space:]]*# ]] && continue
      nearest "$line"
      count "$note" "$run"
      printf '  $ %s\n' "$line" >&3
      if [ -n "$note" ]; then
        shown=$run
        [[ $line == "$run"* ]] && shown=  # the line itself, less its comment
        printf '      (%s%s)\n' "${shown:+runs as: $shown; }" "$note" >&3
      fi
      [ -z "$run" ] && continue
      printf 'echo %q\n%s\n' "\$ $run" "$run"
    done <"$1"
    printf 'pwd >%q\n' "$work/pwd"
  } 3>&1 >"$script"
  if ! bash "$script" >"$3" 2>&1; then
    echo "FAILED; the end of $3, whose last \$ line is the command that failed:"
    tail -n 40 "$3"
    failed=$((failed + 1))
  fi
}

# run_windows_block FILE LOG: runs block FILE as a batch file in wine's cmd,
# in a fresh folder holding the sample container as disks.d88.
run_windows_block() {
  local dir=$work/windows line
  while IFS= read -r line; do
    [ -n "$line" ] && printf '  > %s\n' "$line"
  done <"$1"
  if ! command -v wine >/dev/null || [ ! -f build/windows/cutter/d88cut.exe ]; then
    echo "      (skipped: needs wine and build/windows/cutter/d88cut.exe)"
    skipped=$((skipped + $(grep -c . "$1")))
    return
  fi
  echo "      (in wine's cmd in a terminal, d88cut.exe on its PATH, disks.d88 the sample container)"
  nearer=$((nearer + $(grep -c . "$1")))
  mkdir -p "$dir"
  cp "$sample" "$dir/disks.d88"
  while IFS= read -r line; do
    [ -n "$line" ] && printf '%s\r\nif errorlevel 1 exit /b 1\r\n' "$line"
  done <"$1" >"$dir/run.bat"
  if ! (cd "$dir" && WINEPREFIX=$root/build/windows/wine WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" WINEPATH="Z:${root//\//\\}\\build\\windows\\cutter" \
    timeout 300 script -qec "wine cmd /c run.bat" /dev/null </dev/null >"$2" 2>&1); then
    echo "FAILED; the end of $2:"
    tail -n 40 "$2"
    failed=$((failed + 1))
  fi
}

if [ ! -x build/dev/tests/make_sample ]; then
  echo "error: no dev build; run cmake --workflow --preset dev first" >&2
  exit 1
fi
sample=$work/disks.d88
build/dev/tests/make_sample "$sample"

echo "== README.md"
blocks README.md '^```sh$' '^```$' "$work/readme"
for block in $(ls "$work/readme" | sort -n); do
  before=$(LC_ALL=C ls -A)
  APT_CONFIG=$work/apt.conf DEBIAN_FRONTEND=noninteractive \
    run_block "$work/readme/$block" "$root" "$work/readme-$block.log"
  for left in $(LC_ALL=C comm -13 <(echo "$before") <(LC_ALL=C ls -A)); do
    echo "      (removed ./$left, left by the block)"
    rm -rf "./$left"
  done
done

# The first command needs no GoogleTest, as the README says.
echo "== README.md: cmake --workflow --preset demo, GoogleTest hidden"
log=$work/no-gtest.log
if cmake --preset dev -B build/no-gtest -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$log" 2>&1 &&
  grep -q "GoogleTest not found" "$log" && cmake --build build/no-gtest --target demo >>"$log" 2>&1; then
  files=$(find build/no-gtest/demo/out -type f | wc -l)
  echo "  configure leaves the tests out; the demo cut $files files"
  [ "$files" -eq 49 ] || failed=$((failed + 1))
else
  echo "FAILED; the end of $log:"
  tail -n 40 "$log"
  failed=$((failed + 1))
fi

echo "== docs/d88cut.1 (d88cut from build/dev/cutter, disks.d88 the sample container)"
blocks docs/d88cut.1 '^\.EX$' '^\.EE$' "$work/manual"
mkdir -p "$work/man"
cp "$sample" "$work/man/disks.d88"
echo "$work/man" >"$work/pwd"
for block in $(ls "$work/manual" | sort -n); do
  if grep -qE '^(chcp |[^ ]+\.exe( |$))' "$work/manual/$block"; then
    run_windows_block "$work/manual/$block" "$work/manual-$block.log"
  else
    PATH=$root/build/dev/cutter:$PATH run_block "$work/manual/$block" "$(cat "$work/pwd")" \
      "$work/manual-$block.log"
  fi
done

echo "$as_written as written, $nearer in a nearer form, $elsewhere run by .ci/run, $skipped skipped; $failed failed"
[ "$failed" -eq 0 ]
