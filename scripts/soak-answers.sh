#!/usr/bin/env bash
# Soak: many command-line runs against the simulated unit, with random answer
# delays up to past the resend, refusals now and then and an echoing adapter in
# about a quarter of the runs. After every run the unit's own state is read and
# each claim the run made about the unit is checked against it. Not part of the
# test suite: about 20 minutes with the defaults.
#
#   bash scripts/soak-answers.sh                 # 2,000 runs on 10 units, about 15 min
#   bash scripts/soak-answers.sh --quick         # 60 runs
#   RUNS=500 JOBS=1 SEED=7 bash scripts/soak-answers.sh   # one unit, one run after another
#
# Environment: RUNS (default 2000), JOBS (simulated units, each with its share of the runs
# one after another, default 10; the runs mostly wait, so more units than
# cores is fine), SEED (the run's choices and the unit's delays; unit k
# takes SEED+k),
# DELAY_MAX (ms, default 1000), TIME_LIMIT (s: no run starts after it, default
# 7200), BUILD (default build), LOG (every contradicted claim; default
# $BUILD/soak-answers.log). Exit 1 when any claim was contradicted, 2 when the
# soak itself could not run.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 2
RUNS=${RUNS:-2000}
SEED=${SEED:-$(( $(date +%s) % 100000 ))}
DELAY_MAX=${DELAY_MAX:-1000}
TIME_LIMIT=${TIME_LIMIT:-7200}
BUILD=${BUILD:-build}
while (($#)); do
    case $1 in
        --quick) RUNS=60 ;;
        --runs) RUNS=${2:?}; shift ;;
        --seed) SEED=${2:?}; shift ;;
        -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "soak-answers: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
[[ $RUNS =~ ^[0-9]+$ && $SEED =~ ^[0-9]+$ && $DELAY_MAX =~ ^[0-9]+$ && $TIME_LIMIT =~ ^[0-9]+$ ]] || {
    echo "soak-answers: RUNS, SEED, DELAY_MAX and TIME_LIMIT are numbers" >&2; exit 2; }
LOG=${LOG:-$BUILD/soak-answers.log}
JOBS=${JOBS:-10}
[[ $JOBS =~ ^[1-9][0-9]*$ ]] || { echo "soak-answers: JOBS is a number from 1" >&2; exit 2; }

line='%-18s runs %4d  contradicted %3d  no-answer %3d  may-have-been-written %3d  seed %s'
summarize() { # results file, seed, seconds; exits
    sort "$1" | awk -v seed="$2" -v secs="$3" -v line="$line" '
        $1 != cat { if (cat != "") printf line "\n", cat, runs, wrong, na, may, seed
                    cat = $1; runs = wrong = na = may = 0 }
        { runs++; wrong += $2; na += ($3 == "no-answer"); may += $4
          R++; W += $2; NA += ($3 == "no-answer"); M += $4; K += ($3 == "killed") }
        END { if (cat != "") printf line "\n", cat, runs, wrong, na, may, seed
              printf line "  (%d s; %d runs killed by timeout)\n", "total", R, W, NA, M, seed, secs, K }'
    local contradicted
    contradicted=$(awk '{c += $2} END {print c + 0}' "$1")
    if ((contradicted > 0)); then
        echo "soak-answers: $contradicted claims contradicted the unit; each in $LOG*" >&2
        exit 1
    fi
    exit 0
}

# Several units side by side: this script once a unit, their results summed.
if ((JOBS > 1)) && [[ -z ${SOAK_RESULTS:-} ]]; then
    jobs_dir=$(mktemp -d)
    trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$jobs_dir"' EXIT
    trap 'exit 130' INT TERM
    for ((k = 0; k < JOBS; k++)); do
        SOAK_RESULTS=$jobs_dir/results.$k RUNS=$(((RUNS + JOBS - 1 - k) / JOBS)) SEED=$((SEED + k)) \
            LOG=$LOG.$k DELAY_MAX=$DELAY_MAX TIME_LIMIT=$TIME_LIMIT BUILD=$BUILD \
            bash "$0" > "$jobs_dir/out.$k" 2>&1 &
    done
    wait
    cat "$jobs_dir"/results.* > "$jobs_dir/all" 2>/dev/null
    [[ -s $jobs_dir/all ]] || { cat "$jobs_dir"/out.* >&2; echo "soak-answers: no unit ran" >&2; exit 2; }
    summarize "$jobs_dir/all" "$SEED+0..$((JOBS - 1))" "$SECONDS"
