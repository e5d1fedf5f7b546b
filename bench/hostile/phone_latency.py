#!/usr/bin/python3
"""Runs the program headless in a sandbox, pairs a phone and measures the phone's request
latency during each attack. Usage: phone_latency.py VELLUMO_BINARY REQUESTS"""

import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

PHONE = "127.0.0.2"
KEY = "bench-phone"


def request(port, target, body=b"", source=PHONE, timeout=30):
    s = socket.socket()
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    method = "POST" if body else "GET"
    head = "%s %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % (method, target, port)
    if body:
        head += "Content-Length: %d\r\n" % len(body)
    s.sendall(head.encode() + b"\r\n" + body)
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
    return data


def status(answer):
    return int(answer[9:12]) if answer.startswith(b"HTTP/1.1 ") else 0


def png_bomb(side):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    row = b"\0" + b"\xff" * ((side + 7) // 8)
    packer = zlib.compressobj(9)
    data = b"".join(packer.compress(row) for _ in range(side)) + packer.flush()
    header = struct.pack(">IIBBBBB", side, side, 1, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", data) + chunk(b"IEND", b"")


def latencies(port, count):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        answer = request(port, "/devices?key=" + KEY)
        elapsed = (time.perf_counter() - start) * 1000
        times.append(elapsed if status(answer) == 200 else float("inf"))
    times.sort()
    return times[len(times) // 2], times[min(len(times) - 1, int(len(times) * 0.99))]


class Attack:
    def __init__(self, run):
        self.stop = threading.Event()
        self.thread = threading.Thread(target=run, args=(self.stop,), daemon=True)

    def __enter__(self):
        self.thread.start()
        time.sleep(1)
        return self

    def __exit__(self, *args):
        self.stop.set()
        self.thread.join()


def slowloris(port):
    def run(stop):
        held = []
        for _ in range(2100):
            s = socket.socket()
            s.bind(("127.0.0.3", 0))
            try:
                s.connect(("127.0.0.1", port))
                s.send(b"G")
            except OSError:
                pass
            held.append(s)
        while not stop.wait(1):
            for s in held:
                try:
                    s.send(b"E")
                except OSError:
                    pass
        for s in held:
            s.close()
    return run


def drip(port):
    def run(stop):
        held = []
        for _ in range(4):
            s = socket.socket()
            s.bind((PHONE, 0))
            s.connect(("127.0.0.1", port))
            s.send(("POST /import?key=%s&name=d.jpg HTTP/1.1\r\nContent-Length: 268435456\r\n\r\n"
                    % KEY).encode())
            held.append(s)
        while not stop.wait(0.5):
            for s in held:
                try:
                    s.send(b"x" * 1024)
                except OSError:
                    pass
        for s in held:
            s.close()
    return run


def bombs(port, pid):
    def run(stop):
        size = [150]
        def one():
            while not stop.is_set():
                size[0] += 1
                try:
                    request(port, "/thumb/%d?key=%s&w=%d&h=150" % (pid, KEY, size[0]))
                except OSError:
                    pass
        workers = [threading.Thread(target=one) for _ in range(8)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()
    return run


def guessing(port):
    def run(stop):
        n = 0
        while not stop.is_set():
            n += 1
            try:
                request(port, "/auth?key=g%d&type=1&passwd=%08d" % (n, n),
                        source="127.0.%d.%d" % (2 + n // 250 % 200, 1 + n % 250))
            except OSError:
                pass
    return run


def main():
    binary, count = sys.argv[1], int(sys.argv[2])
    sandbox = tempfile.mkdtemp(prefix="vellumo-hostile-bench-")
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    env = {"HOME": sandbox, "XDG_CONFIG_HOME": sandbox + "/config", "XDG_DATA_HOME": sandbox + "/data",
           "XDG_RUNTIME_DIR": sandbox + "/run", "TMPDIR": sandbox + "/tmp/",
           "VELLUMO_PORT": str(port), "PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    for folder in ("config", "data", "run", "tmp"):
        os.makedirs(sandbox + "/" + folder, mode=0o700)
    log = open(sandbox + "/out.txt", "w+")
    program = subprocess.Popen([binary, "--headless"], env=env, stdout=log, stderr=subprocess.DEVNULL)
    try:
        password = None
        for _ in range(200):
            time.sleep(0.1)
            log.seek(0)
            for line in log.read().splitlines():
                if line.startswith("pairing password: "):
                    password = line.split(": ", 1)[1]
            if password:
                try:
                    if status(request(port, "/echo")) == 200:
                        break
                except OSError:
                    pass
        assert status(request(port, "/auth?key=%s&passwd=%s&type=1&modal=Bench" % (KEY, password))) == 200
        token = "Ym9tYnx4fDEzNjczOTcwMDB8eQ=="
        request(port, "/import?key=%s&name=BOMB.PNG&vmd5=%s&cur=1&total=1&speed=1&time=1" % (KEY, token),
                png_bomb(14000))
        pid = 0
        for _ in range(100):
            answer = request(port, "/verify?key=" + KEY, ('["%s"]' % token).encode())
            text = answer.split(b"\r\n\r\n", 1)[1].decode()
            if '" : ' in text:
                pid = int(text.split('" : ')[1].split()[0].rstrip(","))
                break
            time.sleep(0.1)
        if not pid:
            print("hostile  the bomb photo was not stored")
            return 1
        thumb = request(port, "/thumb/%d?key=%s&w=150&h=150" % (pid, KEY))
        print("hostile  bomb photo pid %d (%d bytes): /thumb answers %d with %d bytes" %
              (pid, len(png_bomb(14000)), status(thumb), len(thumb.split(b"\r\n\r\n", 1)[1])))
        results = [("quiet", latencies(port, count))]
        for name, attack in [("slowloris 2100 connections", slowloris(port)),
                             ("4 dripped 256 MiB bodies", drip(port)),
                             ("8 bomb thumbnails at a time", bombs(port, pid)),
                             ("guessing from many addresses", guessing(port))]:
            with Attack(attack):
                results.append((name, latencies(port, count)))
        quiet = results[0][1][1]
        failed = False
        for name, (p50, p99) in results:
            ok = p99 < 100
            failed = failed or not ok
            print("hostile  %-30s phone p50 %6.1f ms  p99 %6.1f ms  ratio %.2f (target p99 < 100 ms: %s)"
                  % (name, p50, p99, 100 / p99 if p99 else 0, "met" if ok else "NOT MET"))
        rss = 0
        with open("/proc/%d/status" % program.pid) as s:
            for line in s:
                if line.startswith("VmHWM:"):
                    rss = int(line.split()[1]) // 1024
        print("hostile  peak resident memory of the program: %d MiB (quiet p99 %.1f ms)" % (rss, quiet))
        return 1 if failed else 0
    finally:
        program.terminate()
        program.wait()
        shutil.rmtree(sandbox, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
