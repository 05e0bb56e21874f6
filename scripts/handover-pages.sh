#!/usr/bin/env bash
# The README's pictures of the handover document: four simulated units set
# up from a plan, one changed by hand and compared since, the document made
# in English and in Japanese, printed to PDF by headless Chromium and each
# page rendered small (docs/handover-LANG-N.png). Needs a build
# (scripts/build.sh), chromium and poppler-utils.
set -euo pipefail
cd "$(dirname "$0")/.."
app=${QML_APP_DIR:-build/app}
sim=${QML_SIM_BIN:-build/sim/qmlsim}
work=$(mktemp -d)
sims=()
trap 'kill "${sims[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
for n in 1 2 3 4; do
  "$sim" --link-dir "$work" --com $n < /dev/null > /dev/null 2>&1 &
  sims+=($!)
done
sleep 0.5
cat > "$work/plan.ini" <<'PLAN'
[network]
format = 1
site = Harbour pumps
band = 2
channel = 11

[node pump-house]
type = master
port = COM1

[node tank-1]
type = slave
port = COM2
bit-rate = 19200

[node tank-2]
type = slave
port = COM3

[node tank-3]
type = slave
port = COM4
PLAN
export QML47210_SITE_BOOK="$work/sitebook.sqlite"
cli() { QML47210_FILES="$work" "$app/qmlsetup" "$@"; }
cli network "$work/plan.ini" > /dev/null
cli --port COM3 write channel=12 > /dev/null
cli compare "$work/plan.ini" > /dev/null || true # tank-2 differs now
mkdir -p docs
for lang in en ja; do
  cp "dist/lang/$lang/message.ini" "dist/lang/$lang/dispname.ini" "$work/"
  QML47210_LANG=$lang cli handover "$work/plan.ini" --force --out "$work/handover-$lang.html" > /dev/null
  chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" --no-pdf-header-footer \
    --print-to-pdf="$work/handover-$lang.pdf" "file://$work/handover-$lang.html" 2> /dev/null
  rm -f docs/handover-$lang-*.png
  pdftoppm -r 50 -png "$work/handover-$lang.pdf" "docs/handover-$lang"
  [ -z "${KEEP:-}" ] || cp "$work/handover-$lang.html" "$work/handover-$lang.pdf" "$KEEP/"
done
ls docs/handover-*.png
