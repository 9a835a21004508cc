#!/usr/bin/python3
"""Times "tree" requests to one kelp-cua in server mode.

Each request is timed from writing its line to reading the last byte of its
reply line, on raw pipe descriptors, so that the driver adds a few
microseconds at most; "ping" requests, timed the same way, show that floor
(the protocol and the driver without any accessibility work). Replies are
parsed only after the clock has stopped. Prints one JSON object.

Usage: time_requests.py KELP_CUA APP [MAX] [REPEATS] [QUERY]
With QUERY the requests are "find" with that "q" instead of "tree". Fields
in $KELP_REQUEST_FIELDS (a JSON object, such as {"window":"front"}) go into
every request.
"""
import json
import os
import statistics
import subprocess
import sys
import time


class Helper:
    def __init__(self, path):
        self.process = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, bufsize=0)
        self.to_helper = self.process.stdin.fileno()
        self.from_helper = self.process.stdout.fileno()
        self.pending = b""

    def ask(self, request):
        """The reply to `request` and the seconds it took."""
        line = (json.dumps(request) + "\n").encode()
        start = time.perf_counter()
        os.write(self.to_helper, line)
        while b"\n" not in self.pending:
            chunk = os.read(self.from_helper, 1 << 20)
            if not chunk:
                raise RuntimeError("kelp-cua ended without a reply")
            self.pending += chunk
        elapsed = time.perf_counter() - start
        reply, _, self.pending = self.pending.partition(b"\n")
        return json.loads(reply), elapsed

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=20)


def main():
    helper_path, app = sys.argv[1], sys.argv[2]
    limit = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    repeats = int(sys.argv[4]) if len(sys.argv) > 4 else 30
    query = sys.argv[5] if len(sys.argv) > 5 else None
    helper = Helper(helper_path)
    try:
        pings = [helper.ask({"cmd": "ping"})[1] * 1000.0 for _ in range(repeats)]
        times = []
        counts = set()
        for i in range(repeats):
            # "pid:N" names the application by its process id.
            target = {"pid": int(app[4:])} if app.startswith("pid:") else {"app": app}
            request = {"cmd": "tree", **target, "max": limit, "id": i}
            request.update(json.loads(os.environ.get("KELP_REQUEST_FIELDS", "{}")))
            if query is not None:
                request.update({"cmd": "find", "q": query})
            reply, elapsed = helper.ask(request)
            if not reply.get("ok"):
                print(json.dumps({"error": reply.get("error"), "app": app}))
                return 1
            counts.add(len(reply["result"]["elements"]))
            times.append(elapsed * 1000.0)
    finally:
        helper.close()
    print(json.dumps({
        "app": app,
        "elements": sorted(counts),
        "first_ms": times[0],
        "median_ms": statistics.median(times),
        "min_ms": min(times),
        "max_ms": max(times),
        "ping_median_ms": statistics.median(pings),
        "times_ms": times,
    }))
    return 0


if __name__ == "__main__":
    sys.exit(main())
