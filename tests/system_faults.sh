#!/usr/bin/env bash
# Runs the tool on the three-disk sample container in a folder where every
# output is already there, and under strace fails each of its system calls
# in turn (EIO), and interrupts (SIGINT) and kills (SIGKILL) it at each call
# that can change the folder. After each run:
# - every output name holds a whole file: its earlier contents or the new;
# - the container is intact;
# - a failed run leaves no temporary file, ends with status 1 and says so;
#   a run with status 0 gave every file and line exactly; a failed close of
#   a temporary file fails the run; after a read that fails, the disks that
#   follow are read;
# - an interrupted run is killed by the signal (status 130 for SIGINT) once
#   the file in flight is done, leaves no temporary file, and printed the
#   lines up to that file's: those files are new, the others earlier;
# - after a kill, the next run cuts every file and leaves no temporary file.
# Then it fails each look at a file (each call of the stat family) of a run
# whose container is named like an output, which must leave the container
# and every name whole; lets pairs of runs write one folder at the same time
# (once with one run held in its first write); fails the first write of a
# long listing; and interrupts a listing at its last write and, on a
# terminal, a cut in its last file, which must end by the signal (the cut
# without its closing line).
#
# usage: system_faults.sh D88CUT MAKE_SAMPLE; exit status 77 when strace is
# missing or cannot trace here.
set -u
export LC_ALL=C
cannot_open=$(printf '\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49')
tool=$1
maker=$2
command -v strace >/dev/null || { echo "strace not found: skipped"; exit 77; }
strace -o /dev/null -f --seccomp-bpf true 2>/dev/null || { echo "strace cannot trace here: skipped"; exit 77; }