fi
QMLSIM=$BUILD/sim/qmlsim
QMLSETUP=$BUILD/app/qmlsetup
[[ -x $QMLSETUP ]] || QMLSETUP=$(find "$BUILD" -name qmlsetup -type f -perm -u+x 2>/dev/null | head -n 1)
[[ -x $QMLSIM && -x $QMLSETUP ]] || {
    echo "soak-answers: build qmlsim and qmlsetup first (cmake --build $BUILD --target qmlsim qmlsetup)" >&2
    exit 2
}

die() { echo "soak-answers: $*" >&2; exit 2; }
tmp=$(mktemp -d)
sim_pid=
cleanup() {
    if [[ -n $sim_pid ]]; then
        [[ -n ${SIM[1]:-} ]] && { echo quit >&"${SIM[1]}"; } 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.2; done
        kill "$sim_pid" 2>/dev/null
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The program's 7 s reply wait becomes 0.7 s; its files (backups) go to tmp.
export QML_TIME_SCALE=0.1 QML47210_FILES=$tmp/files LC_ALL=C.UTF-8
mkdir -m 700 "$tmp/files"
RANDOM=$SEED

coproc SIM { exec "$QMLSIM" --seed "$SEED"; }
sim_pid=$SIM_PID
read -r -t 10 -u "${SIM[0]}" DEV || die "the simulated unit printed no device"
[[ -e $DEV ]] || die "no device $DEV"

ctl() { # a control command, answered "ok"
    local answer
    printf '%s\n' "$1" >&"${SIM[1]}"
    read -r -t 10 -u "${SIM[0]}" answer || die "no answer to '$1'"
    [[ $answer == ok ]] || die "'$1': $answer"
}
state() { # the unit's registers and record, to file $1
    local l n
    printf 'state\n' >&"${SIM[1]}"
    : > "$1"
    for ((n = 0; n < 40; n++)); do
        read -r -t 10 -u "${SIM[0]}" l || break
        printf '%s\n' "$l" >> "$1"
        [[ $l == RECORD* ]] && return 0
    done
    die "no state from the unit"
}
# The draws set variables: a subshell would draw from a fresh seed.
hex2() { printf -v H '%02X' $((RANDOM % 256)); }
reg2() { printf -v N '%02d' $((RANDOM % 28)); }
pick() { shift $((RANDOM % $#)); P=$1; }
field() { # F=KEY=VALUE, a value the record can hold
    case $1 in
        band) P=$((RANDOM % 5)) ;;
        channel) P=$((RANDOM % 24)) ;;
        type) pick master slave ;;
        antenna) pick single diversity ;;
        bit-rate) pick 2400 4800 9600 19200 38400 57600 115200 ;;
        data-length) pick 7 8 ;;
        parity) pick none even odd ;;
        stop-bits) pick 1 2 ;;
        flow) pick none rts-cts ;;
    esac
    F=$1=$P
}
KEYS=(band channel type antenna bit-rate data-length parity stop-bits flow)

# The version as the program prints it, from a run without faults.
ctl "delay 0"
timeout -k 5 30 "$QMLSETUP" --port "$DEV" --json info > "$tmp/out.json" 2>/dev/null ||
    die "info failed without faults: $(cat "$tmp/out.json")"
VERSION=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["version"])' "$tmp/out.json") ||
    die "no version in info's answer"

cat > "$tmp/check.py" <<'EOF'
# Checks one run's claims against the unit's state before and after it.
# argv: category kind before after out.json rc version log run [arguments]
import json, re, sys

cat, kind, before_f, after_f, out_f, rc, version, log, run = sys.argv[1:10]
args = sys.argv[10:]
rc = int(rc)
LISTS = {"type": ["master", "slave"], "antenna": ["single", "diversity"],
         "bit-rate": ["2400", "4800", "9600", "19200", "38400", "57600", "115200"],
         "data-length": ["7", "8"], "parity": ["none", "even", "odd"],
         "stop-bits": ["1", "2"], "flow": ["none", "rts-cts"]}

