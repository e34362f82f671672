#!/usr/bin/env bash
# Peak memory and time of `fieldkit-cli history` over a long history: generates a history
# file of RECORDS records (100,000 by default) of the kinds upgrades and board reads write,
# then lists it in each format and prints, per format, the peak resident set size (GNU time,
# %M) against the file's size. The target: a peak under twice the file's size.
# Usage: scripts/history-memory.sh [build directory, default build/default] [records]
# The last line, "history memory: ...", is what scripts/perf-report.sh takes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
records=${2:-100000}
cli=$build/cli/fieldkit-cli
[ -x "$cli" ] || { echo "history-memory: no $cli; build it first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "history-memory: needs GNU time (/usr/bin/time)" >&2; exit 1; }

work=$(mktemp -d /tmp/fieldkit-history-memory.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Records as recordFor writes them: upgrades with their two files and questions, board reads,
# failures with their messages, a few benches and users, names beyond ASCII among them.
python3 - "$work/history.jsonl" "$records" <<'PY'
import hashlib, json, random, sys, uuid
path, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
benches = ["North bench", "South bench", "Prüfstand 2", "Werkstatt Süd"]
failures = [("erase_block", "erasing", "Failed to erase block 8.\n\nPlease turn the radio off and back on.\n\nThen, try upgrading again.\n\n"),
            ("ping", "connecting", "Failed to communicate with the option board.\n\nPlease switch the radio to a Lodestar zone."),
            ("read_esn", "reading_board", "Failed to read ESN")]
with open(path, "w", encoding="utf-8", newline="\n") as out:
    for n in range(count):
        upgrade = rng.random() < 0.7
        day, second = divmod(n * 37, 86400)
        record = {"schema": 1, "id": str(uuid.UUID(int=rng.getrandbits(128), version=4)),
                  "command": "upgrade" if upgrade else "info",
                  "started": "2026-%02d-%02dT%02d:%02d:%02dZ" % (1 + day // 28 % 12, 1 + day % 28, second // 3600, second // 60 % 60, second % 60),
                  "seconds": round(rng.uniform(0.5, 40), 3), "host": "bench-pc-%d" % rng.randrange(4),
                  "bench": rng.choice(benches), "user": rng.choice(["tech", "jörg", "anna"]), "fieldkit": "0.1.0",
                  "port": "COM%d" % rng.randrange(1, 5), "device": "/dev/ttyUSB%d" % rng.randrange(4), "simulated": False,
                  "esn": rng.getrandbits(32), "board_version": rng.choice(["R07.10.00", "R07.12.00", "R09.00.00"])}
        failed = rng.random() < 0.1
        kind, stage, message = rng.choice(failures) if failed else (None, "done", None)
        if upgrade:
            record.update({"settings_version": "R07.12.00", "band_edge_hz": 403000000, "config_variant": 0,
                           "files": [{"name": name, "size": size, "sha256": hashlib.sha256(name.encode()).hexdigest()}
                                     for name, size in (("corvo_boot.s19", 39249), ("corvo_fwapp.s19", 603394))],
                           "header_checksum": "0x%04X" % rng.getrandbits(16),
                           "questions": [{"kind": "already_flashed", "answer": "yes"}] if rng.random() < 0.3 else []})
        else:
            record.update({"settings_version": None, "band_edge_hz": None, "config_variant": None, "files": [],
                           "header_checksum": None, "questions": []})
        record.update({"result": "failure" if failed else "success", "failure_kind": kind, "message": message,
                       "stage": stage, "pages_written": 0 if failed or not upgrade else 1075})
        out.write(json.dumps(record, ensure_ascii=False, separators=(",", ":")) + "\n")
PY
size=$(stat -c %s "$work/history.jsonl")
size_mb=$(awk "BEGIN { printf \"%.1f\", $size / 1048576 }")
echo "history file: $records records, $size_mb MiB ($size bytes)"
summary=""
for format in table csv json; do
  FIELDKIT_HISTORY="$work/history.jsonl" /usr/bin/time -o "$work/time" -f '%e %M' \
    "$cli" history --format "$format" > "$work/out" 2> "$work/err"
  read -r elapsed peak < "$work/time"
  lines=$(wc -l < "$work/out")
  peak_mb=$(awk "BEGIN { printf \"%.1f\", $peak / 1024 }")
  ratio=$(awk "BEGIN { printf \"%.2f\", $peak * 1024 / $size }")
  echo "$format: $lines lines in $elapsed s, peak $peak_mb MiB = ${ratio}x the file"
  summary+="${summary:+, }$format $peak_mb MiB (${ratio}x) in $elapsed s"
done
echo "history memory: $records records, $size_mb MiB file; $summary"
