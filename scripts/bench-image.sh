#!/usr/bin/env bash
# Median wall time to build an upgrade's image from the sample firmware, next to srec_cat
# converting the same application file, and how many times faster the image build is.
# Usage: scripts/bench-image.sh [build directory, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
bench="$build/bench/image_bench"
[ -x "$bench" ] || { echo "no $bench: build the image_bench target first" >&2; exit 1; }

"$bench" --benchmark_filter='BuildImage|SrecCat' --benchmark_format=csv 2>/dev/null |
  awk -F, '
    /BuildImage.*_median/ { image = $3; unit = $5 }
    /SrecCat.*_median/    { srec = $3 }
    END {
      if (image == "" || srec == "") { print "benchmark output incomplete" > "/dev/stderr"; exit 1 }
      printf "image build (median):             %.3f %s\n", image, unit
      printf "srec_cat application file (median): %.3f %s\n", srec, unit
      printf "image build is %.1fx faster\n", srec / image
    }'
