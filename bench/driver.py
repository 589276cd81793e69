#!/usr/bin/env python3
"""Runs every service benchmark in one go, variants interleaved round by round, and writes
the table (bench/results/latest.md) and the latency plot. Called by bench/run.sh inside its
private namespaces, with nginx already serving the vault paths over HTTP and HTTPS."""
import argparse
import collections
import json
import math
import os
import re
import socket
import subprocess
import sys
import time

ACCOUNT, HOST, API_KEY = "bench", "bench", "bench-api-key-0123456789"
SERVICE_PORT = 730
QUICK = os.environ.get("QUICK") == "1"
IDLE_SECONDS = float(os.environ.get("IDLE_SECONDS", "10"))
# Extra service options, e.g. SERVICE_ARGS="--log-level INFO" to see the cost of DEBUG lines.
SERVICE_ARGS = os.environ.get("SERVICE_ARGS", "").split()


def quantile(samples, q):
    if not samples:
        return float("nan")
    ordered = sorted(samples)
    rank = max(1, math.ceil(q * len(ordered)))
    return ordered[min(rank, len(ordered)) - 1]


def numbers(cmd, timeout):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True, timeout=timeout).stdout
    return [float(line) for line in out.split()]


def json_line(cmd, timeout):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True, timeout=timeout).stdout
    return [json.loads(line) for line in out.splitlines() if line.startswith("{")]


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = args.build
        self.work = args.work
        self.service = os.path.join(self.build, "vx-vault-accessor")
        self.floor = os.path.join(self.build, "bench", "bench_floor")
        self.client = os.path.join(self.build, "bench", "bench_client")
        self.path_bench = os.path.join(self.build, "bench", "bench_request_path")
        self.curl_script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "curl-baseline.sh")
        self.proc = None
        self.rows = []  # (section, figure, value text, target text, verdict)
        self.notes = []

    # ---- the service process -------------------------------------------------------
    def start_service(self, wrapper=(), wait=5.0):
        logs = os.path.join(self.work, "service-logs")
        os.makedirs(logs, exist_ok=True)
        begin = time.perf_counter()
        self.proc = subprocess.Popen(list(wrapper) + [self.service, "-C", "", "-L", logs] + SERVICE_ARGS,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = begin + wait
        while time.perf_counter() < deadline:
            try:
                socket.create_connection(("127.0.0.1", SERVICE_PORT), timeout=1).close()
                return time.perf_counter() - begin
            except OSError:
                if self.proc.poll() is not None:
                    raise RuntimeError("the service ended during start-up")
                time.sleep(0.0005)
        raise RuntimeError("the service did not accept connections in time")

    def stop_service(self, sig=15):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def rss_mb(self):
        with open(f"/proc/{self.proc.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
        return float("nan")

    def cpu_seconds(self):
        total = 0
        for task in os.listdir(f"/proc/{self.proc.pid}/task"):
            try:
                with open(f"/proc/{self.proc.pid}/task/{task}/schedstat") as stat:
                    total += int(stat.read().split()[0])
            except OSError:
                pass
        return total / 1e9

    # ---- helpers -----------------------------------------------------------------------
    def base_url(self, scheme):
        port = self.args.https_port if scheme == "https" else self.args.http_port
        return f"{scheme}://127.0.0.1:{port}"

    def body_file(self, scheme, secrets):
        path = os.path.join(self.work, f"body-{scheme}-{secrets}.json")
        document = {"vaultType": "conjur", "vaultUrl": self.base_url(scheme),
                    "vaultAuthentication": {"account": ACCOUNT, "hostId": HOST, "apiKey": API_KEY},
                    "vaultCredentials": [f"s{i}" for i in range(secrets)]}
        with open(path, "w") as out:
            json.dump(document, out)
        return path

    def floor_cmd(self, scheme, secrets, mode, *rest):
        return [self.floor, mode, self.base_url(scheme), ACCOUNT, HOST, API_KEY, str(secrets)] + [str(r) for r in rest]

    def add(self, section, figure, value, target="", verdict=""):
        self.rows.append((section, figure, value, target, verdict))
        print(f"  {figure:<58} {value:>22}  {target:<22} {verdict}", flush=True)

    # ---- 1 and 2: latency against the floor and against the curl command line ----------
    def latency(self):
        print("== latency: service vs libcurl floor vs curl command line (one request at a time)", flush=True)
        plan = {  # (scheme, secrets): (rounds, per-batch floor/service, per-batch curl)
            ("https", 1): (8, 25, 4), ("https", 10): (8, 8, 2),
            ("http", 1): (6, 150, 10), ("http", 10): (6, 60, 4),
        }
        self.latency_results = {}
        for (scheme, secrets), (rounds, batch, curl_batch) in plan.items():
            if QUICK:
                rounds, batch, curl_batch = 2, max(3, batch // 5), 1
            body = self.body_file(scheme, secrets)
            samples = collections.defaultdict(list)
            variants = ["floor", "service", "curl"]
            for r in range(rounds):
                for variant in variants[r % 3:] + variants[:r % 3]:
                    if variant == "floor":
                        # The first sample of a batch warms caches and is dropped, for both.
                        samples[variant] += numbers(self.floor_cmd(scheme, secrets, "latency", batch + 1), 300)[1:]
                    elif variant == "service":
                        samples[variant] += numbers([self.client, "latency", str(SERVICE_PORT), body, str(batch + 1)], 300)[1:]
                    else:
                        for _ in range(curl_batch):
                            begin = time.perf_counter()
                            subprocess.run([self.curl_script, self.base_url(scheme), ACCOUNT, HOST, API_KEY,
                                            str(secrets)], check=True, timeout=60)
                            samples[variant].append((time.perf_counter() - begin) * 1000)
            self.latency_results[(scheme, secrets)] = samples
            f50, f99 = quantile(samples["floor"], .5), quantile(samples["floor"], .99)
            s50, s99 = quantile(samples["service"], .5), quantile(samples["service"], .99)
            c50 = quantile(samples["curl"], .5)
            tag = f"{scheme.upper()} N={secrets}"
            count = f"({len(samples['service'])}/{len(samples['floor'])}/{len(samples['curl'])} samples)"
            self.add("1", f"{tag} p50 service / floor  [{s50:.2f} / {f50:.2f} ms]", f"{s50 / f50:.3f}",
                     "<= 1.10" if scheme == "https" else "", self.verdict(s50 / f50 <= 1.10) if scheme == "https" else "")
            self.add("1", f"{tag} p99 service / floor  [{s99:.2f} / {f99:.2f} ms]", f"{s99 / f99:.3f}",
                     "<= 1.25" if scheme == "https" else "", self.verdict(s99 / f99 <= 1.25) if scheme == "https" else "")
            if scheme == "http":
                self.add("1", f"{tag} p50 service - floor", f"{s50 - f50:.3f} ms", "<= 0.5 ms", self.verdict(s50 - f50 <= 0.5))
            self.add("2", f"{tag} p50 service / curl CLI  [{s50:.2f} / {c50:.2f} ms] {count}", f"{s50 / c50:.3f}",
                     "<= 0.80", self.verdict(s50 / c50 <= 0.80))

    @staticmethod
    def verdict(ok):
        return "met" if ok else "MISSED"

    # ---- 3: throughput -------------------------------------------------------------------
    def throughput(self):
        print("== throughput over HTTPS, N=1 (rounds interleaved)", flush=True)
        seconds = 1.5 if QUICK else 3.0
        rounds = 1 if QUICK else 3
        body = self.body_file("https", 1)
        totals = collections.defaultdict(lambda: {"requests": 0, "errors": 0, "seconds": 0.0, "p99": [],
                                                  "caller_min": [], "caller_max": []})
        variants = [("service", 1), ("service", 2), ("service", 8), ("floor", 1), ("floor", 2)]
        for r in range(rounds):
            for kind, n in variants[r % 5:] + variants[:r % 5]:
                if kind == "service":
                    result = json_line([self.client, "load", str(SERVICE_PORT), body, str(n), str(seconds), "100000"], 120)[0]
                    totals[(kind, n)]["p99"].append(result["p99_ms"])
                    totals[(kind, n)]["caller_min"].append(result["caller_min"])
                    totals[(kind, n)]["caller_max"].append(result["caller_max"])
                else:
                    result = json_line(self.floor_cmd("https", 1, "load", n, seconds), 120)[0]
                for key in ("requests", "errors", "seconds"):
                    totals[(kind, n)][key] += result[key]
        rps = {key: value["requests"] / value["seconds"] for key, value in totals.items()}
        for (kind, n), value in sorted(totals.items()):
            extra = f", p99 {max(value['p99']):.1f} ms" if value["p99"] else ""
            self.add("3", f"{kind} {n} caller(s): req/s (errors {value['errors']}{extra})", f"{rps[(kind, n)]:.1f}")
        service_scaling = rps[("service", 2)] / rps[("service", 1)]
        floor_scaling = rps[("floor", 2)] / rps[("floor", 1)]
        self.add("3", f"2/1 scaling: service {service_scaling:.3f}, floor {floor_scaling:.3f}; service/floor",
                 f"{service_scaling / floor_scaling:.3f}", ">= 0.95", self.verdict(service_scaling / floor_scaling >= 0.95))
        eight = totals[("service", 8)]
        fairness = min(eight["caller_min"]) / max(1, max(eight["caller_max"]))
        self.add("3", "8 callers: errors", str(eight["errors"]), "0", self.verdict(eight["errors"] == 0))
        self.add("3", "8 callers: p99 latency / p50 of 1 caller's p99", f"{max(eight['p99']):.1f} ms", "reported")
        self.add("3", "8 callers: fewest / most requests of one caller", f"{fairness:.2f}", "fair (near 1)")

    # ---- 5: the request path alone -----------------------------------------------------------
    def request_path(self):
        print("== request path in-process (HttpServer + handler + service double), DEBUG vs INFO", flush=True)
        rounds, seconds = (1, 1) if QUICK else (3, 2)
        for callers in (1, 2):
            lines = json_line([self.path_bench, str(rounds), str(seconds), str(callers), "1"], 120)
            by_level = collections.defaultdict(lambda: [0, 0.0, 0])
            for line in lines:
                entry = by_level[line["level"]]
                entry[0] += line["result"]["requests"]
                entry[1] += line["result"]["seconds"]
                entry[2] += line["result"]["errors"]
            rps = {level: v[0] / v[1] for level, v in by_level.items()}
            errors = sum(v[2] for v in by_level.values())
            self.add("5", f"{callers} caller(s) req/s, DEBUG log (errors {errors})", f"{rps['DEBUG']:.0f}")
            self.add("5", f"{callers} caller(s) req/s, INFO log", f"{rps['INFO']:.0f}")
            self.add("5", f"{callers} caller(s) DEBUG / INFO throughput", f"{rps['DEBUG'] / rps['INFO']:.3f}")

    # ---- 6: idle cost and start-up ---------------------------------------------------------
    def idle(self):
        print(f"== idle cost and start-up ({IDLE_SECONDS:.0f} s idle window)", flush=True)
        loaded_rss = self.rss_mb()
        self.stop_service()
        starts = []
        for _ in range(2 if QUICK else 7):
            starts.append(self.start_service() * 1000)
            self.stop_service()
        started = self.start_service()
        time.sleep(1.0)
        rss = self.rss_mb()
        cpu_before, wall_before = self.cpu_seconds(), time.perf_counter()
        time.sleep(IDLE_SECONDS)
        cpu = (self.cpu_seconds() - cpu_before) / (time.perf_counter() - wall_before) * 100
        self.stop_service()
        starts.append(started * 1000)
        self.add("6", "RSS after start", f"{rss:.1f} MB", "< 20 MB", self.verdict(rss < 20))
        self.add("6", "RSS after the load of sections 1-3", f"{loaded_rss:.1f} MB", "reported")
        self.add("6", f"idle CPU over {IDLE_SECONDS:.0f} s", f"{cpu:.4f} %", "< 0.1 %", self.verdict(cpu < 0.1))
        self.add("6", f"start-up exec -> accepting, median of {len(starts)}", f"{quantile(starts, .5):.1f} ms",
                 "< 100 ms", self.verdict(quantile(starts, .5) < 100))
        self.add("6", "start-up, slowest", f"{max(starts):.1f} ms", "reported")

    # ---- 4 and 5: where the time goes (callgrind) ---------------------------------------------
    def annotate(self, out_file):
        """Program total, inclusive cost of certificate loading and of the handshake, and the
        exclusive cost per shared object."""
        inclusive = subprocess.run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", out_file],
                                   capture_output=True, text=True, timeout=300).stdout
        exclusive = subprocess.run(["callgrind_annotate", "--inclusive=no", "--threshold=100", out_file],
                                   capture_output=True, text=True, timeout=300).stdout
        total = 0
        match = re.search(r"^([\d,]+) .*PROGRAM TOTALS", inclusive, re.M)
        if match:
            total = int(match.group(1).replace(",", ""))
        line_re = re.compile(r"^\s*([\d,]+) \([^)]*\)\s+[^:]*:(.*?)(?: \[([^\]]*)\])?$")

        def largest(text, patterns):
            best = 0
            for line in text.splitlines():
                m = line_re.match(line)
                if m and m.group(2) in patterns:
                    best = max(best, int(m.group(1).replace(",", "")))
            return best

        certs = largest(inclusive, ["X509_STORE_load_locations", "X509_STORE_load_file", "X509_STORE_load_file_ex",
                                    "X509_load_cert_crl_file_ex", "X509_load_cert_crl_file",
                                    "SSL_CTX_load_verify_locations", "SSL_CTX_load_verify_file"])
        handshake = largest(inclusive, ["SSL_do_handshake", "SSL_connect", "ossl_statem_connect"])
        objects = collections.Counter()
        for line in exclusive.splitlines():
            m = line_re.match(line)
            if m:
                obj = os.path.basename(m.group(3) or "?")
                obj = re.sub(r"\.so[.\d]*$", "", obj)
                objects[obj] += int(m.group(1).replace(",", ""))
        return total, certs, handshake, objects, inclusive

    def profile_line(self, section, what, out_file, own_object):
        total, certs, handshake, objects, _ = self.annotate(out_file)
        if total == 0:
            self.add(section, f"{what}: no profile", "-")
            return
        share = lambda v: f"{100.0 * v / total:.2f} %"
        # libcurl 7.88 loads the CA file lazily, from inside the handshake: keep the two apart.
        self.add(section, f"{what}: CA bundle loading (X509_STORE_load_file)", share(certs), "reported")
        self.add(section, f"{what}: rest of the TLS handshake", share(max(0, handshake - certs)), "reported")
        if own_object:
            self.add(section, f"{what}: our binary ({own_object}, incl. inlined Boost/std)",
                     share(objects.get(own_object, 0)), "reported")
        top = ", ".join(f"{name} {100.0 * v / total:.0f}%" for name, v in objects.most_common(6))
        self.notes.append(f"{what}: instructions {total:,}; exclusive share by object: {top}")

    def profiles(self):
        print("== where the time goes (callgrind instruction counts)", flush=True)
        count = 2 if QUICK else 4
        floor_out = os.path.join(self.work, "callgrind.floor")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={floor_out}", "-q"] +
                       self.floor_cmd("https", 1, "latency", count), check=True, capture_output=True, timeout=300)
        self.profile_line("4", f"floor, {count} x HTTPS N=1", floor_out, None)

        service_out = os.path.join(self.work, "callgrind.service")
        self.start_service(["valgrind", "--tool=callgrind", f"--callgrind-out-file={service_out}", "-q"], wait=120)
        numbers([self.client, "latency", str(SERVICE_PORT), self.body_file("https", 1), str(count)], 300)
        self.stop_service()
        self.profile_line("4", f"service, start + {count} x HTTPS N=1", service_out, "vx-vault-accessor")

        path_out = os.path.join(self.work, "callgrind.path")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={path_out}", "-q",
                        self.path_bench, "1", "2", "1", "1"], check=True, capture_output=True, timeout=300)
        total, _, _, objects, inclusive = self.annotate(path_out)
        if total:
            top = ", ".join(f"{name} {100.0 * v / total:.0f}%" for name, v in objects.most_common(8))
            self.add("5", "request path profile: top objects by own instructions", "see notes")
            self.notes.append(f"request path (bench_request_path, DEBUG then INFO, 2 s each): {top}")
            listed = [l.strip()[:160] for l in inclusive.splitlines() if re.match(r"^\s*[\d,]+ \(", l)]
            self.notes.append("request path, largest inclusive costs:\n" + "\n".join(listed[1:25]))

    # ---- output ------------------------------------------------------------------------------
    def write(self):
        results = self.args.results
        os.makedirs(results, exist_ok=True)
        env = []
        for cmd in (["uname", "-r"], ["nproc"], ["curl", "--version"], ["/usr/sbin/nginx", "-v"]):
            r = subprocess.run(cmd, capture_output=True, text=True)
            env.append((r.stdout + r.stderr).splitlines()[0] if (r.stdout + r.stderr) else "")
        with open("/proc/loadavg") as f:
            load = f.read().split()[:3]
        lines = ["# vx-vault-accessor benchmarks (`make bench`)", "",
                 f"Run {time.strftime('%Y-%m-%d %H:%M:%S %Z')}; kernel {env[0]}, {env[1]} CPUs, load {' '.join(load)} at the end.",
                 f"{env[2]}", f"{env[3]}", "",
                 "Every ratio compares variants measured in the same run, interleaved round by round.",
                 "Vault: nginx answering /authn/ and /secrets/ with fixed bodies on loopback (HTTP and HTTPS with a",
                 "throwaway CA). Service: default options (DEBUG log level, crash reports on). Floor: bench/floor.cpp,",
                 "the same 1 + N exchanges with libcurl, a fresh easy handle each. curl CLI: bench/curl-baseline.sh.",
                 "", "| § | figure | value | target | |", "|---|---|---|---|---|"]
        for section, figure, value, target, verdict in self.rows:
            lines.append(f"| {section} | {figure} | {value} | {target} | {verdict} |")
        lines += ["", "## Profile notes (callgrind, instructions)", ""]
        for note in self.notes:
            lines.append("```" if "\n" in note else "")
            lines.append(note)
            lines.append("```" if "\n" in note else "")
        with open(os.path.join(results, "latest.md"), "w") as out:
            out.write("\n".join(lines) + "\n")
        self.plot(results)

    def plot(self, results):
        data = os.path.join(self.work, "latency.dat")
        with open(data, "w") as out:
            out.write("# case floor_p50 service_p50 curl_p50 floor_p99 service_p99 curl_p99\n")
            for (scheme, secrets), s in self.latency_results.items():
                row = [quantile(s[v], q) for q in (.5, .99) for v in ("floor", "service", "curl")]
                out.write(f"\"{scheme.upper()}, {secrets}\" " + " ".join(f"{v:.4f}" for v in row) + "\n")
        script = f"""
set terminal pngcairo size 1100,500 noenhanced
set output '{os.path.join(results, "latency.png")}'
set multiplot layout 1,2 title 'getCredentials latency: service vs libcurl floor vs curl command line (ms, log scale)'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set logscale y
set grid ytics
set key top left
set ylabel 'ms'
set xlabel 'protocol, secrets per request'
set title 'p50'
plot '{data}' using 2:xtic(1) title 'floor (libcurl)', '' using 3 title 'service', '' using 4 title 'curl CLI'
set title 'p99'
plot '{data}' using 5:xtic(1) title 'floor (libcurl)', '' using 6 title 'service', '' using 7 title 'curl CLI'
unset multiplot
"""
        try:
            subprocess.run(["gnuplot"], input=script, text=True, check=True, timeout=60)
        except (OSError, subprocess.SubprocessError) as error:
            print(f"plot not written: {error}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser()
    for name in ("--build", "--work", "--results"):
        parser.add_argument(name, required=True)
    parser.add_argument("--http-port", type=int, required=True)
    parser.add_argument("--https-port", type=int, required=True)
    bench = Bench(parser.parse_args())
    started = time.time()
    bench.start_service()
    try:
        bench.latency()
        bench.throughput()
        bench.request_path()
        bench.idle()
        bench.profiles()
    finally:
        bench.stop_service()
    bench.write()
    print(f"== done in {time.time() - started:.0f} s")


if __name__ == "__main__":
    main()
