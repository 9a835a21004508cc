#!/usr/bin/python3
"""Drives one kelp-cua in server mode through COUNT mixed requests and
watches its resident memory. Run by bench/soak.sh, inside its private
desktop; see that script for what it measures.

Usage: soak_driver.py KELP_CUA COUNT HELPER_STDERR_LOG

One request is in flight at a time: each reply must be one JSON line, an
object whose "id" is the request's and whose "ok" is true or false, within
$KELP_SOAK_REPLY_TIMEOUT seconds (default 120). The first missing or
malformed reply ends the run. Prints the summary to stdout, progress to
stderr. Exit status: 0 when all is well, 1 when memory grew by the limit
or more, a reply was missing or malformed, or the helper did not end with
status 0 when its input was closed.
"""
import collections
import json
import os
import select
import subprocess
import sys
import time

BASELINE_AFTER = 1000
PROGRESS_EVERY = 5000
LIMIT_KB = 5 * 1024

WIDGETS = "gtk3-widget-factory"
EDITOR = "mousepad"

# A cycle of ten requests: one tree (of each application in turn) and one
# screenshot per cycle, the rest cheaper ones.
CYCLE = [
    "tree",
    "ping",
    "find",
    "act focus",
    "ping",
    "screenshot",
    "menu list",
    "ping",
    "find",
    "ping",
]


def request_for(kind, n, cycle):
    if kind == "tree":
        return "tree " + (WIDGETS if cycle % 2 == 0 else EDITOR), {"cmd": "tree", "app": WIDGETS if cycle % 2 == 0 else EDITOR, "id": n}
    if kind == "find":
        return kind, {"cmd": "find", "app": EDITOR, "q": "File", "id": n}
    if kind == "act focus":
        return kind, {"cmd": "act", "app": WIDGETS, "locator": {"role": "AXTextField"}, "action": "focus", "id": n}
    if kind == "screenshot":
        return kind, {"cmd": "screenshot", "id": n}
    if kind == "menu list":
        return kind, {"cmd": "menu", "app": EDITOR, "path": ["File"], "list": True, "id": n}
    return "ping", {"cmd": "ping", "id": n}


def rss_kb(pid):
    """VmRSS of a process in kB, as /proc reports it."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for pid %d" % pid)


def mb(kb):
    return kb / 1024.0


class Broken(Exception):
    """A reply that is missing or malformed."""


class Helper:
    def __init__(self, path, log):
        self.log = open(log, "ab")
        self.process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.log, bufsize=0)
        self.to_helper = self.process.stdin.fileno()
        self.from_helper = self.process.stdout.fileno()
        self.pending = b""
        self.timeout = float(os.environ.get("KELP_SOAK_REPLY_TIMEOUT", "120"))

    def ask(self, request):
        os.write(self.to_helper, (json.dumps(request) + "\n").encode())
        deadline = time.monotonic() + self.timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.from_helper], [], [], left)[0]:
                raise Broken("no reply within %.0f s" % self.timeout)
            chunk = os.read(self.from_helper, 1 << 20)
            if not chunk:
                raise Broken("kelp-cua closed its output (exit status %s)" % self.process.poll())
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        try:
            reply = json.loads(line)
        except ValueError as error:
            raise Broken("not JSON (%s): %r" % (error, line[:300]))
        if not isinstance(reply, dict):
            raise Broken("not an object: %r" % line[:300])
        if type(reply.get("id")) is not int or reply["id"] != request["id"]:
            raise Broken("id %r instead of %r: %r" % (reply.get("id"), request["id"], line[:300]))
        if not isinstance(reply.get("ok"), bool):
            raise Broken("no boolean \"ok\": %r" % line[:300])
        if self.pending:
            # One request in flight: nothing may follow its reply.
            time.sleep(0.2)
            if select.select([self.from_helper], [], [], 0)[0]:
                self.pending += os.read(self.from_helper, 1 << 20)
            raise Broken("more than one line for id %r: %r" % (request["id"], self.pending[:300]))
        return reply

    def close(self, wait):
        """Closes the helper's input; its exit status, or None when it did not end."""
        self.process.stdin.close()
        try:
            return self.process.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None


