#!/usr/bin/env bash
# Checks the manual page, what `cmake --install` puts where, and the Debian
# package: its contents, what lintian says of it, and that the packaged
# program runs. Needs groff (groff-base), dpkg-dev, lintian and man-db.
set -euo pipefail
cd "$(dirname "$0")/.."

# The manual page must give no warning at all, read as the UTF-8 it is (its
# Japanese messages need a device that has their characters).
for device in utf8; do
  warnings=$(groff -k -man -ww -z -T"$device" docs/d88cut.1 2>&1)
  if [ -n "$warnings" ]; then
    echo "docs/d88cut.1 ($device):" >&2
    echo "$warnings" >&2
    exit 1
  fi
done
echo "docs/d88cut.1: no groff warnings"

cmake --workflow --preset deb

expect_files() {  # expect_files DIR FILE...: each FILE is a regular file under DIR
  local dir=$1 file
  shift
  for file in "$@"; do
    if [ ! -f "$dir/$file" ]; then
      echo "error: $dir/$file is missing" >&2
      exit 1
    fi
  done
}

stage=$PWD/build/release/stage
rm -rf "$stage"
cmake --install build/release --prefix "$stage"
expect_files "$stage" bin/d88cut share/man/man1/d88cut.1.gz \
  share/doc/d88cut/copyright share/doc/d88cut/changelog.gz
test -x "$stage/bin/d88cut"
# man finds the page under the prefix, and the page is the source's.
page=$(man -M "$stage/share/man" -w d88cut)
[ "$page" = "$stage/share/man/man1/d88cut.1.gz" ] || { echo "error: man found '$page'" >&2; exit 1; }
gzip -dc "$page" | cmp - docs/d88cut.1

debs=(build/release/d88cut_*.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "error: expected one package, found: ${debs[*]}" >&2
  exit 1
fi
deb=${debs[0]}
dpkg-deb -c "$deb"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/d88cut ./usr/share/man/man1/d88cut.1.gz \
  ./usr/share/doc/d88cut/copyright ./usr/share/doc/d88cut/changelog.gz; do
  grep -qx -- "$path" <<<"$contents" || { echo "error: $deb lacks $path" >&2; exit 1; }
done
dpkg-deb -f "$deb" Package Version Architecture Maintainer Depends
# No error or warning from Debian's package checker (it may still say
# something at the info level).
lintian --fail-on error,warning "$deb"
echo "lintian: no errors, no warnings"

# The packaged program: usage with no argument, and the sample container cut
# whole when the dev build's sample maker is there.
unpacked=build/release/unpacked
rm -rf "$unpacked"
dpkg-deb -x "$deb" "$unpacked"
gzip -dc "$unpacked/usr/share/man/man1/d88cut.1.gz" | cmp - docs/d88cut.1
status=0
"$unpacked/usr/bin/d88cut" 2>/dev/null || status=$?
[ "$status" -eq 1 ] || { echo "error: d88cut with no argument gave status $status" >&2; exit 1; }
if [ -x build/dev/tests/make_sample ]; then
  mkdir "$unpacked/out"
  build/dev/tests/make_sample "$unpacked/sample.d88"
  (cd "$unpacked/out" && ../usr/bin/d88cut ../sample.d88 >/dev/null)
  count=$(find "$unpacked/out" -type f | wc -l)
  echo "packaged d88cut cut $count files out of the sample container"
  [ "$count" -eq 49 ] || { echo "error: expected 49 files" >&2; exit 1; }
fi
echo "install layout and package: ok"
