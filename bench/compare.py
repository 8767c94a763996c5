#!/usr/bin/env python3
"""The measurements of bench/compare (run that script: it installs and builds first).

On two sysfs trees built from the project's fixture machines (a 3-chip desktop, and the same
machine 20 times over), in one run:
  - tessly-helper and tessly_floor, each with the tree bind-mounted over /sys in a private mount
    namespace: CPU per tick over `ticks` ticks, resident memory after them, and (in a second
    pass, under strace) syscalls and values read per tick;
  - node_exporter's hwmon collector on a loopback port: CPU per scrape;
  - `sensors -j` under umockdev's preload library: CPU per run.
Each measurement is repeated `repeats` times; RESULTS.md gives medians and the ratios against the
goals. Every number in it comes from the run that wrote it.
"""

import argparse
import datetime
import glob
import http.client
import json
import os
import platform
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Relative to each temporary HOME, which also holds XDG_RUNTIME_DIR ("run") and XDG_STATE_HOME, so
# that a row's HOME file system is the one the payload is written to.
CONTAINER = "run/tessly"
CONTROL = ".local/state/tessly"
# Where an agent from before the XDG places (a --before commit) keeps both files.
OLD_CONTAINER = "Library/Group Containers/group.app.tessly.sensors"
FIXTURE = "intel-raptorlake"
TREES = [("3-chip", 1), ("60-chip", 20)]
PROGRAMS = ["agent", "floor"]  # "before" joins them when an earlier agent is measured too
NODE_EXPORTER = "prometheus-node-exporter"
PRELOAD = "libumockdev-preload.so.0"

GOAL_FLOOR_RATIO = 1.25
GOAL_SYSCALL_SLACK = 6
GOAL_TICK_SPREAD = 2.0  # costliest tick ÷ median tick, on the large tree
GOAL_RSS_MIB = 4.5
GOAL_NODE_EXPORTER = 25
GOAL_SENSORS = 50


def log(message):
    print(f"compare: {message}", file=sys.stderr, flush=True)


def median(values):
    return statistics.median(values) if values else float("nan")


# ---- process figures ----------------------------------------------------------------------------


def cpu_seconds(pid):
    """On-CPU time of every thread of `pid` (schedstat, nanoseconds), and the thread ids."""
    total, tids = 0, set()
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as f:
                total += int(f.read().split()[0])
            tids.add(int(path.split("/")[4]))
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9, tids


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return None


def children(pid):
    found = []
    for stat in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(stat) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[1]) == pid:
                found.append(int(stat.split("/")[2]))
        except (OSError, ValueError, IndexError):
            pass
    return found


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def temp_env(home):
    os.makedirs(os.path.join(home, ".config"), exist_ok=True)
    os.makedirs(os.path.join(home, "run"), mode=0o700, exist_ok=True)
    os.chmod(os.path.join(home, "run"), 0o700)
    return {
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_STATE_HOME": os.path.join(home, ".local", "state"),
        "XDG_RUNTIME_DIR": os.path.join(home, "run"),
        "PATH": "/usr/sbin:/usr/bin:/sbin:/bin",
        "LC_ALL": "C",
    }


# ---- the agent and the floor in a private mount namespace ---------------------------------------


def before_has_xdg_places(program):
    """Whether an agent binary publishes into the XDG places (its --help names them)."""
    try:
        text = subprocess.run([program, "--help"], capture_output=True, text=True).stdout
    except OSError:
        return True
    return "XDG_RUNTIME_DIR" in text


class Run:
    """One agent or floor process over one tree, with its own temporary HOME."""

    def __init__(self, work, homes, variant, label, kind, program, tree, traced):
        self.label = label
        self.kind = kind
        self.variant = variant
        self.name = f"{kind}-{label}-{variant}-{len(os.listdir(homes))}"
        self.program = program
        self.tree = tree
        self.traced = traced
        self.home = os.path.join(homes, self.name)
        os.makedirs(self.home)
        self.trace = os.path.join(work, "traces", self.name) if traced else None
        self.payload = os.path.join(self.home, CONTAINER, "sensors.json")
        if kind == "before" and not before_has_xdg_places(program[0]):
            self.payload = os.path.join(self.home, OLD_CONTAINER, "sensors.json")
        self.proc = None
        self.t0 = None
        self.cpu = []  # (CPU seconds, payload sampledAt), once a tick over the window
        self.rss = None
        self.done = False
        self.profile = None  # perf data file, for the one profiled agent per tree
        self.perf = None

    def start(self, log_file):
        control = os.path.join(self.home, CONTROL)
        if self.payload.startswith(os.path.join(self.home, OLD_CONTAINER)):
            control = os.path.join(self.home, OLD_CONTAINER)
        os.makedirs(control, exist_ok=True)
        # The agent must never register a real login item: autostart is false from the start.
        with open(os.path.join(control, "control.json"), "w") as f:
            f.write('{"autostart":false}\n')
        command = self.program
        if self.traced:
            command = ["strace", "-f", "-qq", "-o", self.trace] + command
        script = 'mount --bind "$1" /sys || exit 97; shift; exec "$@"'
        argv = ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh", self.tree]
        self.proc = subprocess.Popen(argv + command, env=temp_env(self.home),
                                     stdin=subprocess.DEVNULL, stdout=log_file, stderr=log_file)

    def sampled_at(self):
        try:
            with open(self.payload) as f:
                return json.load(f)["sampledAt"]
        except (OSError, ValueError, KeyError):
            return None

    def measured_pid(self):
        if not self.traced:
            return self.proc.pid
        kids = children(self.proc.pid)
        return kids[0] if kids else None

    def finish(self):
        pid = self.measured_pid() if self.traced else None
        if pid is not None:
            os.kill(pid, signal.SIGTERM)  # strace then ends with its tracee
        stop(self.proc)
        self.done = True


def run_batch(runs, ticks, log_file, window):
    """Starts the runs staggered over one second and follows each from its first payload (t0).
    With `window`: CPU read at t0 + 2.5 s and then once a tick, midway between ticks, for `ticks`
    ticks, and RSS at the end. Without: stopped after `ticks` + 3 ticks (the strace pass, long
    enough to see the agent's first rediscovery)."""
    stagger = 1.0 / max(len(runs), 1)
    begin = time.monotonic()
    for i, run in enumerate(runs):
        while time.monotonic() < begin + i * stagger:
            time.sleep(0.002)
        run.start(log_file)
        run.started = time.monotonic()
    end_after = ticks + 2.5 if window else ticks + 3.5
    while not all(r.done for r in runs):
        now = time.monotonic()
        for run in runs:
            if run.done:
                continue
            if run.proc.poll() is not None:
                raise SystemExit(f"{run.name} exited early with status {run.proc.returncode}; "
                                 "see processes.log in the work directory (--keep)")
            if run.t0 is None:
                if os.path.exists(run.payload):
                    run.t0 = now
                elif now - run.started > 20:
                    raise SystemExit(f"{run.name}: no payload within 20 s")
                continue
            if run.profile and run.perf is None and now >= run.t0 + 2.5:
                run.perf = subprocess.Popen(
                    ["perf", "record", "-q", "-F", "49999", "--call-graph", "dwarf", "-p",
                     str(run.proc.pid), "-o", run.profile, "--", "sleep", str(ticks)],
                    stdin=subprocess.DEVNULL, stdout=log_file, stderr=log_file)
            if window and now >= run.t0 + 2.5 + len(run.cpu):
                seconds, _ = cpu_seconds(run.proc.pid)
                run.cpu.append((seconds, run.sampled_at()))
                if len(run.cpu) == ticks + 1:
                    run.rss = rss_kib(run.proc.pid)
                    run.finish()
            elif not window and now >= run.t0 + end_after:
                if run.perf is not None:
                    run.perf.wait()
                run.finish()
        time.sleep(0.002)


