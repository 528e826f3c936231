#!/usr/bin/env bash
# Measures the sizes that README.md and docs/DEVELOPING.md give: the Windows
# program, the page's program (d88cut.wasm), what a visit to the page loads
# and the page as one file (d88cut.html); prints each, and checks it against
# every figure for it in the documents, which must be within 5% of it. The
# sizes drift as the code and the page change: a figure more than 5% off
# fails, with what was measured and the line that holds the figure, to be
# brought up to date.
#
# Needs the web and windows builds (cmake --workflow --preset web, and
# windows) and node, whose zlib gzips at level 9 as the page's test does.
set -euo pipefail
cd "$(dirname "$0")/.."
site=build/web/site
exe=build/windows/cutter/d88cut.exe
for file in "$exe" "$site/d88cut.wasm" "$site/d88cut.html"; do
  if [ ! -f "$file" ]; then
    echo "error: no $file: build it first (cmake --workflow --preset web, and windows)" >&2
    exit 1
  fi
done

# gzipped FILE...: the bytes of the FILEs, each gzipped at level 9, together.
gzipped() {
  node -e 'const fs = require("fs"), zlib = require("zlib");
    let total = 0;
    for (const file of process.argv.slice(1)) total += zlib.gzipSync(fs.readFileSync(file), { level: 9 }).length;
    console.log(total)' "$@"
}

# A visit loads every file of the site but the page as one file, which it
# offers for download, and the zip library's licence.
visit=()
for file in "$site"/*; do
  case ${file##*/} in d88cut.html | *LICENSE*) ;; *) visit+=("$file") ;; esac
done

failed=0

# check WHAT UNIT MEASURED FROM PATTERN: every figure for WHAT in README.md
# and docs/DEVELOPING.md, found by the Perl regular expression PATTERN (its
# first group is the figure; a space in it stands for any white space, a line
# end too), in UNIT: "bytes", written with commas, or "KiB", to a tenth; each
# must be within 5% of MEASURED (bytes), which FROM tells of.
check() {
  perl -e '
    my ($what, $unit, $measured, $from, $pattern, @docs) = @ARGV;
    (my $shown = $unit eq "KiB" ? sprintf("%.1f", $measured / 1024) : $measured) =~ s/\d(?=(\d{3})+$)/$&,/g;
    print "$what: $shown $unit ($from)\n";
    (my $re = $pattern) =~ s/ /\\s+/g;
    my $found = 0, my $failed = 0;
    for my $doc (@docs) {
      open(my $in, "<", $doc) or die "$doc: $!\n";
      my $text = do { local $/; <$in> };
      while ($text =~ /$re/g) {
        my $line = 1 + (substr($text, 0, $-[1]) =~ tr/\n//);
        (my $figure = $1) =~ tr/,//d;
        my $bytes = $unit eq "KiB" ? $figure * 1024 : $figure;
        $found++;
        if (abs($bytes - $measured) <= 0.05 * $measured) {
          print "  $doc:$line says $1 $unit: within 5%\n";
        } else {
          print "  FAILED: $doc:$line says $1 $unit, more than 5% from the $shown $unit measured ($from):",
            " update the figure there\n";
          $failed++;
        }
      }
    }
    if (!$found) {
      print "  FAILED: no figure for it found in @docs by /$pattern/: give it there, or change the pattern\n";
      $failed++;
    }
    exit($failed ? 1 : 0);' "$@" README.md docs/DEVELOPING.md || failed=$((failed + 1))
}

check "d88cut.exe" bytes "$(stat -c %s "$exe")" "$exe" \
  '`build/windows/cutter/d88cut.exe`: ([0-9,]+) bytes'
check "d88cut.wasm, gzipped" KiB "$(gzipped "$site/d88cut.wasm")" "$site/d88cut.wasm, gzip -9" \
  'the program ([0-9.]+) KiB \(`d88cut.wasm`'
check "a visit, gzipped" KiB "$(gzipped "${visit[@]}")" \
  "$(printf '%s ' "${visit[@]##*/}")in $site, each gzip -9" 'A visit loads ([0-9.]+) KiB gzip'
check "d88cut.html" bytes "$(stat -c %s "$site/d88cut.html")" "$site/d88cut.html" \
  '`d88cut.html` holds all of that in ([0-9,]+) bytes'
check "d88cut.html, gzipped" KiB "$(gzipped "$site/d88cut.html")" "$site/d88cut.html, gzip -9" \
  '`d88cut.html`[^.;]* ([0-9.]+) KiB gzip'
[ $failed -eq 0 ]