def unit(path):
    regs, rec = {}, {}
    for line in open(path):
        f = line.split()
        if len(f) == 3 and f[0] == "REG":
            regs["register " + f[1]] = f[2].upper()
        elif len(f) == 10 and f[0] == "RECORD":
            rec = {"band": f[1], "channel": f[2]}
            rec.update({k: LISTS[k][int(p)] for k, p in zip(LISTS, f[3:])})
    return regs, rec

def config(path):  # a configuration file's registers and record fields
    regs, rec, section = {}, {}, ""
    for line in open(path):
        line = line.split("#")[0].strip()
        m = re.match(r"\[(\w+)\]", line)
        if m:
            section = m.group(1)
        elif "=" in line:
            k, v = (s.strip() for s in line.split("=", 1))
            if section == "registers":
                regs["register " + k] = v.upper()
            elif section == "record":
                rec[k] = v
    return regs, rec

(regs0, rec0), (regs1, rec1) = unit(before_f), unit(after_f)
try:
    doc = json.load(open(out_f))
except (OSError, ValueError):
    doc = {}
wrong = []

# What each write meant, by the name the program gives it.
meant = {}
if kind == "reg-set":
    meant["register " + args[0]] = args[1].upper()
elif kind in ("apply", "write"):
    regs, rec = config(args[0]) if kind == "apply" else ({}, dict(a.split("=", 1) for a in args))
    meant.update(regs)
    if rec:
        meant["record"] = dict(rec0, **rec)
elif kind == "preset":
    for n, line in enumerate(open(args[0])):
        meant["register %02d" % n] = line.strip().upper()

def holds(what, regs, rec):
    return rec if what == "record" else regs.get(what)

maybe = False
for w in doc.get("writes", []):
    what, st = w.get("what"), w.get("state")
    maybe |= st == "may-have-been-written"
    if what not in meant:
        continue
    now, was = holds(what, regs1, rec1), holds(what, regs0, rec0)
    if st == "verified" and now != meant[what]:
        wrong.append("%s verified, the unit holds %s" % (what, now))
    elif st == "differs" and now == meant[what]:
        wrong.append("%s differs, yet the unit holds it" % what)
    elif st == "not-written" and now == meant[what] and was != now:
        wrong.append("%s not written, yet the unit took it" % what)
if rc == 0:
    for what, value in meant.items():
        if holds(what, regs1, rec1) != value and not any(s.startswith(what + " ") for s in wrong):
            wrong.append("exit 0, but %s is %s" % (what, holds(what, regs1, rec1)))
for d in doc.get("differences", []):
    what, said = d.get("what"), str(d.get("holds", "")).upper()
    if what in regs1 and said != regs1[what]:
        wrong.append("%s said to hold %s, holds %s" % (what, said, regs1[what]))
    elif what in rec1 and said != rec1[what].upper():
        wrong.append("%s said to hold %s, holds %s" % (what, said, rec1[what]))
if kind == "reg-get" and "value" in doc and doc["value"].upper() != regs1["register " + args[0]]:
    wrong.append("register %s read as %s, holds %s" % (args[0], doc["value"], regs1["register " + args[0]]))
if doc.get("record"):  # empty: not read (a save on the registers path)
    printed = {k: str(v) for k, v in doc["record"].items() if k in rec1}
    if printed != rec1:
        wrong.append("record read as %s, holds %s" % (printed, rec1))
if doc.get("version") and doc["version"] != version:
    wrong.append("version read as %r, is %r" % (doc["version"], version))
if kind == "save" and rc == 0:
    saved = config(args[0])[0]
    bad = [w for w in saved if saved[w] != regs1.get(w)]
    if bad:
        wrong.append("saved %s as the unit's, it holds %s" % (
            ", ".join("%s=%s" % (w, saved[w]) for w in bad), ", ".join(regs1.get(w, "?") for w in bad)))
if doc.get("backup"):
    try:
        kept = config(doc["backup"])[0]
        bad = [w for w in kept if kept[w] != regs0.get(w)]
        if bad:
            wrong.append("backup holds %s, the unit held %s" % (
                ", ".join("%s=%s" % (w, kept[w]) for w in bad), ", ".join(regs0.get(w, "?") for w in bad)))
    except OSError:
        pass

outcome = {0: "ok", 4: "no-answer", 5: "refused", 6: "differs", 8: "other-answer",
           124: "killed", 137: "killed"}.get(rc, "exit-%d" % rc)