def cpu_stats(run):
    """CPU per tick over the window: the mean, the costliest tick, and the mean of the others;
    and, over the intervals that held exactly one tick (a late tick can put two in one interval,
    or none), the costliest and the median of those single ticks."""
    (c1, s1), (c2, s2) = run.cpu[0], run.cpu[-1]
    counted = round(s2 - s1) if s1 is not None and s2 is not None else 0
    if counted < len(run.cpu) - 2:
        raise SystemExit(f"{run.name}: {counted} ticks in a window of {len(run.cpu) - 1} s")
    ticks = [b[0] - a[0] for a, b in zip(run.cpu, run.cpu[1:])]
    single = [b[0] - a[0] for a, b in zip(run.cpu, run.cpu[1:])
              if a[1] is not None and b[1] is not None and round(b[1] - a[1]) == 1]
    if len(single) < len(ticks) // 2:
        raise SystemExit(f"{run.name}: only {len(single)} of {len(ticks)} intervals held one tick")
    total = c2 - c1
    # The costlier half of the single ticks are the ones that read temperatures (every other
    # tick, by the thermal throttle): against their median, the costliest shows an outlier
    # rather than the throttle's alternation.
    costlier = sorted(single)[len(single) // 2:]
    return {"mean": total / counted, "max": max(ticks),
            "rest": (total - max(ticks)) / (counted - 1), "ticks": counted,
            "spread": max(single) / median(single), "hot": max(single) / median(costlier)}


SYSCALL = re.compile(r"^(?:\d+\s+)?([a-z_0-9]+)\(")
PID = re.compile(r"^(\d+)\s+")
RENAME = re.compile(r'^(?:\d+\s+)?rename\w*\(.*"(?:[^"]*/)?sensors\.json"')


def parse_trace(path, ticks):
    """The traced ticks after the launch (cut after each rename onto sensors.json): the syscall
    names of the main thread, which runs every tick, whether the tick rediscovered (listed a
    directory), and how many calls the other threads and their children made meanwhile (the NVML
    worker and its trial load of the library, which no tick waits for)."""
    segments = [[]]
    nvml = [False]
    others = [0]
    main = None
    with open(path) as f:
        for line in f:
            m = SYSCALL.match(line)
            if not m:
                continue
            pid = PID.match(line)
            pid = pid.group(1) if pid else None
            if main is None:
                main = pid
            nvml[-1] = nvml[-1] or "libnvidia-ml" in line
            if pid != main:
                others[-1] += 1
                continue
            segments[-1].append(m.group(1))
            if RENAME.match(line):
                segments.append([])
                nvml.append(False)
                others.append(0)
    # Without the launch and the tick the kill cut short.
    complete, nvml, others = segments[1:-1], nvml[1:-1], others[1:-1]
    if len(complete) < ticks:
        raise SystemExit(f"{path}: only {len(complete)} ticks traced, {ticks} wanted")
    return [{"names": names, "syscalls": len(names), "preads": names.count("pread64"),
             "discovery": "getdents64" in names, "nvml": looked, "others": beside,
             "setup": "timerfd_create" in names or looked or "clone3" in names or "clone" in names}
            for names, looked, beside in zip(complete, nvml, others)]


def trace_summary(tick_list, ticks):
    """Steady ticks (the first `ticks` without a rediscovery, and without the one-time set-ups:
    the timer's right after the launch's payload, and the NVML worker's start and its look for the
    library) and the first rediscovery."""
    steady = [t for t in tick_list if not t["discovery"] and not t["setup"]][:ticks]
    overhead = [t["syscalls"] - t["preads"] for t in steady]
    names = {}
    for t in steady:
        for n in t["names"]:
            names[n] = names.get(n, 0) + 1
    found = [(i + 1, t) for i, t in enumerate(tick_list) if t["discovery"]]
    nvml = [(i + 1, t) for i, t in enumerate(tick_list) if t["nvml"]]
    mean_syscalls = statistics.mean(t["syscalls"] for t in steady)
    summary = {
        "steady_ticks": len(steady),
        "mean_syscalls": mean_syscalls,
        "mean_preads": statistics.mean(t["preads"] for t in steady),
        "overhead_median": median(overhead),
        "overhead_max": max(overhead),
        "per_tick_names": {n: c / len(steady) for n, c in names.items()},
        "discovery_tick": None,
        "discovery_syscalls": None,
        "amortised_syscalls": mean_syscalls,
        "nvml": [(i, t["syscalls"] - t["preads"]) for i, t in nvml],
        "thread_start": [(i + 1, t["syscalls"] - t["preads"]) for i, t in enumerate(tick_list)
                         if "clone3" in t["names"] or "clone" in t["names"]],
        "others": [(i + 1, t["others"]) for i, t in enumerate(tick_list) if t["others"]],
    }
    if found:
        # The launch discovered too, so the first rediscovery's tick number is the period.
        period, tick = found[0]
        summary["discovery_tick"] = period
        summary["discovery_syscalls"] = tick["syscalls"]
        summary["amortised_syscalls"] = (mean_syscalls * (period - 1) + tick["syscalls"]) / period
    return summary


PROFILE_ROWS = [
    ("tessly::SensorsAgent::applyControl", "applyControl"),
    ("tessly::ControlReader::read", "… looking at control.json (a stat while it is unchanged)"),
    ("tessly::detail::readSmallRegularFile", "… reading control.json (stat, open, fstat, read, "
     "close)"),
    ("tessly::detail::decodeSensorControlOrThrow", "… decoding control.json (nlohmann::json)"),
    ("tessly::SensorsAgent::sampleAndWrite", "sampleAndWrite"),
    ("tessly::ThermalSampler::sample", "… ThermalSampler::sample"),
    ("tessly::hwmon::SysfsSensors::readFans", "… the fan reading (SysfsSensors::readFans)"),
    ("tessly::SensorBridge::write", "… SensorBridge::write"),
    ("tessly::encodeJSON", "… … encoding the payload (nlohmann::json)"),
    ("tessly::replaceFileAtomically", "… … creating, writing and renaming the temporary"),
    ("tessly::hwmon::SensorFile::read", "across the above: the value reads (thermal and fans)"),
    ("tessly::hwmon::scanSysfs", "across the above: the rediscovery walk"),
    ("tessly::detail::containerPlaces", "across the above: the container lookups"),
]


def read_profile(path):
    """Share of the agent's samples under each function of PROFILE_ROWS (perf's "children")."""
    if not os.path.exists(path):
        return None
    out = subprocess.run(["perf", "report", "-i", path, "--children", "--sort", "sym", "--stdio",
                          "-g", "none"], capture_output=True, text=True)
    if out.returncode != 0:
        return None
    shares, samples = {}, None
    for line in out.stdout.splitlines():
        m = re.match(r"^# Samples: (\S+)", line)
        if m:
            samples = m.group(1)
        m = re.match(r"^\s+([\d.]+)%\s+[\d.]+%\s+\[[.k]\]\s+(.*)$", line)
        if not m:
            continue
        for prefix, _ in PROFILE_ROWS:
            if m.group(2).startswith(prefix) and prefix not in shares:
                shares[prefix] = float(m.group(1))
    return {"shares": shares, "samples": samples} if shares else None


# ---- the peers ----------------------------------------------------------------------------------


def wait_for_port(proc, port, deadline, name):
    """Returns once something accepts connections on 127.0.0.1:port; gives up when `proc` has
    ended or the deadline has passed."""
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            if proc.poll() is not None or time.monotonic() > deadline:
                raise SystemExit(f"{name} did not start; see the log")
            time.sleep(0.02)


def exporter_run(tessly, helper, tree, work, log_file, rate=1000, seconds=10):
    """`tessly export --listen` beside a running agent (the tree over /sys), scraped `rate` times
    a second for `seconds` seconds over keep-alive connections: how many scrapes were answered
    with a current payload, and the exporter's CPU per scrape."""
    home = os.path.join(work, "homes", "exporter")
    agent = Run(work, os.path.dirname(home), "home", "exporter", "agent", [helper], tree, False)
    agent.home = home
    agent.payload = os.path.join(home, CONTAINER, "sensors.json")
    os.makedirs(home, exist_ok=True)
    agent.start(log_file)
    port = free_port()
    proc = subprocess.Popen([tessly, "export", "--format", "prometheus", "--listen",
                             f"127.0.0.1:{port}"], env=temp_env(home), stdin=subprocess.DEVNULL,
                            stdout=log_file, stderr=log_file)
    try:
        deadline = time.monotonic() + 15
        while not os.path.exists(agent.payload):
            if time.monotonic() > deadline:
                raise SystemExit("the agent beside the exporter published nothing")
            time.sleep(0.05)
        wait_for_port(proc, port, deadline, "tessly export --listen")
        connection = None
        answered = 0
        total = rate * seconds
        c1, _ = cpu_seconds(proc.pid)
        begin = time.monotonic()
        for i in range(total):
            wait = begin + i / rate - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            for attempt in range(2):  # the server may close a kept-alive connection
                try:
                    if connection is None:
                        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                    connection.request("GET", "/metrics")
                    response = connection.getresponse()
                    body = response.read()
                    if response.getheader("Connection", "").lower() == "close":
                        connection.close()
                        connection = None
                    answered += response.status == 200 and b"tessly_exporter_up 1\n" in body
                    break
                except (OSError, http.client.HTTPException):
                    if connection is not None:
                        connection.close()
                    connection = None
        elapsed = time.monotonic() - begin
        c2, _ = cpu_seconds(proc.pid)
        return {"cpu": (c2 - c1) / total, "rss": rss_kib(proc.pid), "answered": answered,
                "total": total, "elapsed": elapsed}
    finally:
        stop(proc)
        agent.finish()


def node_exporter_runs(tree, repeats, scrapes, work, log_file):
    """CPU per scrape of node_exporter's hwmon collector alone, a fresh process per repeat."""
    results = []
    for r in range(repeats):
        port = free_port()
        home = os.path.join(work, "homes", f"node-exporter-{os.path.basename(tree)}-{r}")
        argv = [NODE_EXPORTER, f"--path.sysfs={tree}", "--collector.disable-defaults",
                "--collector.hwmon", "--web.disable-exporter-metrics",
                f"--web.listen-address=127.0.0.1:{port}"]
        proc = subprocess.Popen(argv, env=temp_env(home), stdin=subprocess.DEVNULL,
                                stdout=log_file, stderr=log_file)
        try:
            deadline = time.monotonic() + 15
            wait_for_port(proc, port, deadline, "node_exporter")
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)

            def scrape():
                connection.request("GET", "/metrics")
                response = connection.getresponse()
                body = response.read()
                if response.status != 200:
                    raise SystemExit(f"node_exporter answered {response.status}")
                return body

            for _ in range(5):
                body = scrape()
            c1, tids1 = cpu_seconds(proc.pid)
            for _ in range(scrapes):
                body = scrape()
            c2, tids2 = cpu_seconds(proc.pid)
            text = body.decode()
            series = sum(1 for line in text.splitlines()
                         if line.startswith("node_hwmon_temp_celsius{"))
            chips = sum(1 for line in text.splitlines()
                        if line.startswith("node_hwmon_chip_names{"))
            success = 'node_scrape_collector_success{collector="hwmon"} 1' in text
            results.append({"cpu": (c2 - c1) / scrapes, "rss": rss_kib(proc.pid),
                             "series": series, "chips": chips, "success": success,
                             "threads_stable": tids1 <= tids2})
            connection.close()
        finally:
            stop(proc)
    return results