def main():
    helper_path, count, log = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    baseline_at = min(BASELINE_AFTER, count)
    sent = collections.Counter()
    failed = collections.Counter()
    first_error = {}
    first_ok = {}
    samples = []
    broken = None
    baseline = end = peak = None

    helper = Helper(helper_path, log)
    pid = helper.process.pid
    start_rss = None
    start = time.monotonic()
    done = 0
    try:
        for n in range(1, count + 1):
            kind = CYCLE[(n - 1) % len(CYCLE)]
            label, request = request_for(kind, n, (n - 1) // len(CYCLE))
            sent[label] += 1
            reply = helper.ask(request)
            done = n
            if n == 1:
                start_rss = rss_kb(pid)
            if label not in first_ok:
                first_ok[label] = reply["ok"]
            if not reply["ok"]:
                failed[label] += 1
                first_error.setdefault(label, (n, reply.get("error")))
            if n == baseline_at:
                baseline = rss_kb(pid)
                samples.append((n, baseline))
            if n % PROGRESS_EVERY == 0:
                rss = rss_kb(pid)
                samples.append((n, rss))
                print("soak: %d/%d requests, %.0f s, VmRSS %.1f MB, %d failed" % (
                    n, count, time.monotonic() - start, mb(rss), sum(failed.values())),
                    file=sys.stderr, flush=True)
        end = rss_kb(pid)
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    peak = int(line.split()[1])
    except Broken as error:
        broken = "reply to request %d (%s): %s" % (done + 1, label, error)
        end = rss_kb(pid) if helper.process.poll() is None else None
    elapsed = time.monotonic() - start
    status = helper.close(30)

    print("soak: %d of %d requests answered in %.0f s (%.1f requests/s), one kelp-cua, pid %d" % (
        done, count, elapsed, done / elapsed if elapsed else 0.0, pid))
    print("%-28s %9s %9s  %s" % ("command", "requests", "failed", "first failure"))
    for kind in sorted(sent):
        first = first_error.get(kind)
        print("%-28s %9d %9d  %s" % (kind, sent[kind], failed[kind],
                                     "" if first is None else "#%d: %s" % first))
    print("%-28s %9d %9d" % ("total", sum(sent.values()), sum(failed.values())))
    not_ok_first = sorted(kind for kind, ok in first_ok.items() if not ok)
    if not_ok_first:
        print("soak: warning: the first reply was ok:false for: %s" % ", ".join(not_ok_first))
    all_failed = sorted(kind for kind in sent if failed[kind] == sent[kind])
    if all_failed:
        print("soak: warning: every request failed for: %s" % ", ".join(all_failed))
    if start_rss is not None:
        print("VmRSS after the first request %.1f MB" % mb(start_rss))
    if samples:
        print("VmRSS by requests answered: %s" % ", ".join("%d: %.1f MB" % (n, mb(kb)) for n, kb in samples))
    if peak is not None:
        print("VmHWM (peak) %.1f MB" % mb(peak))

    code = 0
    if baseline is not None and end is not None:
        growth = end - baseline
        print("VmRSS after %d requests %.1f MB (%d kB), at the end %.1f MB (%d kB), growth %+.2f MB (%+d kB);"
              " limit %.0f MB" % (baseline_at, mb(baseline), baseline, mb(end), end, mb(growth), growth,
                                  mb(LIMIT_KB)))
        if count <= BASELINE_AFTER:
            print("soak: note: %d requests or fewer measure no growth; run more" % BASELINE_AFTER)
        if growth >= LIMIT_KB:
            print("soak: FAIL: memory grew by %.2f MB, %.0f MB or more" % (mb(growth), mb(LIMIT_KB)))
            code = 1
    if broken is not None:
        print("soak: FAIL: %s" % broken)
        code = 1
    if status != 0:
        print("soak: FAIL: kelp-cua %s after its input was closed" % (
            "did not end within 30 s" if status is None else "ended with status %d" % status))
        code = 1
    else:
        print("kelp-cua ended with status 0 after its input was closed")
    print("soak: %s" % ("ok" if code == 0 else "FAILED"))
    return code


if __name__ == "__main__":
    sys.exit(main())
