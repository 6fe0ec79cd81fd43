#!/usr/bin/env bash
# Builds the fuzz preset and runs a bounded libFuzzer campaign of the profile
# target over a copy of the seed corpus, so the committed corpus never
# changes. Exits non-zero when the build fails or the fuzzer finds anything;
# the finding is then kept and its path printed.
#
#   fuzz/campaign.sh [seconds]     (default 60)
#   FUZZ_BUILD_DIR=dir fuzz/campaign.sh   builds in dir instead of build/fuzz
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="${FUZZ_BUILD_DIR:-$root/build/fuzz}"

cmake --preset fuzz -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target profile_fuzz

work="$(mktemp -d "${TMPDIR:-/tmp}/quillory-fuzz-XXXXXX")"
mkdir "$work/corpus" "$work/findings"
cp "$root"/fuzz/corpus/* "$work/corpus/"

status=0
"$build/fuzz/profile_fuzz" \
    -max_total_time="$seconds" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -print_final_stats=1 \
    -artifact_prefix="$work/findings/" \
    "$work/corpus" 2>"$work/fuzz.log" || status=$?

grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$work/fuzz.log" || true
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/findings")" ]; then
    tail -n 40 "$work/fuzz.log" >&2
    echo "fuzz campaign failed (exit $status); findings and log kept in $work" >&2
    exit 1
fi
rm -rf "$work"
echo "fuzz campaign passed"
