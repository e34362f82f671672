#!/bin/sh
# fieldkit started as the menu starts it, by a user whose working folder cannot be made (the
# home folder is a file here, so that this holds even for root): it says why on its error
# output and keeps running. The warning box holds it until the timeout ends it.
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/home"
cd "$work"
HOME="$work/home" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen timeout 5 "$program" --work-folder 2>"$work/err"
status=$?
cat "$work/err"
[ "$status" -eq 124 ] || { echo "fieldkit ended with status $status instead of running on"; exit 1; }
grep -q "The working folder $work/home/FieldKit cannot be used" "$work/err" || { echo "no warning"; exit 1; }
grep -q "FieldKit works in $work instead" "$work/err" || { echo "no word of where it works"; exit 1; }
