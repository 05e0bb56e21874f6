#!/usr/bin/env bash
# What recording in the site book adds to a run: `qmlsetup read` against the
# simulated unit, with the book off and with the default SQLite book, timed
# by hyperfine over many runs. Prints both means and the difference, and the
# book's size per entry.
#   bash bench/sitebook_cost.sh          (needs a build: scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
dpkg-query -W -f='${Status}' hyperfine 2>/dev/null | grep -q "install ok installed" \
  || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq hyperfine > /dev/null
app=$(mktemp -d)
cp -r "${APP_DIR:-build/app}"/. "$app/"
rm -f "$app"/COM* "$app"/sitebook*
build/sim/qmlsim --link-dir "$app" --com 1 > /dev/null 2>&1 < /dev/zero & sim=$!
trap 'kill $sim 2> /dev/null; rm -rf "$app"' EXIT
sleep 0.5
export QML47210_LANG=en QML47210_FILES=$app
runs=${RUNS:-60}
hyperfine -N --warmup 5 --runs "$runs" --export-json "$app/times.json" \
  -n off "env QML47210_SITE_BOOK=off $app/qmlsetup read" \
  -n book "$app/qmlsetup read" > /dev/null
python3 - "$app/times.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
off, on = r["off"], r["book"]
print(f"read, book off : {off['mean']*1000:7.2f} ms ± {off['stddev']*1000:.2f} (median {off['median']*1000:.2f})")
print(f"read, SQLite   : {on['mean']*1000:7.2f} ms ± {on['stddev']*1000:.2f} (median {on['median']*1000:.2f})")
print(f"added          : {(on['median']-off['median'])*1000:7.2f} ms (medians)")
PY
entries=$(python3 -c "import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute('select count(*) from site_book_entries').fetchone()[0])" "$app/sitebook.sqlite")
bytes=$(stat -c %s "$app/sitebook.sqlite")
echo "book: $entries entries of a read, $bytes bytes ($((bytes / entries)) bytes an entry)"
