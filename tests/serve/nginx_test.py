#!/usr/bin/env python3
"""norvisk serve scaled out: Debian's nginx in front of two instances, as the README configures.

Usage: nginx_test.py NORVISK_BINARY FOLDER

nginx runs unprivileged with its configuration, pid, logs and temporary files in FOLDER, on
127.0.0.1 only. Checks: pictures through nginx are the command's bytes and 304s pass through;
8 clients' mixed requests are all answered with the right bytes while one instance is killed
with SIGKILL, and the instance restarted on its port takes requests again; more than 64
requests at once through the proxy are all answered. Exits 77 (skipped) without nginx.
"""
import http.client
import os
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

NORVISK = sys.argv[1]
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
CHARTS = [
    ("/bar.jpg", "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)", 640, 300),
    ("/bar.bmp", "(a;b)(x;1;2)(y;3;4)", 320, 200),
    ("/xy.jpg", "(Jan;10)(Feb;20)(Mar;15)(Apr;-12.5)", 480, 240),
    ("/xy.bmp", "(p;1)(q;3)(r;2)", 200, 150),
    ("/bar.jpg", "(only;1)(one;5)", 300, 300),
]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what, flush=True)


def target(chart):
    path, data, width, height = chart
    return "%s?data=%s&width=%d&height=%d" % (path, urllib.parse.quote(data, safe=""), width,
                                              height)