if rc == 4 and doc.get("reason") == "line-lost":
    outcome = "line-lost"
with open(log, "a") as f:
    for s in wrong:
        f.write("run %s %s %s: %s\n" % (run, cat, " ".join(args), s))
print(cat, len(wrong), outcome, int(maybe))
EOF

# Short runs mostly; save, apply and preset take 30 to 90 exchanges each.
KINDS=(reg-set reg-set reg-set reg-set reg-set reg-set reg-get reg-get reg-get reg-get
       write write write write read read info info save apply preset)
: > "$LOG"
: > "$tmp/results"
echo "soak-answers: $RUNS runs, seed $SEED, answer delays 0 to at most $DELAY_MAX ms, QML_TIME_SCALE=0.1, $DEV"
started=$SECONDS
for ((run = 1; run <= RUNS; run++)); do
    if ((SECONDS - started > TIME_LIMIT)); then
        echo "soak-answers: stopped after $((run - 1)) runs: past TIME_LIMIT=$TIME_LIMIT s" >&2
        break
    fi
    pick wired registers && path=$P
    kind=${KINDS[RANDOM % ${#KINDS[@]}]}
    limit=60
    case $kind in
        reg-set) reg2; hex2; cmd=(reg set "$N" "$H"); extra=("$N" "$H") ;;
        reg-get) reg2; cmd=(reg get "$N"); extra=("$N") ;;
        read|info) cmd=("$kind"); extra=() ;;
        write)
            k1=${KEYS[RANDOM % 9]} k2=${KEYS[RANDOM % 9]}
            field "$k1" && cmd=(write "$F")
            [[ $k2 != "$k1" ]] && field "$k2" && cmd+=("$F")
            extra=("${cmd[@]:1}")
            ;;
        save) cmd=(save --force "$tmp/saved.ini"); extra=("$tmp/saved.ini"); limit=240 ;;
        apply)
            # Registers 06 and 27 stay out: the record holds band and channel too.
            { printf '[unit]\nformat = 1\n\n[registers]\n'
              first=$((RANDOM % 20))
              for n in $first $((first + 1 + RANDOM % 3)) $((first + 5)); do
                  ((n == 6)) && n=26
                  hex2 && printf '%02d = %s\n' "$n" "$H"
              done
              field "${KEYS[RANDOM % 9]}"
              [[ $path == wired ]] && printf '\n[record]\n%s = %s\n' "${F%%=*}" "${F#*=}"
            } > "$tmp/apply.ini"
            cmd=(apply "$tmp/apply.ini"); extra=("$tmp/apply.ini"); limit=240 ;;
        preset)
            for ((n = 0; n < 28; n++)); do hex2 && echo "$H"; done > "$tmp/preset.ini"
            cmd=(preset "$tmp/preset.ini"); extra=("$tmp/preset.ini"); limit=400 ;;
    esac
    ctl "delay 0-$((RANDOM % (DELAY_MAX + 1)))"
    refuse=off echo=off
    ((RANDOM % 10 == 0)) && refuse=on
    ((RANDOM % 4 == 0)) && echo=on
    ctl "refuse $refuse"
    ctl "echo $echo"
    state "$tmp/before"
    timeout -k 5 "$limit" "$QMLSETUP" --port "$DEV" --path "$path" --json "${cmd[@]}" \
        > "$tmp/out.json" 2> "$tmp/err"
    rc=$?
    sleep 0.1 # the run's last lines reach the unit
    state "$tmp/after"
    python3 "$tmp/check.py" "$kind/$path" "$kind" "$tmp/before" "$tmp/after" "$tmp/out.json" "$rc" \
        "$VERSION" "$LOG" "$run" "${extra[@]}" >> "$tmp/results" || die "the check failed on run $run"
    if ((run % 50 == 0)); then
        echo "  $run runs, $((SECONDS - started)) s, $(awk '{c += $2} END {print c + 0}' "$tmp/results") contradicted" >&2
    fi
done

if [[ -n ${SOAK_RESULTS:-} ]]; then # one unit of several: its results to the whole
    cp "$tmp/results" "$SOAK_RESULTS"
    exit 0
fi
summarize "$tmp/results" "$SEED" $((SECONDS - started))
