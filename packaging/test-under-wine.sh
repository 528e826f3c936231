#!/usr/bin/env bash
# Cross-builds d88cut.exe, checks the zip file that CPack makes of it, and runs
# the end-to-end tests (CliTest.*) against it under wine, with the same
# containers and expectations as on Linux.
# Needs the packages g++-mingw-w64-x86-64-posix, wine, wine64 and unzip, GoogleTest
# for the test program, which is built natively (the dev preset), and the page
# as one file, which the zip holds (cmake --workflow --preset web).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
page=build/web/site/d88cut.html
if [ ! -f "$page" ]; then
  echo "error: no $page for the zip; run cmake --workflow --preset web first" >&2
  exit 1
fi

cmake --workflow --preset windows
exe=build/windows/cutter/d88cut.exe

# Statically linked: the only DLLs it needs are those of Windows itself.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
echo "$exe imports: $dlls"
if grep -qiE 'lib[a-z0-9_+-]*\.dll' <<<"$dlls"; then
  echo "error: $exe needs a MinGW runtime DLL" >&2
  exit 1
fi

# The zip for Windows users, in a folder of its own: the program, the page
# as one file (as the web build made it), README.txt, the manual for Windows
# users in English and in Japanese and the licence; nothing else, and every
# text with CR LF line ends.
rm -f build/windows/d88cut-*.zip
(cd build/windows && cpack >/dev/null)
zip=$(echo build/windows/d88cut-*-win64.zip)
unzip -l "$zip"
expected="d88cut.exe d88cut.html d88cut.ja.txt d88cut.txt LICENSE.txt README.txt"
listing=$(unzip -Z1 "$zip" | sed 's|^d88cut-[^/]*/||' | sort | tr '\n' ' ')
if [ "$listing" != "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ]; then
  echo "error: $zip holds $listing, not $expected" >&2
  exit 1
fi
if ! unzip -p "$zip" '*/d88cut.html' | cmp -s - "$page"; then
  echo "error: the d88cut.html in $zip is not $page" >&2
  exit 1
fi
for name in $expected; do
  [[ $name == *.txt ]] || continue
  lines=$(unzip -p "$zip" "*/$name" | wc -l)
  crlf=$(unzip -p "$zip" "*/$name" | grep -c $'\r$' || true)
  [ "$lines" -eq "$crlf" ] || { echo "error: $name has $((lines - crlf)) of $lines lines without CR LF" >&2; exit 1; }
done
# README.txt and the manuals show the Japanese messages: UTF-8 with the
# byte order mark by which Notepad knows it. README.txt speaks Japanese and
# English, and names every message, the folder's too, and the page; so does
# the Japanese manual, in Japanese, with the window's own Japanese lines as
# the tool writes them. The manuals speak of Windows, not of what only other
# systems have.
for name in README.txt d88cut.txt d88cut.ja.txt; do
  [ "$(unzip -p "$zip" "*/$name" | head -c 3 | od -An -tx1 | tr -d ' ')" = efbbbf ] ||
    { echo "error: $name does not begin with a UTF-8 byte order mark" >&2; exit 1; }
done
messages=(ファイルをオープンできません. ファイルを読み込めません. ファイルの一部を読み込めません.
  ファイルを書き込めません. ディレクトリを開けません.)
readme=$(unzip -p "$zip" '*/README.txt')
for words in 使い方 'How to use it' "${messages[@]}" d88cut.html d88cut.ja.txt; do
  [[ $readme == *"$words"* ]] || { echo "error: README.txt lacks '$words'" >&2; exit 1; }
done
manual=$(unzip -p "$zip" '*/d88cut.ja.txt')
japanese=()
for key in console.press-enter hint.try-help reason.damaged problem.no-data closing.partly; do
  japanese+=("$(sed -n "s/^$key: \"\{0,1\}\([^\"]*\)\"\{0,1\}\$/\1/p" cutter/words/ja.txt | sed 's/{[a-z]*} //')")
done
for words in 説明書 "${messages[@]}" "${japanese[@]}"; do
  [[ $manual == *"$words"* ]] || { echo "error: d88cut.ja.txt lacks '$words'" >&2; exit 1; }
done
for name in d88cut.txt d88cut.ja.txt; do
  if unzip -p "$zip" "*/$name" | grep -nwE '[Ss]ignals?|SIG[A-Z]+|ext4|[Ff]ile systems?|[Ll]ocales?|nl_langinfo|setlocale' >&2 ||
    unzip -p "$zip" "*/$name" | grep -nE 'シグナル|ファイルシステム|ロケール' >&2; then
    echo "error: $name speaks of what Windows users do not have (above)" >&2
    exit 1
  fi
done

# The one-line build that docs/DEVELOPING.md shows (the toolchain file alone)
# is the preset's Release build too.
cmake -S . -B build/windows-oneline -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' build/windows-oneline/CMakeCache.txt)
rm -rf build/windows-oneline
echo "the one-line build's type: $type"
[ "$type" = Release ] || { echo "error: the one-line build is $type, the preset's Release" >&2; exit 1; }

cmake --preset dev >/dev/null
cmake --build --preset dev --target d88cut_tests

# The same prefix and settings as the wine test preset. A new prefix takes
# several seconds to set up; do that once here rather than in the first test.
export WINEPREFIX="$PWD/build/windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
prefix_start=$SECONDS
wine wineboot -i >build/windows/wineboot.log 2>&1 || { cat build/windows/wineboot.log >&2; exit 1; }
echo "wine prefix ready in $((SECONDS - prefix_start)) s"

status=0
ctest --preset wine || status=$?
wineserver -w  # let this prefix's server finish before leaving
echo "Windows build and wine tests took $((SECONDS - start)) s"
exit "$status"