def command_file(chart, folder):
    path, data, width, height = chart
    out = os.path.join(folder, "reference" + path[path.index("."):])
    subprocess.run([NORVISK, path[1:path.index(".")], out, data, "--width", str(width),
                    "--height", str(height)], check=True, timeout=60)
    with open(out, "rb") as f:
        return f.read()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Instance:
    """norvisk serve on 127.0.0.1, stopped by its process id."""

    def __init__(self, port=0):
        self.proc = subprocess.Popen(
            [NORVISK, "serve", "--listen", "127.0.0.1:%d" % port, "--threads", "2",
             "--max-per-client", "0"], stdout=subprocess.PIPE)
        line = self.proc.stdout.readline().decode()
        prefix = "norvisk: listening on http://127.0.0.1:"
        if not line.startswith(prefix):
            raise RuntimeError("no listening line: %r" % line)
        self.port = int(line[len(prefix):])

    def charts_served(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("GET", "/metrics")
        text = conn.getresponse().read().decode()
        conn.close()
        return sum(int(line.rsplit(" ", 1)[1]) for line in text.splitlines()
                   if line.startswith("norvisk_requests_total{path=\"/") and
                   "status=\"200\"" in line and "/metrics" not in line and "/health" not in line)

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()


NGINX_CONF = """\
worker_processes 1;
daemon off;
pid {folder}/nginx.pid;
error_log {folder}/error.log warn;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    client_body_temp_path {folder}/client_body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    upstream norvisk_charts {{
        server 127.0.0.1:{first} max_fails=1 fail_timeout=2s;
        server 127.0.0.1:{second} max_fails=1 fail_timeout=2s;
        keepalive 32;
    }}
    server {{
        listen 127.0.0.1:{port};
        location ~ ^/(bar|xy)\\.(jpg|bmp|png)$ {{
            proxy_pass http://norvisk_charts;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_next_upstream error timeout;
            proxy_connect_timeout 2s;
        }}
    }}
}}
"""


def start_nginx(folder, first, second):
    """nginx as the test's user, or as nobody when the test runs as root."""
    port = free_port()
    conf = os.path.join(folder, "nginx.conf")
    with open(conf, "w") as f:
        f.write(NGINX_CONF.format(folder=folder, first=first, second=second, port=port))
    drop = None
    if os.geteuid() == 0:
        for name in ("", "client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
            os.makedirs(os.path.join(folder, name), exist_ok=True)
            os.chown(os.path.join(folder, name), 65534, 65534)

        def drop():
            os.setgroups([])
            os.setgid(65534)
            os.setuid(65534)
    proc = subprocess.Popen([NGINX, "-p", folder, "-c", conf, "-e", folder + "/error.log"],
                            preexec_fn=drop)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise RuntimeError("nginx exited: " + open(folder + "/error.log").read())
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return proc, port
        except OSError:
            time.sleep(0.05)
    proc.kill()
    proc.wait()
    raise RuntimeError("nginx did not listen")


def reachable_by_others(path):
    while True:
        if not os.stat(path).st_mode & stat.S_IXOTH:
            return False
        if path == os.path.dirname(path):
            return True
        path = os.path.dirname(path)


def get(conn, path, headers=None):
    conn.request("GET", path, headers=headers or {})
    r = conn.getresponse()
    return r.status, dict((k.lower(), v) for k, v in r.getheaders()), r.read()


def identical_bytes_and_304(port, expected):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    for chart, want in expected.items():
        status, fields, body = get(conn, target(chart))
        check(status == 200 and body == want, "%s through nginx: %d, %d bytes, want %d" %
              (chart[0], status, len(body), len(want)))
        etag = fields.get("etag", "")
        check(etag.startswith('"'), "%s has an ETag through nginx: %r" % (chart[0], etag))
        status, fields, body = get(conn, target(chart), {"If-None-Match": etag})
        check(status == 304 and body == b"" and fields.get("etag") == etag,
              "%s If-None-Match through nginx: %d %r" % (chart[0], status, fields.get("etag")))
    conn.close()


def mixed_requests_with_a_kill(port, expected, instances, folder):
    charts = list(expected)
    total, clients = 2000, 8
    done = [0]
    bad = []
    lock = threading.Lock()
    killed = threading.Event()

    def client(index):
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        for i in range(total // clients):
            chart = charts[(index + i) % len(charts)]
            try:
                status, _, body = get(conn, target(chart))
            except (OSError, http.client.HTTPException) as e:
                conn.close()
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                status, body = str(e), b""
            with lock:
                done[0] += 1
                if status != 200 or body != expected[chart]:
                    bad.append("%s: %s, %d bytes" % (chart[0], status, len(body)))
        conn.close()

    threads = [threading.Thread(target=client, args=(i,)) for i in range(clients)]
    for t in threads:
        t.start()
    deadline = time.monotonic() + 120
    while done[0] < total // 3 and time.monotonic() < deadline:
        time.sleep(0.01)
    instances[0].stop(signal.SIGKILL)
    killed.set()
    for t in threads:
        t.join(max(1, deadline - time.monotonic()))
    check(not any(t.is_alive() for t in threads), "the clients finished in time")
    check(done[0] == total, "answered %d of %d" % (done[0], total))
    check(not bad, "%d wrong answers while an instance was killed, first: %s" %
          (len(bad), bad[:3]))

    # Restarted on its port, the instance takes requests again once nginx tries it again.
    old_port = instances[0].port
    instances[0] = Instance(old_port)
    check(instances[0].port == old_port, "restarted on port %d" % old_port)
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    deadline = time.monotonic() + 20
    served = 0
    while served == 0 and time.monotonic() < deadline:
        for _ in range(20):
            status, _, body = get(conn, target(charts[0]))
            check(status == 200 and body == expected[charts[0]], "answered after the restart")
        served = instances[0].charts_served()
        if served == 0:
            time.sleep(0.2)
    conn.close()
    check(served > 0, "the restarted instance took no request through nginx")


def many_at_once(port, expected):
    """More requests at once than the default per-address limit: all of them answered."""
    count = 160  # 80 an instance: over the default of 64 per address
    chart = ("/bar.jpg", "(Q1;Q2;Q3;Q4)(North;10;20;30;40)(South;15;25;35;45)", 1200, 900)
    start = threading.Barrier(count)
    results = []
    lock = threading.Lock()

    def client():
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        try:
            start.wait(30)
            status, _, body = get(conn, target(chart))
        except (OSError, http.client.HTTPException, threading.BrokenBarrierError) as e:
            status, body = str(e), b""
        conn.close()
        with lock:
            results.append((status, len(body)))

    threads = [threading.Thread(target=client) for _ in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(90)
    ok = sum(1 for status, size in results if status == 200 and size > 0)
    check(ok == count, "%d of %d requests at once answered: %s" %
          (ok, count, sorted(set(s for s, _ in results if s != 200))[:5]))


def main():
    if not os.access(NGINX, os.X_OK):
        print("nginx is not installed")
        return 77
    os.makedirs(sys.argv[2], exist_ok=True)
    parent = os.path.abspath(sys.argv[2])
    if os.geteuid() == 0 and not reachable_by_others(parent):
        # nginx runs as nobody, who could not reach a checkout under a private home.
        parent = tempfile.gettempdir()
    folder = tempfile.mkdtemp(prefix="norvisk-nginx-", dir=parent)
    instances, nginx = [], None
    try:
        expected = {chart: command_file(chart, folder) for chart in CHARTS}
        instances = [Instance(), Instance()]
        nginx, port = start_nginx(folder, instances[0].port, instances[1].port)
        identical_bytes_and_304(port, expected)
        many_at_once(port, expected)
        mixed_requests_with_a_kill(port, expected, instances, folder)
    finally:
        if nginx is not None:
            nginx.terminate()
            try:
                nginx.wait(timeout=20)
            except subprocess.TimeoutExpired:
                nginx.kill()
                nginx.wait()
        for instance in instances:
            instance.stop()
    if failures:
        print("%d failures; nginx's log: %s/error.log" % (len(failures), folder))
        return 1
    shutil.rmtree(folder, ignore_errors=True)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