# A memory file system where there is one: some thousand runs replace files.
work=$(mktemp -d -p "$([ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
"$maker" c.d88 || exit 1
cp c.d88 c.orig

# The files as a clean cut gives them, and the folder each run starts from.
mkdir new
(cd new && "$tool" ../c.d88 >../new.out 2>../new.err) || { echo "the clean cut failed"; exit 1; }
names=$(ls new)
mkdir old
for name in $names; do printf 'earlier %s\n' "$name" >"old/$name"; done
declare -A earlier fresh state
while read -r sum name; do earlier[$name]=$sum; done < <(cd old && md5sum $names)
while read -r sum name; do fresh[$name]=$sum; done < <(cd new && md5sum $names)

problems=0
runs=0
problem() {
  echo "FAIL: $*"
  problems=$((problems + 1))
  [ "$problems" -lt 20 ] || { echo "too many failures"; exit 1; }
}

# Runs the tool in a fresh copy of old/ under strace with the given options.
run() {
  rm -rf run
  cp -a old run
  # (The shell's own word on a killed run goes nowhere.)
  { (cd run && strace -o ../run.trace -f "$@" "$tool" ../c.d88 >../run.out 2>../run.err); } 2>/dev/null
  status=$?
  runs=$((runs + 1))
}

# What each name in run/ holds: "earlier", "new" or "other".
look() {
  local sum name
  for name in $names; do state[$name]=other; done
  while read -r sum name; do
    if [ "$sum" = "${fresh[$name]}" ]; then
      state[$name]=new
    elif [ "$sum" = "${earlier[$name]}" ]; then
      state[$name]=earlier
    fi
  done < <(cd run && md5sum $names 2>/dev/null)
}

# Every name whole, the container intact.
check_whole() {
  local name
  look
  for name in $names; do
    [ "${state[$name]}" != other ] || problem "$1: $name is neither the earlier nor the new file"
  done
  cmp -s c.d88 c.orig || { problem "$1: the container changed"; cp c.orig c.d88; }
}

# Every name as `want` says: "new", or "printed" (new when its cutting line
# is in run.out, earlier otherwise).
check_cut() {
  local name want
  declare -A printed=()
  while read -r line; do printed[${line#cutting ... }]=1; done < <(grep '^cutting' run.out)
  for name in $names; do
    want=$2
    [ "$want" = printed ] && { [ -n "${printed[$name]:-}" ] && want=new || want=earlier; }
    [ "${state[$name]}" = "$want" ] || problem "$1: $name is ${state[$name]}, not $want"
  done
}

check_no_leftover() {
  local left
  left=$(ls -A run | grep d88cut)
  [ -z "$left" ] || problem "$1: left $left"
}

# The calls of a run after the container is opened, as "name count files"
# per call: strace counts the calls of each name from the start of the
# process, and `files` were renamed into place before the call. brk is left
# out: it never fails with an error number (where the kernel cannot grow the
# heap it answers with the old end, and malloc maps memory elsewhere), and an
# error number injected into it reads to the C library as a heap grown.
rm -rf run && cp -a old run
(cd run && strace -o ../trace "$tool" ../c.d88 >/dev/null 2>&1)
# Those that change the folder are marked: creating, writing, truncating,
# renaming and removing files; and the closes of temporary files.
calls=$(awk -F'(' '
  /^[a-z_0-9]+\(/ {
    n[$1]++
    changes = /^openat.*O_CREAT/ || /^(ftruncate|rename|renameat2|unlink)\(/ || (/^write\(/ && !/^write\([12],/)
    closes = /^close\(/ && ($2 + 0) in temporary
    if (closes) delete temporary[$2 + 0]
    if (opened && $1 != "brk") print $1, n[$1], files + 0, changes ? "changes" : closes ? "temporary" : ""
    if (/^rename(at2)?\(.* = 0$/) files++
  }
  /^openat.*\.d88cut", .*O_CREAT/ { fd = $0; sub(/.*= /, "", fd); temporary[fd + 0] = 1 }
  /^openat\(AT_FDCWD, "..\/c.d88"/ { opened = 1 }' trace)
folder_calls=$(grep ' changes$' <<<"$calls")
# After a read that fails, the disk images that follow are read as usual:
# one from the end of the scan of the disk headers until the last disk is
# selected (its header read a second time) leaves the last disk's files new.
disks=$(grep -vc '^cutting' new.out)
read -r first_read last_read < <(awk '/^read\(/ { n++ }
  /^read\([0-9]+, .*, 688\) = 688$/ { h++; if (h == '"$disks"') first = n + 1; if (h == 2 * '"$disks"') last = n - 1 }
  END { print first, last }' trace)
[ -n "$last_read" ] || problem "the reads of the disk headers were not seen"
last_disk=$(awk '!/^cutting/ { names = "" } /^cutting/ { names = names " " $3 } END { print names }' new.out)

while read -r call count _ mark; do
  what="$call #$count fails"
  run --seccomp-bpf -e trace="$call" -e inject="$call:error=EIO:when=$count"
  check_whole "$what"
  check_no_leftover "$what"
  if [ "$call" = read ] && [ "$count" -ge "$first_read" ] && [ "$count" -le "$last_read" ]; then
    lost=
    for name in $last_disk; do [ "${state[$name]}" = new ] || lost="$lost $name"; done
    [ -z "$lost" ] || problem "$what: not cut from the last disk:$lost"
  fi
  case $status in
    0) cmp -s run.out new.out && [ ! -s run.err ] || problem "$what: status 0 with other output"
       [ "$mark" != temporary ] || problem "$what: a temporary file's close failed, status 0"
       check_cut "$what, status 0" new ;;
    1) [ -s run.err ] || ! cmp -s run.out new.out || problem "$what: status 1 without a word"
       # A failing read or seek (only the container is read) is told once:
       # the container cannot be read, or at the first seek, not opened.
       if [ "$call" = read ] || [ "$call" = lseek ]; then
         [ "$(grep -c -e '^\.\./c\.d88: ' -e "^$cannot_open" run.err)" -eq 1 ] || problem "$what: not told once"
       fi ;;
    *) problem "$what: status $status" ;;
  esac
done <<<"$calls"

# Mostly SIGINT, now and then SIGTERM or SIGHUP. (strace injects no signal
# into a run that it filters with seccomp.)
signals=(INT INT INT TERM INT INT INT HUP)
while read -r call count files _; do
  signal=${signals[$((count % ${#signals[@]}))]}
  what="SIG$signal at $call #$count"
  run -e trace="$call" -e inject="$call:signal=$signal:when=$count"
  check_whole "$what"
  check_no_leftover "$what"
  [ "$status" -eq $((128 + $(kill -l "$signal"))) ] || problem "$what: status $status"
  grep -q "+++ killed by SIG$signal +++" run.trace || problem "$what: not killed by the signal"
  # It ends once the file in flight is done: the lines up to its own.
  awk -v n=$((files + 1)) '{ print } /^cutting/ && ++c == n { exit }' new.out | cmp -s - run.out ||
    problem "$what: not ended after the file in flight"
  check_cut "$what" printed
done <<<"$folder_calls"

while read -r call count _; do
  what="SIGKILL at $call #$count"
  run -e trace="$call" -e inject="$call:signal=KILL:when=$count"
  check_whole "$what"
  (cd run && "$tool" ../c.d88 >/dev/null 2>&1) || problem "$what: the next run failed"
  check_no_leftover "$what, then a run"
  look
  check_cut "$what, then a run" new
done <<<"$folder_calls"

# The container named PROG among the outputs, each look at a file (every
# call of the stat family) failing in turn: a look that fails refuses, so the
# container keeps its bytes and every other name stays whole.
rm -rf run && cp -a old run && cp c.orig run/PROG
(cd run && strace -o ../trace -e trace=%%stat "$tool" PROG >/dev/null 2>&1)
stat_calls=$(awk -F'(' '/^[a-z_0-9]+\(/ { print $1, ++n[$1] }' trace)
[ -n "$stat_calls" ] || problem "no look at a file was seen"
while read -r call count; do
  what="$call #$count fails, container PROG"
  rm -rf run && cp -a old run && cp c.orig run/PROG
  (cd run && strace -o /dev/null -f --seccomp-bpf -e trace="$call" -e inject="$call:error=EIO:when=$count" \
    "$tool" PROG >/dev/null 2>../run.err)
  status=$?
  runs=$((runs + 1))
  cmp -s run/PROG c.orig || problem "$what: the container changed"
  look
  for name in $names; do
    [ "$name" = PROG ] || [ "${state[$name]}" != other ] || problem "$what: $name is neither the earlier nor the new file"
  done
  check_no_leftover "$what"
  # Status 1, unless the call that fails is the loader's, before the tool runs.
  [ "$status" -eq 1 ] || { [ "$status" -eq 127 ] && grep -q 'loading shared libraries' run.err; } ||
    problem "$what: status $status"
done <<<"$stat_calls"

# check_pair WHAT FIRST SECOND: after two runs in one folder, the first in
# the background as process FIRST, the second ended with status SECOND:
# both succeeded, every name holds its new file, nothing is left.
check_pair() {
  wait "$2" && [ "$3" -eq 0 ] || problem "$1: a run failed"
  runs=$((runs + 2))
  check_no_leftover "$1"
  look
  check_cut "$1" new
}

# Pairs of runs writing one folder at the same time, on a container of 64
# disk images.
for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22; do cat c.orig; done >c64.d88
for pair in 1 2 3 4 5; do
  rm -rf run && cp -a old run
  (cd run && "$tool" ../c64.d88 >/dev/null 2>&1) &
  first=$!
  (cd run && "$tool" ../c64.d88 >/dev/null 2>&1)
  check_pair "concurrent runs $pair" "$first" $?
done

# A run held in its first write (of a temporary file) while another cuts
# the same folder: the other waits for the file that the first holds.
rm -rf run && cp -a old run
(cd run && strace -o /dev/null -e trace=write -e inject=write:delay_enter=1500000:when=1 \
  "$tool" ../c.d88 >/dev/null 2>&1) &
first=$!
timeout 5 bash -c 'until ls -A run | grep -q d88cut; do sleep 0.02; done' ||
  problem "a run held in a write: no temporary file while held"
(cd run && "$tool" ../c.d88 >/dev/null 2>&1)
check_pair "a run held in a write" "$first" $?

# A listing whose first write fails and later ones succeed: status 1.
strace -o run.trace -e trace=write -e inject=write:error=EIO:when=1 "$tool" -l c64.d88 >/dev/null 2>&1
status=$?
runs=$((runs + 1))
[ "$(grep -c '^write(1,' run.trace)" -gt 1 ] || problem "the listing was written at once"
[ "$status" -eq 1 ] || problem "a listing's first write fails: status $status"

# A listing interrupted at its last write ends by the signal.
strace -o run.trace -e trace=write "$tool" -l c64.d88 >/dev/null 2>&1
strace -o run.trace -e trace=write -e inject=write:signal=INT:when="$(grep -c '^write(' run.trace)" \
  "$tool" -l c64.d88 >/dev/null 2>&1
status=$?
runs=$((runs + 2))
[ "$status" -eq 130 ] && grep -q '+++ killed by SIGINT +++' run.trace ||
  problem "a listing interrupted at its last write: status $status"

# On a terminal, a cut interrupted in its last file ends without the line
# that closes a cut. (In old/ each file is renamed over an earlier one.)
rm -rf run && cp -a old run
(cd run && script -qec "strace -o ../run.trace -e trace=rename \
  -e inject=rename:signal=INT:when=$(grep -c '^cutting' ../new.out) $(printf %q "$tool") ../c.d88" /dev/null \
  </dev/null >../run.out 2>&1)
runs=$((runs + 1))
grep -q '+++ killed by SIGINT +++' run.trace || problem "a cut interrupted on a terminal: not killed by the signal"
! grep -q 'cut into' run.out || problem "a cut interrupted on a terminal: closed with $(grep 'cut into' run.out)"

# Putting files back (--put): PROG changed in the folder, a new container
# written over an earlier file of its name, with each call after the
# container is opened failed in turn, and interrupted and killed at each
# call that changes the folder. The container stays as it was; new.d88 is
# the earlier file, the whole new container or (where its check failed)
# none, and a run with status 0 leaves the new one; no temporary file is
# left, after a kill once another put has run.
mkdir putfiles && cp new/PROG putfiles/ && printf 'X' | dd of=putfiles/PROG bs=1 seek=100 conv=notrunc status=none
printf 'an earlier new.d88\n' >put.old
"$tool" --put put.new -C putfiles c.d88 >/dev/null 2>&1 || problem "a put failed"
put_run() {
  cp put.old new.d88
  { strace -o put.trace -f "$@" "$tool" --put new.d88 -C putfiles c.d88 >/dev/null 2>&1; } 2>/dev/null
  status=$?
  runs=$((runs + 1))
}
put_check() {
  cmp -s c.d88 c.orig || { problem "$1: the container changed"; cp c.orig c.d88; }
  if [ -e new.d88 ] && ! cmp -s new.d88 put.old && ! cmp -s new.d88 put.new; then
    problem "$1: new.d88 is neither the earlier file nor the new container"
  fi
  [ "$status" -ne 0 ] || cmp -s new.d88 put.new || problem "$1: status 0 without the new container"
}
strace -o trace "$tool" --put new.d88 -C putfiles c.d88 >/dev/null 2>&1
put_calls=$(awk -F'(' '
  /^[a-z_0-9]+\(/ {
    n[$1]++
    changes = /^openat.*O_CREAT/ || /^(rename|renameat2|unlink)\(/ || (/^write\(/ && !/^write\([12],/)
    if (opened && $1 != "brk") print $1, n[$1], changes ? "changes" : ""
  }
  /^openat\(AT_FDCWD, "c.d88"/ { opened = 1 }' trace)
[ -n "$put_calls" ] || problem "the calls of a put were not seen"
while read -r call count _; do
  what="a put, $call #$count fails"
  put_run --seccomp-bpf -e trace="$call" -e inject="$call:error=EIO:when=$count"
  put_check "$what"
  [ "$status" -le 1 ] || problem "$what: status $status"
  [ -z "$(ls -A | grep 'new.d88.d88cut')" ] || { problem "$what: left a temporary file"; rm -f .new.d88.d88cut; }
done <<<"$put_calls"
while read -r call count _; do
  for signal in INT KILL; do
    what="a put, SIG$signal at $call #$count"
    put_run -e trace="$call" -e inject="$call:signal=$signal:when=$count"
    put_check "$what"
    if [ "$signal" = INT ]; then
      [ "$status" -eq 130 ] || problem "$what: status $status"
    else
      "$tool" --put new.d88 -C putfiles c.d88 >/dev/null 2>&1 && cmp -s new.d88 put.new || problem "$what: the next put failed"
    fi
    [ -z "$(ls -A | grep 'new.d88.d88cut')" ] || { problem "$what: left a temporary file"; rm -f .new.d88.d88cut; }
  done
done < <(grep ' changes$' <<<"$put_calls")

echo "$runs runs, $(wc -l <<<"$calls") calls failed in turn, $(wc -l <<<"$folder_calls") interrupted and killed at," \
  "$(wc -l <<<"$stat_calls") looks failed in turn with the container named PROG," \
  "$(wc -l <<<"$put_calls") calls of a put failed in turn: $problems failures"
[ "$problems" -eq 0 ]
