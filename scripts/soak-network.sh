#!/usr/bin/env bash
# Soak: one adapter, three physical units, a three-unit plan set up with
# `network PLAN --sequential` again and again, while an operator plays with the
# line: quiet spells of the unit on it (0.5 to 6 s), unplugging a unit and
# plugging the next (the simulated unit's `unit FILE`), the adapter pulled out
# and put back (a new simulated unit on the same COM1), a unit that refuses
# writes. After every run each physical unit's state is read back and every
# "verified" or "differs" in the report is checked against the unit on the line
# when it was set up. Not part of the test suite.
#
#   bash scripts/soak-network.sh                 # 200 runs
#   RUNS=10 SEED=7 bash scripts/soak-network.sh  # 10 runs, repeatable choices
#
# Environment: RUNS (default 200), SEED, QML_TIME_SCALE (default 0.1: the
# program's waits and the operator's times alike), RUN_LIMIT (s a run may take
# before it counts as hung; default three of the program's 10 min waits,
# scaled, and 30 s), BUILD (default build), LOG (each run's events and every
# contradicted claim; default $BUILD/soak-network.log). Exit 1 when a claim
# was contradicted, 2 when the soak itself could not run.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 2
RUNS=${RUNS:-200}
SEED=${SEED:-$(( $(date +%s) % 100000 ))}
SCALE=${QML_TIME_SCALE:-0.1}
BUILD=${BUILD:-build}
LOG=${LOG:-$BUILD/soak-network.log}
case ${1:-} in
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    '') ;;
    *) echo "soak-network: unknown argument $1" >&2; exit 2 ;;
esac
[[ $RUNS =~ ^[0-9]+$ && $SEED =~ ^[0-9]+$ && $SCALE =~ ^[0-9]*\.?[0-9]+$ ]] || {
    echo "soak-network: RUNS and SEED are numbers, QML_TIME_SCALE a positive number" >&2; exit 2; }