def timed_runs(argv, env, runs):
    """CPU (user + system, from wait4) per run of a short-lived command, and its largest RSS."""
    cpu, maxrss = [], 0
    for _ in range(runs):
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            raise SystemExit(f"{' '.join(argv)} failed with status {proc.returncode}")
        cpu.append(usage.ru_utime + usage.ru_stime)
        maxrss = max(maxrss, usage.ru_maxrss)
    return statistics.mean(cpu), maxrss


NATIVE_TIMER = """
import json, os, subprocess, sys
cpu, maxrss = [], 0
for _ in range(int(sys.argv[1])):
    proc = subprocess.Popen(["sensors", "-j"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"sensors -j failed with status {proc.returncode}")
    cpu.append(usage.ru_utime + usage.ru_stime)
    maxrss = max(maxrss, usage.ru_maxrss)
out = subprocess.run(["sensors", "-j"], capture_output=True, text=True).stdout
print(json.dumps({"cpu": cpu, "maxrss": maxrss, "out": out}))
"""


def sensors_native(tree, env, repeats, runs):
    """`sensors -j` without the preload: the tree bind-mounted over the machine's own
    /sys/class and /sys/devices/platform in a private mount namespace (so /sys stays a sysfs).
    Nothing when that cannot be set up."""
    script = ('mount --bind "$1/class" /sys/class && '
              'mount --bind "$1/devices/platform" /sys/devices/platform || exit 97; '
              'shift; exec "$@"')
    cpus, maxrss, out = [], 0, ""
    for _ in range(repeats):
        done = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", script,
                               "sh", tree, sys.executable, "-c", NATIVE_TIMER, str(runs)],
                              env=env, capture_output=True, text=True)
        if done.returncode != 0:
            return None
        result = json.loads(done.stdout)
        cpus.append(statistics.mean(result["cpu"]))
        maxrss = max(maxrss, result["maxrss"])
        out = result["out"]
    chips = re.findall(r'^   "([^"]+)":\{', out, flags=re.M)
    return {"cpu": cpus, "maxrss": maxrss, "chips": chips,
            "temps": len(re.findall(r'"temp\d+_input":', out))}


