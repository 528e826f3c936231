#!/usr/bin/env bash
# Runs every command that README.md, README.ja.md and docs/DEVELOPING.md show
# in their ```sh and ```console blocks and the manual page in its example blocks
# (.EX to .EE), as written, so that none can go stale unnoticed; a command
# added to any of them is run from then on. A command that cannot run here as
# written runs in the nearest form that proves it, and the script says which;
# the long ones that .ci/run runs anyway are named and not run twice.
#
# The sh blocks of the documents run one at a time from the top of the
# tree, as a new user would type them: as root, `sudo` being a shell function
# (there may be no sudo), with apt's questions answered yes. A console block
# shows a session: its lines that begin with "$ " are typed, the others are
# what the terminal shows, a line "..." standing for any number of lines. Its
# commands run in a terminal (script(1)) whose locale is UTF-8 (ja_JP.UTF-8
# for README.ja.md, so that the lines for a person show in Japanese), where
# the block before it left off, with the dev build's d88cut first on PATH, and
# the terminal must show what the block shows. A document's blocks must leave
# nothing that `git status` shows; whatever they leave at the top of the tree
# (the READMEs' `try`, which git ignores) is removed after its last block.
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
    "cmake --workflow --preset full" | "cmake --workflow --preset libcxx" | \
      "cmake --workflow --preset asan" | "cmake --workflow --preset fuzz" | \
      "cmake --workflow --preset web" | "node --test web/page.test.mjs" | \
      packaging/check-packages.sh | packaging/test-under-wine.sh | packaging/check-doc-sizes.sh)
      run='' note="run by .ci/run, not twice" ;;
    packaging/check-doc-commands.sh)
      run='' note="this script, not again" ;;
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
  elif [[ -n $run && ($run == *mingw-w64* || $run == *"--preset windows") ]] &&
    ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
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
# CLOSE (regular expressions) into DIR/1.KIND, DIR/2.KIND, ..., KIND being
# what follows the backquotes or the dot of the line OPEN (sh, console, EX).
# Joins continued lines but in console blocks, and undoes the manual page's
# escapes in its blocks.
blocks() {
  mkdir -p "$4"
  awk -v first="$2" -v last="$3" -v dir="$4" '
    $0 ~ first { n++; inside = 1; kind = $0; sub(/^[`.]*/, "", kind); next }
    $0 ~ last { inside = 0; next }
    inside && kind == "EX" { gsub(/\\-/, "-"); gsub(/\\e/, "\\"); gsub(/\\\(aq/, "'\''"); gsub(/\\&/, "") }
    inside && kind != "console" && sub(/\\$/, "") { held = held $0; next }
    inside { print held $0 > (dir "/" n "." kind); held = "" }' "$1"
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

# matches EXPECTED ACTUAL: whether the lines of file ACTUAL are those of file
# EXPECTED, where a line "..." stands for any number of lines, and "..." in a
# line for any text (a path that differs from machine to machine). Each run
# of lines between two "..." is taken where it first fits, which is enough.
matches() {
  awk 'FILENAME == ARGV[1] { want[++n] = $0; next } { got[++m] = $0 }
    # like(G, W): whether line G is line W, "..." in W standing for any text
    function like(g, w,   parts, count, j, at) {
      if (g == w) return 1
      count = split(w, parts, /\.\.\./)
      if (count < 2 || substr(g, 1, length(parts[1])) != parts[1]) return 0
      g = substr(g, length(parts[1]) + 1)
      for (j = 2; j < count; j++) {
        at = index(g, parts[j])
        if (at == 0) return 0
        g = substr(g, at + length(parts[j]))
      }
      return length(g) >= length(parts[count]) && substr(g, length(g) - length(parts[count]) + 1) == parts[count]
    }
    # fits(S, E, K): whether wanted lines S..E are the lines got from K on
    function fits(s, e, k,   i) {
      for (i = s; i <= e; i++) if (k + i - s > m || !like(got[k + i - s], want[i])) return 0
      return 1
    }
    END {
      pos = 1; s = 1
      for (i = 1; i <= n + 1; i++) {
        if (i <= n && want[i] != "...") continue
        len = i - s  # the run s..i-1
        if (s == 1 && i > n) exit !(len == m && fits(1, n, 1))
        if (s == 1) {
          if (!fits(1, i - 1, 1)) exit 1
          pos = len + 1
        } else if (i > n) {
          if (m - len + 1 < pos || !fits(s, n, m - len + 1)) exit 1
        } else {
          for (k = pos; k + len - 1 <= m && !fits(s, i - 1, k); k++) continue
          if (k + len - 1 > m) exit 1
          pos = k + len
        }
        s = i + 1
      }
    }' "$1" "$2"
}

# run_console_block FILE START LOG LOCALE: runs the "$ " lines of block FILE
# in one bash in a terminal whose locale is LOCALE (LANG set to it, no other
# locale variable), from directory START, and checks that the terminal shows
# the block's other lines; the directory it ends in goes to $work/pwd.
run_console_block() {
  local script=$work/console.sh expected=$work/expected line
  sed -n 's/^\$ //p' "$1" | while IFS= read -r line; do printf '  $ %s\n' "$line"; done
  as_written=$((as_written + $(grep -c '^\$ ' "$1")))
  grep -v '^\$ ' "$1" >"$expected" || true
  { printf 'cd %q\n' "$2"; sed -n 's/^\$ //p' "$1"; printf 'pwd >%q\n' "$work/pwd"; } >"$script"
  env -u LC_ALL -u LC_MESSAGES -u LC_CTYPE -u LANGUAGE LANG="$4" \
    timeout 300 script -qec "bash $script" /dev/null </dev/null 2>&1 |
    tr -d '\r' >"$3" || true
  if ! matches "$expected" "$3"; then
    echo "FAILED: the terminal did not show what the block shows (- shown, + the terminal's):"
    diff -u "$expected" "$3" | tail -n +3 | head -n 40 || true
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

# What `git status` shows of the tree, where it is a git work tree.
git_shows() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git status --porcelain
  fi
}

# document FILE [LOCALE]: runs the sh and console blocks of the Markdown FILE
# in order, its console blocks in a terminal whose locale is LOCALE
# (C.UTF-8 where none is given).
document() {
  local dir=$work/$(basename "$1" .md) locale=${2:-C.UTF-8} block before git_before left
  echo "== $1${2:+ (console blocks under LANG=$2)}"
  if [ "$locale" != C.UTF-8 ] && ! locale -a 2>/dev/null | grep -qix "${locale/UTF-8/utf8}"; then
    echo "      (skipped: the locale $locale is not installed; locale-gen makes it)"
    skipped=$((skipped + $(grep -c '^\$ ' "$1" || true)))
    return
  fi
  blocks "$1" '^```(sh|console)$' '^```$' "$dir"
  before=$(LC_ALL=C ls -A)
  git_before=$(git_shows)
  echo "$root" >"$work/pwd"
  for block in $(ls "$dir" | sort -n); do
    case $block in
      *.console)
        PATH=$root/build/dev/cutter:$PATH \
          run_console_block "$dir/$block" "$(cat "$work/pwd")" "$dir-$block.log" "$locale" ;;
      *)
        APT_CONFIG=$work/apt.conf DEBIAN_FRONTEND=noninteractive \
          run_block "$dir/$block" "$root" "$dir-$block.log" ;;
    esac
  done
  if [ "$(git_shows)" != "$git_before" ]; then
    echo "FAILED: its blocks left what git status shows:"
    diff <(echo "$git_before") <(git_shows) | sed -n 's/^> /      /p' || true
    failed=$((failed + 1))
  fi
  for left in $(LC_ALL=C comm -13 <(echo "$before") <(LC_ALL=C ls -A)); do
    echo "      (removed ./$left, left by its blocks)"
    rm -rf "./$left"
  done
}

document README.md
document README.ja.md ja_JP.UTF-8

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

document docs/DEVELOPING.md

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