RUN_LIMIT=${RUN_LIMIT:-$(python3 -c "print(int(3 * 600 * $SCALE + 30))")}
QMLSIM=$BUILD/sim/qmlsim
QMLSETUP=$BUILD/app/qmlsetup
[[ -x $QMLSIM && -x $QMLSETUP ]] || {
    echo "soak-network: build qmlsim and qmlsetup first (cmake --build $BUILD --target qmlsim qmlsetup)" >&2
    exit 2
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/files" "$tmp/units" "$tmp/dev"
# COM1 stays, as the port dialog's link does; what it leads to comes and goes
# with the adapter, as a stable name under /dev/serial/by-id does.
ln -s "$tmp/dev/COM1" "$tmp/files/COM1"
cat > "$tmp/plan.ini" <<'EOF'
[network]
format = 1
band = 2
channel = 11
bit-rate = 19200

[node pump-house]
type = master

[node tank-1]
type = slave
bit-rate = 9600

[node tank-2]
type = slave
EOF
export QML_TIME_SCALE=$SCALE QML47210_FILES=$tmp/files LC_ALL=C.UTF-8
python3 - "$QMLSIM" "$QMLSETUP" "$tmp" "$RUNS" "$SEED" "$SCALE" "$RUN_LIMIT" "$LOG" <<'EOF'
import heapq, json, os, queue, random, select, signal, subprocess, sys, threading, time

QMLSIM, QMLSETUP, TMP, RUNS, SEED, SCALE, LIMIT, LOG = sys.argv[1:9]
RUNS, SEED, SCALE, LIMIT = int(RUNS), int(SEED), float(SCALE), float(LIMIT)
rng = random.Random(SEED)
DEV, UNITS = TMP + "/dev", TMP + "/units"
PHYSICAL = ["A", "B", "C"]
NONE = UNITS + "/none"  # what the line holds with no unit plugged in
PLAN = {"pump-house": {"type": "master", "bit-rate": "19200"},
        "tank-1": {"type": "slave", "bit-rate": "9600"},
        "tank-2": {"type": "slave", "bit-rate": "19200"}}
LISTS = [("type", ["master", "slave"]), ("antenna", ["single", "diversity"]),
         ("bit-rate", ["2400", "4800", "9600", "19200", "38400", "57600", "115200"]),
         ("data-length", ["7", "8"]), ("parity", ["none", "even", "odd"]),
         ("stop-bits", ["1", "2"]), ("flow", ["none", "rts-cts"])]
log = open(LOG, "w")

def secs(program_seconds):  # the operator keeps the program's time scale
    return program_seconds * SCALE

def record_of(path):
    for line in open(path):
        f = line.split()
        if len(f) == 10 and f[0] == "RECORD":
            rec = {"band": f[1], "channel": f[2]}
            rec.update({k: vals[int(p)] for (k, vals), p in zip(LISTS, f[3:])})
            return rec
    return None

def fresh_unit(path):
    # Never the plan's band and channel: a unit holds a plan record only once written.
    band, channel = 2, 11
    while (band, channel) == (2, 11):
        band, channel = rng.randrange(5), rng.randrange(24)
    with open(path, "w") as f:
        f.write("RECORD %d %d %s\n" % (band, channel, " ".join(str(rng.randrange(len(v))) for _, v in LISTS)))

def die(why):
    print("soak-network: " + why, file=sys.stderr)
    raise SystemExit(2)

class Sim:
    def start(self, state):
        self.p = subprocess.Popen([QMLSIM, "--link-dir", DEV, "--com", "1", "--state", state],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        if not self.answer():
            die("the simulated unit printed no device")
    def answer(self):
        if not select.select([self.p.stdout], [], [], 10)[0]:
            return ""
        return self.p.stdout.readline().strip()
    def ctl(self, command):
        self.p.stdin.write(command + "\n")
        if self.answer() != "ok":
            die("the simulated unit refused '%s'" % command)
    def stop(self):
        try:
            self.p.stdin.write("quit\n")
            self.p.stdin.flush()
        except OSError:
            pass
        try:
            self.p.wait(10)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()

def one_run(run, sim):
    for u in PHYSICAL:
        fresh_unit("%s/%s" % (UNITS, u))
    order = rng.sample(PHYSICAL, 3)
    events = queue.Queue()
    out = open(TMP + "/out.json", "w")
    started = time.monotonic()
    cli = subprocess.Popen([QMLSETUP, "network", TMP + "/plan.ini", "--sequential", "--port", "COM1",
                            "--json"], stdout=out, stderr=subprocess.PIPE, text=True,
                           stdin=subprocess.DEVNULL, start_new_session=True)
    threading.Thread(target=lambda: ([events.put(l.rstrip("\n")) for l in cli.stderr], events.put(None)),
                     daemon=True).start()
    now = lambda: time.monotonic() - started
    todo = []  # (time, n, action)
    def at(t, action):
        heapq.heappush(todo, (t, len(todo) + rng.random(), action))
    st = {"line": None, "last": None, "plugged": 0, "phase": "empty", "quiet": False, "away": False,
          "spell": 0, "unplug_prompt": -1}
    attributed, window, same_unit_lines, stats = {}, {}, 0, {"spells": 0, "replugs": 0, "refusing": 0}
    trace = []
    def note(what):
        trace.append("%7.2f %s" % (now() / SCALE, what))
    def ctl(command):
        if not st["away"]:
            sim.ctl(command)
    def plug():
        if st["plugged"] >= 3 or st["phase"] != "empty":
            return
        unit = order[st["plugged"]]
        st["plugged"] += 1
        st["line"] = st["last"] = unit
        st["phase"], st["refuse"] = "plugged", rng.random() < 0.1
        stats["refusing"] += st["refuse"]
        ctl("unit %s/%s" % (UNITS, unit))
        ctl("refuse " + ("on" if st["refuse"] else "off"))
        ctl("silent off")
        note("plugged in %s%s" % (unit, " (refuses writes)" if st["refuse"] else ""))
        spell_later(st["plugged"], first=True)
    def unplug():
        if st["phase"] == "empty":
            return
        st["phase"], st["line"], st["quiet"] = "empty", None, False
        ctl("silent on")
        ctl("unit " + NONE)
        ctl("refuse off")
        note("unplugged")
        at(now() + secs(rng.uniform(5, 9)), plug)
    def spell_later(plugged, first=False):
        at(now() + secs(rng.uniform(0 if first else 1, 6 if first else 8)), lambda: spell(plugged))
    def spell(plugged):
        if st["phase"] == "empty" or st["quiet"] or st["plugged"] != plugged:
            return
        unit, length = st["line"], rng.uniform(0.5, 6)
        st["quiet"] = True
        stats["spells"] += 1
        ctl("silent on")
        note("%s quiet for %.1f s" % (unit, length))
        def end():
            if st["line"] == unit and st["quiet"]:
                st["quiet"] = False
                ctl("silent off")
                note("%s answers again" % unit)
                spell_later(plugged)
        at(now() + secs(length), end)
    def replug():
        if st["away"]:
            return
        stats["replugs"] += 1
        sim.ctl("drop")
        sim.stop()
        st["away"] = True
        away = rng.uniform(0.5, 5)
        note("adapter pulled out for %.1f s" % away)
        def back():
            st["away"] = False
            sim.start("%s/%s" % (UNITS, st["line"]) if st["line"] else NONE)
            ctl("silent " + ("off" if st["line"] and not st["quiet"] else "on"))
            ctl("refuse " + ("on" if st["line"] and st["refuse"] else "off"))
            note("adapter back")
        at(now() + secs(away), back)

    at(secs(rng.uniform(0.5, 3)), plug)
    if rng.random() < 0.25:
        at(secs(rng.uniform(0.5, 30)), replug)
    hung, current = False, None
    while True:
        wait = (todo[0][0] - now()) if todo else 1.0
        try:
            line = events.get(timeout=max(0.0, min(wait, 1.0)))
        except queue.Empty:
            line = ""
        if line is None:
            break
        if line:
            note("< " + line)
            name = line.split(" (")[0]
            words = line.split()
            if name in PLAN and "plug in" in line:
                current = name
                window[name] = {st["line"]}
            elif words and words[0] in PLAN and {"verified", "differs", "failed", "stopped"} & set(words[1:4]):
                window.setdefault(words[0], set()).add(st["line"])
                attributed[words[0]] = st["line"] or st["last"]
                current = None
            elif "taken for the same unit" in line:
                same_unit_lines += 1
            elif words and words[0].rstrip(":") in PLAN and "unplug" in line and st["phase"] == "plugged":
                st["phase"] = "reacting"
                at(now() + secs(rng.uniform(1, 10)), unplug)
        while todo and todo[0][0] <= now():
            action = heapq.heappop(todo)[2]
            if st["away"] and getattr(action, "__name__", "") != "back":
                at(now() + secs(0.5), action)  # the operator is busy with the adapter
            else:
                action()
        if current in window:
            window[current].add(st["line"])
        if now() > LIMIT and not hung:
            hung = True
            note("killed: the run took over %d s" % LIMIT)
            os.killpg(cli.pid, signal.SIGTERM)
            try:
                cli.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(cli.pid, signal.SIGKILL)
    cli.wait()
    out.close()
    while todo and st["away"]:  # the adapter back before the checks
        action = heapq.heappop(todo)[2]
        if getattr(action, "__name__", "") == "back":
            action()
    if st["phase"] != "empty":
        sim.ctl("silent on")
        sim.ctl("unit " + NONE)
    sim.ctl("refuse off")

    try:
        report = json.load(open(TMP + "/out.json"))
    except ValueError:
        report = {}
    holds = {u: record_of("%s/%s" % (UNITS, u)) for u in PHYSICAL}
    wrong, verified_on = [], {}
    for entry in report.get("units", []):
        name = entry.get("name")
        result = entry.get("result")
        if result not in ("verified", "differs"):  # written and read back: what it holds is claimed
            continue
        unit = attributed.get(name)
        claimed = {k: str(v) for k, v in (entry.get("after") or {}).items()}
        if unit is None:
            wrong.append("%s %s with no unit on the line" % (name, result))
            continue
        verified_on.setdefault(unit, []).append(name)
        seen = sorted(u for u in window.get(name, ()) if u)
        if len(seen) > 1:
            note("%s's set-up saw units %s on the line" % (name, " ".join(seen)))
        if {k: claimed.get(k) for k in holds[unit]} != holds[unit]:
            wrong.append("%s %s, the unit set up as it (%s) holds %s; claimed %s"
                         % (name, result, unit, holds[unit], claimed))
        elif result == "verified" and any(holds[unit][k] != v for k, v in dict(PLAN[name], band="2", channel="11").items()):
            wrong.append("%s verified, but %s holds %s" % (name, unit, holds[unit]))
    twice = [u for u, names in verified_on.items() if len(names) > 1]
    results = [e.get("result", "?") for e in report.get("units", [])]
    log.write("run %d: order %s, exit %s, %s\n" % (run, "".join(order), report.get("exit", cli.returncode),
                                                  " ".join(results) or "no report"))
    for t in trace:
        log.write("    " + t + "\n")
    for w in wrong + ["%s set up as %s" % (u, " and ".join(verified_on[u])) for u in twice]:
        log.write("  CONTRADICTED " + w + "\n")
    log.flush()
    return {"wrong": len(wrong), "twice": len(twice), "hung": int(hung), "results": results,
            "same": same_unit_lines, "secs": now(), **stats}

sim = Sim()
fresh_unit(NONE)
sim.start(NONE)
sim.ctl("silent on")
print("soak-network: %d runs, seed %d, QML_TIME_SCALE=%g, a run hung after %d s" % (RUNS, SEED, SCALE, LIMIT),
      flush=True)
began = time.monotonic()
total = {"wrong": 0, "twice": 0, "hung": 0, "same": 0, "spells": 0, "replugs": 0, "refusing": 0}
counts = {}
try:
    for run in range(1, RUNS + 1):
        r = one_run(run, sim)
        for k in total:
            total[k] += r[k]
        for res in r["results"]:
            counts[res] = counts.get(res, 0) + 1
        if run % 20 == 0 or r["wrong"] or r["twice"] or r["hung"]:
            print("  run %d (%.0f s): %s%s" % (run, time.monotonic() - began, " ".join(r["results"]),
                  "  contradicted %d, set up twice %d, hung %d" % (r["wrong"], r["twice"], r["hung"])
                  if r["wrong"] or r["twice"] or r["hung"] else ""), file=sys.stderr, flush=True)
finally:
    sim.stop()
print("runs %d  contradicted %d  set-up-twice %d  hung %d  wall %d s  seed %d" % (
      RUNS, total["wrong"], total["twice"], total["hung"], time.monotonic() - began, SEED))
print("  plan units: %s; quiet spells %d, adapter pulled out %d, refusing units %d, "
      "\"taken for the same unit\" %d" % (", ".join("%s %d" % kv for kv in sorted(counts.items())),
      total["spells"], total["replugs"], total["refusing"], total["same"]))
if total["wrong"] or total["twice"]:
    print("soak-network: each contradicted claim in %s" % LOG, file=sys.stderr)
sys.exit(1 if total["wrong"] or total["twice"] else 0)
EOF