def umockdev_dir(work, label, tree):
    path = os.path.join(work, "umockdev", label)
    os.makedirs(path)
    os.symlink(tree, os.path.join(path, "sys"))
    return path


def sensors_check(env):
    """What `sensors -j` makes of the tree: chips and temperature inputs in its output."""
    out = subprocess.run(["sensors", "-j"], env=env, capture_output=True, text=True)
    chips = re.findall(r'^   "([^"]+)":\{', out.stdout, flags=re.M)
    temps = len(re.findall(r'"temp\d+_input":', out.stdout))
    return out.returncode, chips, temps, out.stderr.strip()


# ---- machine and versions -----------------------------------------------------------------------


def command_text(argv):
    try:
        out = subprocess.run(argv, capture_output=True, text=True, timeout=20)
        return (out.stdout or out.stderr).strip()
    except (OSError, subprocess.TimeoutExpired):
        return ""


def fs_type(path):
    """The type of the file system `path` is on (the topmost mount where several are stacked)."""
    types = command_text(["findmnt", "-n", "-o", "FSTYPE", "--target", path]).splitlines()
    return types[-1] if types else "unknown"


def machine_facts(work):
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    debian = ""
    if os.path.exists("/etc/debian_version"):
        with open("/etc/debian_version") as f:
            debian = f.read().strip()
    versions = {}
    for package in ["prometheus-node-exporter", "lm-sensors", "umockdev", "strace"]:
        versions[package] = command_text(["dpkg-query", "-W", "-f=${Version}", package])
    return {
        "cpu": model,
        "cores": os.cpu_count(),
        "kernel": platform.release(),
        "debian": debian,
        "node_exporter": command_text([NODE_EXPORTER, "--version"]).splitlines()[0:1],
        "versions": versions,
        "commit": command_text(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"]),
        # RESULTS.md itself, written by an earlier run, is no change to what is measured.
        "dirty": bool(command_text(["git", "-C", ROOT, "status", "--porcelain",
                                    "--untracked-files=no", "--", ".",
                                    ":(exclude)bench/RESULTS.md"])),
    }


# ---- RESULTS.md ---------------------------------------------------------------------------------



def us(seconds):
    return f"{seconds * 1e6:,.1f} µs"


def ms(seconds):
    return f"{seconds * 1e3:,.2f} ms"


def verdict(ok):
    return "met" if ok else "**missed**"


def spread(values, fmt):
    return f"{fmt(median(values))} ({fmt(min(values))}–{fmt(max(values))})"


class Results:
    """Everything one run measured, and the judgement of it."""

    def __init__(self, args, facts, trees, homes, ns_note):
        self.args, self.facts, self.trees, self.homes, self.ns_note = (
            args, facts, trees, homes, ns_note)
        self.agent = {}   # tree -> program -> variant -> {"cpu": [...], "rss": [...]}
        self.traces = {}  # tree -> program -> [trace summaries]
        self.node = {}    # tree -> [scrape results]
        self.exporter = None  # `tessly export --listen` under load
        self.sensors = {}  # tree -> {"cpu": [...], ...}
        self.sensors_native = {}  # the same, without the preload
        self.profiles = {}  # tree -> perf shares of one agent, or None
        self.profile_fs = None
        self.preload_only = None
        self.goals = []   # (kind, tree, variant, ok, value)

    def cpu(self, tree, program, variant):
        return median(self.agent[tree][program][variant]["cpu"])

    def peer_cpu(self, tree, kind):
        if kind == "node":
            return median([x["cpu"] for x in self.node[tree]])
        return median(self.sensors[tree]["cpu"])

    def trace(self, tree, program, key):
        return median([x[key] for x in self.traces[tree][program]])

    def per_tick_names(self, tree, program):
        runs = self.traces[tree][program]
        names = {n for x in runs for n in x["per_tick_names"]}
        return {n: median([x["per_tick_names"].get(n, 0) for x in runs]) for n in names}

    def fs(self, variant):
        return self.homes[variant]["fs"]


def write_results(path, r, elapsed):
    args, facts, trees = r.args, r.facts, r.trees
    small, large = list(trees)
    L, machine, method, tables, peers, goals, syscalls, notes, profile = (
        [] for _ in range(9))
    add = L.append
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    add("# Tessly agent: whole-process comparison")
    add("")
    add(f"Written by `bench/compare` on {when} in {elapsed:.0f} s; do not edit by hand. "
        "Every figure below comes from that one run.")
    add("")
    add = machine.append
    add("## Machine")
    add("")
    add(f"- CPU: {facts['cpu']}, {facts['cores']} cores (shared with whatever else runs, which "
        "is why every figure is a median of repeats)")
    add(f"- Kernel: Linux {facts['kernel']}; Debian {facts['debian']}")
    add(f"- Agent: tessly-helper from `{args.build}` (preset `default`, RelWithDebInfo), commit "
        f"{facts['commit']}{' with local changes' if facts['dirty'] else ''}")
    if args.before_build:
        add(f"- Before: tessly-helper of commit {args.before_commit}, built the same way in "
            f"`{args.before_build}` and measured in the same runs (the rows \"before\")")
    v = facts["versions"]
    add(f"- Peers (Debian packages): prometheus-node-exporter {v['prometheus-node-exporter']}"
        f" ({' '.join(facts['node_exporter'])}); lm-sensors {v['lm-sensors']}; "
        f"umockdev {v['umockdev']}; strace {v['strace']}")
    homes = ", ".join(f"{variant}: {h['fs']}" for variant, h in r.homes.items())
    add(f"- File systems of the temporary HOMEs the agent and the floor write into: {homes}")
    add("")
    add = method.append
    add("## How it was measured")
    add("")
    add(f"- Trees: `{FIXTURE}` from `platform/linux/tests/fixtures`, written by "
        "`tessly_sysfs_trees` (the tests' `SysfsTree` materialiser), once and 20 times over; "
        "every chip laid out as a platform device (class entry linking to "
        "`devices/platform/<chip>.<n>`), so that each copy is a distinct device to every reader.")
    for label, info in trees.items():
        add(f"  - {label}: {info['chips']} chips, {info['values']} temperature and fan input files")
    add("- Agent and floor: the real `tessly-helper`, and `tessly_floor` (bench/floor.cpp: "
        "control.json opened, read and closed; one pread per value from files kept open, the "
        "temperatures every 2 s as the agent's throttle; the payload formatted by hand; a fixed "
        "temporary written, closed and renamed), each run as `unshare -m --propagation private` "
        "+ `mount --bind TREE /sys`, with HOME, XDG_CONFIG_HOME, XDG_STATE_HOME (holding "
        "`control.json` with autostart false) and XDG_RUNTIME_DIR (mode 0700, where the payload "
        "goes) all in one temporary directory: the HOME on tmpfs is the agent's default on a "
        "desktop, the payload in the per-user tmpfs, and the HOME on ext4 its fallback without "
        "one, the payload on disk. "
        f"{args.repeats} agents and {args.repeats} floors per tree and HOME ran at once, started "
        "staggered over one second. The HOME on tmpfs separates what the file system does on "
        "every replace of sensors.json from what the program does.")
    add("- CPU: on-CPU time of all threads from `/proc/<pid>/task/*/schedstat` (nanoseconds; "
        "utime + stime in `/proc/<pid>/stat` count 10 ms clock ticks, too coarse for one tick), "
        f"read from 2.5 s after the first payload once a tick, midway between ticks, for "
        f"{args.ticks} ticks (counted from the payloads' `sampledAt`). The window mean is the "
        "figure judged; where an agent walks /sys once a minute (without device events, and the "
        "agent before) the window holds that rediscovery, then the costliest tick. Costliest "
        "tick ÷ median tick: over the intervals between two CPU readings that held exactly one "
        "tick. RSS: VmRSS at the end of the window.")
    add("- Syscalls: a second pass of the same runs under `strace -f`; the trace is cut into "
        "ticks after each rename onto `sensors.json`, the launch left out; a tick's calls are the "
        "main thread's, which runs the ticks (other threads' are counted apart). A steady tick is one "
        f"that lists no directory (no rediscovery); the first {args.ticks} steady ticks are "
        "counted. Values read = the tick's `pread64` calls. The launch discovers too, so the "
        "first rediscovery's tick number is the rediscovery period.")
    add(f"- node_exporter: `{NODE_EXPORTER} --path.sysfs=TREE --collector.disable-defaults "
        "--collector.hwmon --web.disable-exporter-metrics --web.listen-address=127.0.0.1:PORT`, "
        f"a fresh process per repeat, 5 warm-up scrapes, then {args.scrapes} scrapes over one "
        "kept-alive HTTP connection; CPU of all its threads (schedstat) over those scrapes.")
    preload = f" For scale: `true` under the same preload costs {ms(r.preload_only)} per run." \
        if r.preload_only is not None else ""
    add("- `sensors -j`: libsensors refuses a /sys that is not a real sysfs, so it ran under "
        f"umockdev's preload library (`LD_PRELOAD={PRELOAD}`, `UMOCKDEV_DIR` = a directory whose "
        "`sys` links to the tree). CPU = user + system time of each run from `wait4`, "
        f"{args.runs} runs per repeat.{preload} As a check on what the preload adds, the same "
        "command also ran without it on the machine's own sysfs, with the tree bind-mounted over "
        "`/sys/class` and `/sys/devices/platform` in a private mount namespace (the rows "
        "\"real sysfs\"); the goals are judged on the umockdev rows.")
    add(f"- Repeats: {args.repeats} of everything; tables give medians (min–max in brackets).")
    if r.ns_note:
        add("")
        add(f"**Agent and floor not measured:** {r.ns_note}")
    add("")

    add = tables.append
    if r.agent:
        add("## Agent and floor")
        add("")
        add("| tree | program | HOME | CPU per tick, window mean | costliest tick | mean of the "
            "other ticks | costliest ÷ median single tick | costliest ÷ median of the costlier "
            "half | RSS after the window |")
        add("|---|---|---|---|---|---|---|---|---|")
        for label in trees:
            for program in PROGRAMS:
                for variant in r.homes:
                    a = r.agent[label][program][variant]
                    add(f"| {label} | {program} | {r.fs(variant)} | {spread(a['cpu'], us)} | "
                        f"{us(median(a['max']))} | {us(median(a['rest']))} | "
                        f"{spread(a['spread'], lambda x: f'{x:.2f}×')} | "
                        f"{spread(a['hot'], lambda x: f'{x:.2f}×')} | "
                        f"{spread([x / 1024 for x in a['rss']], lambda x: f'{x:.2f} MiB')} |")
        add("")
        add("| tree | program | steady tick: syscalls, mean | values read, mean | syscalls − "
            "values read, median / max | first rediscovery: tick, syscalls | syscalls per tick "
            "with the rediscovery spread over its period |")
        add("|---|---|---|---|---|---|---|")
        for label in trees:
            for program in PROGRAMS:
                t = r.traces[label][program]
                first = t[0]
                found = (f"{first['discovery_tick']}, {first['discovery_syscalls']}"
                         if first["discovery_tick"] else "none")
                add(f"| {label} | {program} | {r.trace(label, program, 'mean_syscalls'):.1f} | "
                    f"{r.trace(label, program, 'mean_preads'):.1f} | "
                    f"{r.trace(label, program, 'overhead_median'):g} / "
                    f"{max(x['overhead_max'] for x in t):g} | {found} | "
                    f"{r.trace(label, program, 'amortised_syscalls'):.1f} |")
        add("")

    add = peers.append
    add("## Peers")
    add("")
    add("| tree | tool | CPU per sample | largest RSS | what it reported |")
    add("|---|---|---|---|---|")
    for label in trees:
        n = r.node[label]
        add(f"| {label} | node_exporter, per scrape | {spread([x['cpu'] for x in n], ms)} | "
            f"{median([x['rss'] for x in n]) / 1024:.1f} MiB | {n[0]['chips']} chips, "
            f"{n[0]['series']} temperature series, collector success "
            f"{'1' if all(x['success'] for x in n) else '0'} |")
        s = r.sensors[label]
        add(f"| {label} | `sensors -j` under umockdev, per run | {spread(s['cpu'], ms)} | "
            f"{s['maxrss'] / 1024:.1f} MiB | {len(s['chips'])} chips, {s['temps']} temperature "
            "inputs |")
        if label in r.sensors_native:
            s = r.sensors_native[label]
            add(f"| {label} | `sensors -j` on real sysfs, per run | {spread(s['cpu'], ms)} | "
                f"{s['maxrss'] / 1024:.1f} MiB | {len(s['chips'])} chips, {s['temps']} "
                "temperature inputs |")
    if r.exporter:
        e = r.exporter
        add(f"| 3-chip | `tessly export --listen`, per scrape, {e['total'] // 10:,} scrapes a second "
            f"for 10 s | {ms(e['cpu'])} | {e['rss'] / 1024:.1f} MiB | {e['answered']:,} of "
            f"{e['total']:,} scrapes answered with a current payload, in {e['elapsed']:.1f} s |")
    add("")

    add = goals.append
    if not r.agent:
        add("## Goals")
        add("")
        add("Not judged: every goal is a ratio to the agent, which could not run here (see "
            "below).")
        add("")
    if r.agent:
        add("## Goals")
        add("")
        add("| goal | tree | HOME | measured | target | verdict |")
        add("|---|---|---|---|---|---|")

        def goal(kind, label, variant, ok, value, text, measured, target):
            r.goals.append((kind, label, variant, ok, value))
            add(f"| {text} | {label} | {r.fs(variant) if variant else '–'} | {measured} | "
                f"{target} | {verdict(ok)} |")

        before = "before" in PROGRAMS

        def then(text):
            return f" (before: {text})" if before else ""

        for label in trees:
            for variant in r.homes:
                x = r.cpu(label, "agent", variant) / r.cpu(label, "floor", variant)
                b = (r.cpu(label, "before", variant) / r.cpu(label, "floor", variant)
                     if before else None)
                goal("floor", label, variant, x <= GOAL_FLOOR_RATIO, x,
                     "agent CPU per tick ÷ floor's", f"{x:.2f}×" + then(f"{b:.2f}×" if b else ""),
                     f"≤ {GOAL_FLOOR_RATIO}×")
        for label in trees:
            over = r.trace(label, "agent", "overhead_median")
            worst = max(x["overhead_max"] for x in r.traces[label]["agent"])
            b = r.trace(label, "before", "overhead_median") if before else None
            goal("syscalls", label, None, worst <= GOAL_SYSCALL_SLACK, over,
                 "syscalls per steady tick − values read, control.json present",
                 f"{over:g} (every steady tick ≤ {worst:g})" + then(f"{b:g}" if before else ""),
                 f"≤ {GOAL_SYSCALL_SLACK}")
        for variant in r.homes:
            x = median(r.agent[large]["agent"][variant]["spread"])
            b = median(r.agent[large]["before"][variant]["spread"]) if before else None
            goal("spread", large, variant, x <= GOAL_TICK_SPREAD, x,
                 f"costliest tick ÷ median tick over {args.ticks} ticks, device events available",
                 f"{x:.2f}×" + then(f"{b:.2f}×" if before else ""), f"≤ {GOAL_TICK_SPREAD}×")
        home = next(iter(r.homes))
        for label in trees:
            mib = median(r.agent[label]["agent"][home]["rss"]) / 1024
            goal("rss", label, home, mib <= GOAL_RSS_MIB, mib,
                 f"agent RSS after {args.ticks} ticks", f"{mib:.2f} MiB", f"≤ {GOAL_RSS_MIB} MiB")
        for kind, name, target in [("node", "node_exporter CPU per scrape", GOAL_NODE_EXPORTER),
                                   ("sensors", "`sensors -j` CPU per run", GOAL_SENSORS)]:
            for label in trees:
                for variant in r.homes:
                    x = r.peer_cpu(label, kind) / r.cpu(label, "agent", variant)
                    goal(kind, label, variant, x >= target, x,
                         f"{name} ÷ agent CPU per tick", f"{x:.1f}×", f"≥ {target}×")
        values = r.trace(large, "agent", "mean_preads") / r.trace(small, "agent", "mean_preads")
        for variant in r.homes:
            g = r.cpu(large, "agent", variant) / r.cpu(small, "agent", variant)
            goal("linear", f"{small} → {large}", variant, g <= values, g,
                 "growth of agent CPU per tick", f"{g:.2f}×",
                 f"≤ {values:.2f}× (growth of values read per tick)")
        g = (r.trace(large, "agent", "amortised_syscalls")
             / r.trace(small, "agent", "amortised_syscalls"))
        goal("linear", f"{small} → {large}", None, g <= values, g,
             "growth of agent syscalls per tick", f"{g:.2f}×", f"≤ {values:.2f}×")
        add("")

        add = syscalls.append
        add("## Where a steady tick's syscalls go")
        add("")
        add("Calls per steady tick, median over the runs.")
        add("")
        add("| syscall | " + " | ".join(f"{p}, {l}" for l in trees for p in PROGRAMS) + " |")
        add("|---|" + "---|" * (len(trees) * len(PROGRAMS)))
        by_run = {(l, p): r.per_tick_names(l, p) for l in trees for p in PROGRAMS}
        names = sorted({n for t in by_run.values() for n in t})
        for n in names:
            add(f"| {n} | " + " | ".join(f"{by_run[(l, p)].get(n, 0):.1f}"
                                         for l in trees for p in PROGRAMS) + " |")
        add("")
        add = profile.append
        add("## Where the agent's CPU goes")
        add("")
        if any(r.profiles.values()):
            add(f"`perf record --call-graph dwarf` on one more agent per tree (HOME on "
                f"{r.profile_fs}) during the strace pass, over {args.ticks} ticks; share of its "
                "samples spent in each function and what it calls (perf's \"children\"). "
                "The rest is the event loop: waking up and the wait in ppoll.")
            add("")
            add("| function | " + " | ".join(trees) + " |")
            add("|---|" + "---|" * len(trees))
            for prefix, text in PROFILE_ROWS:
                cells = []
                for label in trees:
                    p = r.profiles.get(label)
                    share = p["shares"].get(prefix) if p else None
                    cells.append(f"{share:.1f} %" if share is not None else "–")
                add(f"| {text} | " + " | ".join(cells) + " |")
            add("| samples | " + " | ".join(
                (r.profiles[l] or {}).get("samples") or "–" for l in trees) + " |")
        else:
            add("Not profiled: `perf` is missing or could not record here.")
        add("")

        add = notes.append
        add("## Findings")
        add("")
        for text in findings(r):
            add(f"- {text}")
        add("")
    for section in (machine, goals, notes, tables, peers, syscalls, profile, method):
        L.extend(section)
    with open(path, "w") as f:
        f.write("\n".join(L).rstrip() + "\n")


def findings(r):
    """Plain statements about the goals, each with this run's numbers."""
    out = []
    trees = list(r.trees)
    small = trees[0]
    a_names, f_names = r.per_tick_names(small, "agent"), r.per_tick_names(small, "floor")
    extra = {n: a_names.get(n, 0) - f_names.get(n, 0) for n in set(a_names) | set(f_names)}
    extra = {n: c for n, c in extra.items() if abs(c) >= 0.5 and n != "pread64"}
    listed = ", ".join(f"{n} {c:+.0f}" for n, c in sorted(extra.items(), key=lambda kv: -kv[1]))
    out.append(
        f"Besides its value reads a steady tick of the agent makes "
        f"{r.trace(small, 'agent', 'overhead_median'):g} syscalls, the floor's "
        f"{r.trace(small, 'floor', 'overhead_median'):g}; the difference, per tick: "
        f"{listed or 'none'}.")
    missed = [g for g in r.goals if not g[3]]
    if any(kind == "syscalls" for kind, *_ in missed):
        out.append(
            "Syscall goal: the table of syscalls per steady tick below shows where each call "
            "goes.")
    # One-time work of the agent's own ticks, each left out of the steady ticks.
    trace = r.traces[small]["agent"][0]
    for key, what in [("nvml", "NVIDIA's library is looked for where the dynamic linker keeps "
                               "libraries (it is not installed here)"),
                      ("thread_start", "The NVML worker thread is started once, on the second "
                                       "sample's tick")]:
        if trace.get(key):
            out.append(f"{what}: "
                       + ", ".join(f"{n} syscalls besides the value reads on tick {i}"
                                   for i, n in trace[key])
                       + ", which is not counted as a steady tick.")
    beside = r.traces[small]["agent"][0].get("others")
    if beside:
        out.append(
            "Threads beside the ticks' own (the NVML worker, and the child that loads the library "
            "first) made "
            + ", ".join(f"{n} syscalls during tick {i}" for i, n in beside)
            + "; no tick waits for them, so they are counted apart from the ticks.")
    for program in [p for p in PROGRAMS if p != "floor"]:
        discovered = [(l, r.traces[l][program][0]) for l in trees
                      if r.traces[l][program][0]["discovery_tick"]]
        who = "The agent before" if program == "before" else "The agent"
        if not discovered:
            out.append(
                f"{who} did not walk /sys/class/hwmon again after the launch in the traced "
                f"{r.args.ticks} ticks: no device came or went, and device events were "
                "received.")
            continue
        out.append(
            f"{who} walked /sys/class/hwmon again once a minute, so that chips that come and go "
            "are seen (the floor never does): "
            + "; ".join(f"{t['discovery_syscalls']} syscalls on tick {t['discovery_tick']} on "
                        f"the {l} tree, {t['amortised_syscalls'] - t['mean_syscalls']:.1f} "
                        "per tick spread over the minute" for l, t in discovered)
            + ".")
    for variant in r.homes:
        parts = []
        for l in trees:
            a = r.agent[l]["agent"][variant]
            f = r.agent[l]["floor"][variant]
            total = median(a["cpu"]) - median(f["cpu"])
            found = r.traces[l]["agent"][0]["discovery_tick"]
            if found is None or found > r.args.ticks + 2:
                parts.append(f"{us(total)} on the {l} tree")
                continue
            # The window (ticks 3 to ticks + 2) holds the agent's rediscovery, its costliest
            # tick; the floor has none.
            costliest = median(a["cpu"]) - median(a["rest"])
            steady = median(a["rest"]) - median(f["cpu"])
            parts.append(f"{us(steady + costliest)} on the {l} tree ({us(costliest)} of it "
                         f"the rediscovery spread over the window, {us(steady)} the other "
                         "ticks)")
        negative = any("-" in part.split(" on the ")[0] for part in parts)
        out.append(
            f"HOME on {r.fs(variant)}: the agent's CPU per tick minus the floor's is "
            + "; ".join(parts) + (" (a negative figure: the agent spends less)" if negative else "")
            + ". Where the agent's share goes is in \"Where the agent's CPU goes\".")
    for kind, label, variant, ok, value in missed:
        if kind in ("node", "sensors"):
            tool = "node_exporter" if kind == "node" else "`sensors -j`"
            target = GOAL_NODE_EXPORTER if kind == "node" else GOAL_SENSORS
            floor = r.peer_cpu(label, kind) / r.cpu(label, "floor", variant)
            reach = ("the floor misses it as well, so no program that publishes a file every "
                     "second this way reaches it on this tree: the fixed cost of a tick (the "
                     "timer wake-up, the control read, and creating, writing and renaming the "
                     "payload, which the file system works on at every replace) is larger than "
                     f"1/{target} of the peer's sample" if floor < target else
                     "the floor reaches it, so what stands between is the agent's own work "
                     "beyond the floor (above)")
            out.append(
                f"{tool} on the {label} tree, HOME on {r.fs(variant)}: the agent is {value:.1f}× "
                f"cheaper per sample where {target}× is asked; the floor is {floor:.1f}×; "
                f"{reach}.")
        elif kind == "floor":
            out.append(
                f"Floor goal missed on the {label} tree with HOME on {r.fs(variant)} "
                f"({value:.2f}×): the agent's work beyond the floor is itemised above and in "
                "\"Where the agent's CPU goes\".")
        elif kind == "spread":
            floor = median(r.agent[label]["floor"][variant]["spread"])
            hot = median(r.agent[label]["agent"][variant]["hot"])
            floor_hot = median(r.agent[label]["floor"][variant]["hot"])
            out.append(
                f"Tick spread goal missed on the {label} tree with HOME on {r.fs(variant)} "
                f"({value:.2f}×); the floor's own costliest single tick is {floor:.2f}× its "
                "median: the ticks that read temperatures (every other tick, as the 2 s throttle "
                "has it) cost more than the fan-only ones, for the agent and the floor alike. "
                f"Against the median of the costlier half of the ticks (those that read "
                f"temperatures) the agent's costliest is {hot:.2f}×, the floor's {floor_hot:.2f}×.")
        elif kind == "rss":
            out.append(f"RSS goal missed on the {label} tree: {value:.2f} MiB.")
        elif kind == "linear":
            out.append(f"Growth {label} is {value:.2f}×, more than the values read grew.")
    return out


# ---- main ---------------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/perf")
    parser.add_argument("--ticks", type=int, default=120)
    parser.add_argument("--before-build", default="",
                        help="a build of an earlier commit whose agent is measured beside")
    parser.add_argument("--before-commit", default="", help="that commit, for RESULTS.md")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--scrapes", type=int, default=100, help="node_exporter scrapes per repeat")
    parser.add_argument("--runs", type=int, default=50, help="`sensors -j` runs per repeat")
    parser.add_argument("--output", default=os.path.join(ROOT, "bench", "RESULTS.md"))
    parser.add_argument("--keep", action="store_true", help="keep the work directories")
    parser.add_argument("--trial", action="store_true",
                        help="allow fewer than 60 ticks and 5 repeats (to try the script out)")
    args = parser.parse_args()
    if (args.ticks < 120 or args.repeats < 5) and not args.trial:
        parser.error("the comparison needs at least 120 ticks and 5 repeats")

    started = time.monotonic()
    build = os.path.join(ROOT, args.build) if not os.path.isabs(args.build) else args.build
    helper = os.path.join(build, "bin", "tessly-helper")
    floor = os.path.join(build, "bench", "tessly_floor")
    tessly = os.path.join(build, "bin", "tessly")
    tree_tool = os.path.join(build, "bench", "tessly_sysfs_trees")
    before_helper = None
    if args.before_build:
        before_helper = os.path.join(ROOT, args.before_build, "bin", "tessly-helper")
        PROGRAMS.insert(1, "before")
    for path in (helper, floor, tree_tool, tessly, before_helper):
        if path and not os.access(path, os.X_OK):
            raise SystemExit(f"{path} is missing: run bench/compare, which builds it")

    work = tempfile.mkdtemp(prefix="tessly-compare.")
    scratch = [work]
    for sub in ("homes", "traces"):
        os.makedirs(os.path.join(work, sub))
    homes = {"home": {"dir": os.path.join(work, "homes"), "fs": fs_type(work)}}
    if fs_type("/dev/shm") == "tmpfs" and homes["home"]["fs"] != "tmpfs":
        shm = tempfile.mkdtemp(prefix="tessly-compare.", dir="/dev/shm")
        scratch.append(shm)
        homes["tmpfs"] = {"dir": shm, "fs": "tmpfs"}
    log_file = open(os.path.join(work, "processes.log"), "w")
    try:
        facts = machine_facts(work)
        trees = {}
        for label, copies in TREES:
            path = os.path.join(work, "trees", label)
            out = subprocess.run([tree_tool, FIXTURE, str(copies), path], capture_output=True,
                                 text=True, check=True).stdout
            m = re.match(r"(\d+) chips, (\d+) value files", out)
            trees[label] = {"path": path, "chips": int(m.group(1)), "values": int(m.group(2))}
        log("trees: " + ", ".join(f"{k} ({v['chips']} chips)" for k, v in trees.items()))

        ns_note = ""
        if subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
            ns_note = ("`unshare -m true` failed here (no permission for a private mount "
                       "namespace; run as root), so the agent could not get a tree over /sys.")
        else:
            probe = subprocess.run(
                ["unshare", "-m", "--propagation", "private", "sh", "-c",
                 'mount --bind "$1" /sys && test -d /sys/class/hwmon', "sh",
                 trees[TREES[0][0]]["path"]], capture_output=True, text=True)
            if probe.returncode != 0:
                ns_note = ("`mount --bind TREE /sys` failed in a private mount namespace: "
                           + (probe.stderr.strip() or f"status {probe.returncode}"))
        if ns_note:
            log(f"skipping the agent and the floor: {ns_note}")
        results = Results(args, facts, trees, homes, ns_note)

        if not ns_note:
            programs = {"agent": [helper], "floor": [floor]}
            if args.before_build:
                programs["before"] = [before_helper]
            for traced in (False, True):
                runs = []
                variants = ["home"] if traced else list(homes)
                for label in trees:
                    for r in range(args.repeats):
                        for variant in variants:
                            for p in PROGRAMS:
                                runs.append(Run(work, homes[variant]["dir"], variant, label, p,
                                                programs[p], trees[label]["path"], traced))
                profiled = []
                if traced and shutil.which("perf"):
                    variant = "tmpfs" if "tmpfs" in homes else "home"
                    for label in trees:
                        run = Run(work, homes[variant]["dir"], variant, label, "agent",
                                  programs["agent"], trees[label]["path"], False)
                        run.profile = os.path.join(work, f"perf-{label}.data")
                        profiled.append(run)
                    runs += profiled
                log(f"{'strace pass' if traced else 'CPU and RSS pass'}: {len(runs)} processes "
                    f"for {args.ticks} ticks (about {args.ticks + 5} s)")
                run_batch(runs, args.ticks, log_file, window=not traced)
                for run in profiled:
                    results.profiles[run.label] = read_profile(run.profile)
                    results.profile_fs = homes[run.variant]["fs"]
                for run in runs:
                    if run in profiled:
                        continue
                    if traced:
                        summary = trace_summary(parse_trace(run.trace, args.ticks), args.ticks)
                        results.traces.setdefault(run.label, {}).setdefault(
                            run.kind, []).append(summary)
                    else:
                        stats = cpu_stats(run)
                        slot = results.agent.setdefault(run.label, {}).setdefault(
                            run.kind, {}).setdefault(run.variant,
                                                     {"cpu": [], "max": [], "rest": [],
                                                      "spread": [], "hot": [], "rss": []})
                        for key in ("mean", "max", "rest", "spread", "hot"):
                            slot["cpu" if key == "mean" else key].append(stats[key])
                        slot["rss"].append(run.rss)

        if not ns_note:
            log("tessly export --listen beside an agent: 1,000 scrapes a second for 10 s")
            results.exporter = exporter_run(tessly, helper, trees[TREES[0][0]]["path"], work,
                                            log_file)
        for label, info in trees.items():
            log(f"node_exporter on the {label} tree: {args.repeats} × {args.scrapes} scrapes")
            results.node[label] = node_exporter_runs(info["path"], args.repeats, args.scrapes,
                                                     work, log_file)

        for label, info in trees.items():
            env = temp_env(os.path.join(work, "homes", f"sensors-{label}"))
            env["UMOCKDEV_DIR"] = umockdev_dir(work, label, info["path"])
            env["LD_PRELOAD"] = PRELOAD
            status, chips, temps, err = sensors_check(env)
            if status != 0 or len(chips) != info["chips"]:
                raise SystemExit(
                    f"sensors -j under {PRELOAD} with UMOCKDEV_DIR={env['UMOCKDEV_DIR']} (sys -> "
                    f"the tree) saw {len(chips)} of {info['chips']} chips (status {status}: "
                    f"{err})")
            log(f"sensors -j on the {label} tree: {args.repeats} × {args.runs} runs")
            cpus, maxrss = [], 0
            for _ in range(args.repeats):
                cpu, rss = timed_runs(["sensors", "-j"], env, args.runs)
                cpus.append(cpu)
                maxrss = max(maxrss, rss)
            results.sensors[label] = {"cpu": cpus, "maxrss": maxrss, "chips": chips,
                                      "temps": temps}
            results.preload_only, _ = timed_runs(["true"], env, args.runs)
            if not ns_note:
                native_env = temp_env(os.path.join(work, "homes", f"sensors-native-{label}"))
                native = sensors_native(info["path"], native_env, args.repeats, args.runs)
                if native:
                    results.sensors_native[label] = native
                else:
                    log("sensors -j on a real sysfs with the tree bind-mounted: not possible here")

        write_results(args.output, results, time.monotonic() - started)
        log(f"wrote {args.output}")
    finally:
        log_file.close()
        for path in scratch:
            if args.keep:
                log(f"work directory kept: {path}")
            else:
                shutil.rmtree(path, ignore_errors=True)


if __name__ == "__main__":
    main()
