#!/usr/bin/env bash
# Cancel, then set up again at once, many times, on three slow simulated
# units, as the network window drives them; the program's waits a hundredth.
#
# First through the command line: each cycle starts a network set-up and
# stops it (SIGTERM, which cancels as the window's Cancel does) at a random
# moment in its first 0.3 s; the next cycle begins as soon as it has ended,
# and a last set-up runs to its end. The units answer after 20 to 100 ms,
# now and then later than a run waits, so that a run may end with an answer
# still due and the next waits out its quiet spell with the port open: a
# cancel then must not end it before it listens. Counted: units whose run
# ended without its result, and units refused because their port was "in
# use" (and of those, how many named no program). Run as root, the set-ups
# run as nobody: root may open a port a dead run left exclusive, nobody else.
#
# Then the test that calls cancel() and start() at once in one process
# (three cycles a run), REPEATS times.
#
#   bash scripts/repro-cancel-setup.sh      # 50 cycles, then 17 test runs; about 3 min
#   CYCLES=10 REPEATS=0 SEED=7 DELAY=40 bash scripts/repro-cancel-setup.sh
#
# Environment: CYCLES (50), REPEATS (17), SEED (cancel moments and the units'
# delays), DELAY (the units' answer delay in ms, or MIN-MAX; 20-100), BUILD
# (build), VERBOSE (each cycle's results), KEEP (keep the cycles' outputs).
# Exit 1 when any run ended without its result, any port was refused as in
# use or any test run failed; 2 when it could not run.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 2
ROOT=$PWD
CYCLES=${CYCLES:-50}
SEED=${SEED:-$(( $(date +%s) % 100000 ))}
BUILD=$(realpath "${BUILD:-build}")
REPEATS=${REPEATS:-17}
QMLSIM=$BUILD/sim/qmlsim
QMLSETUP=$BUILD/app/qmlsetup
[[ -x $QMLSIM && -x $QMLSETUP ]] || {
    echo "repro-cancel-setup: build qmlsim and qmlsetup first" >&2; exit 2; }
RANDOM=$SEED

tmp=$(mktemp -d)
chmod 755 "$tmp"
sims=()
cleanup() { ((${#sims[@]})) && kill "${sims[@]}" 2>/dev/null; wait 2>/dev/null; [[ -n ${KEEP:-} ]] || rm -rf "$tmp"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

as=()
if ((EUID == 0)); then
    as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    mkdir -m 755 "$tmp/files" && chown nobody:nogroup "$tmp/files"
else
    mkdir -m 700 "$tmp/files"
fi
export QML_TIME_SCALE=0.01 QML47210_FILES=$tmp/files LC_ALL=C.UTF-8

plan="[network]"$'\n'"format = 1"$'\n'"band = 2"$'\n'"channel = 11"$'\n'
for k in 0 1 2; do
    "$QMLSIM" --seed $((SEED + k)) --fault "delay ${DELAY:-20-100}" < /dev/null > "$tmp/sim$k" 2>&1 &
    sims+=($!)
    for _ in $(seq 50); do [[ -s $tmp/sim$k ]] && break; sleep 0.1; done
    dev=$(head -n 1 "$tmp/sim$k")
    [[ -c $dev ]] || { echo "repro-cancel-setup: the simulated unit printed no device" >&2; exit 2; }
    chmod 666 "$dev"
    ((EUID == 0)) && rm -f "/var/lock/LCK..${dev#/dev/}" # the line's number, not its lock, came back
    type=slave; ((k == 0)) && type=master
    plan+="[node unit-$k]"$'\n'"type = $type"$'\n'"port = $dev"$'\n'
done
printf '%s' "$plan" > "$tmp/files/plan.ini"

cd "$tmp/files" || exit 2 # the plan is found there
setup() { exec "${as[@]}" "$QMLSETUP" --json network plan.ini; }
no_result=0 in_use=0 unnamed=0
count() { # a set-up's output
    local n u named
    n=$(grep -c 'ended without a result' "$1")
    u=$(grep -c 'in use by another program' "$1")
    named=$(grep -c 'in use by another program: [^"\\]' "$1")
    no_result=$((no_result + n)) in_use=$((in_use + u)) unnamed=$((unnamed + u - named))
    ((n + u)) && echo "$2: $n run(s) without a result, $u port(s) in use"
}
for ((c = 1; c <= CYCLES; c++)); do
    setup > "$tmp/out" 2>/dev/null &
    pid=$!
    after=$(printf '0.%03d' $((RANDOM % 300)))
    sleep "$after"
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    count "$tmp/out" "cycle $c"
    [[ -n ${KEEP:-} ]] && cp "$tmp/out" "$tmp/out.$c"
    [[ -n ${VERBOSE:-} ]] &&
        echo "cycle $c, cancelled after $after s:" $(grep -o '"\(result\|reason\)": "[a-z-]*"' "$tmp/out")
done
(setup > "$tmp/out" 2>/dev/null)
count "$tmp/out" "the last set-up, not cancelled"
echo "cycles $CYCLES (seed $SEED): runs ended without a result $no_result; ports in use $in_use ($unnamed naming no program)"
failed=$((no_result + in_use))

if ((REPEATS > 0)) && [[ ! -x $BUILD/tests/tst_networksetup ]]; then
    echo "repro-cancel-setup: no test runs: build tst_networksetup first" >&2
    failed=$((failed + 1))
elif ((REPEATS > 0)); then
    passed=0
    for ((r = 1; r <= REPEATS; r++)); do
        QML_APP=$QMLSETUP QML_DIST=$ROOT/dist QT_QPA_PLATFORM=offscreen \
            "$BUILD/tests/tst_networksetup" "runs:cancelled part way" > "$tmp/test" 2>&1 && passed=$((passed + 1))
    done
    echo "test runs of 'cancelled part way' passed: $passed of $REPEATS (three cycles each)"
    failed=$((failed + REPEATS - passed))
fi
((failed == 0))
