"""Helpers for driving the browser app: the real vellumo program in a sandbox, a relay that
makes the browser's connections arrive from another address, headless chromium, and a
scripted phone that speaks the same protocol."""

import base64
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

READY = "Stop with Ctrl+C or SIGTERM."
LAN_HOST = "vellumo-pc.lan"
# Another machine on the network, as far as the service's gate can tell.
PHONE_ADDRESS = "127.0.0.2"


def wait_for(condition, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            return value
        time.sleep(interval)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Vellumo:
    """The program in a sandbox of its own: HOME, XDG folders, TMPDIR and a free port."""

    def __init__(self, program, base):
        self.program = program
        self.base = base
        self.home = os.path.join(base, "home")
        self.port = free_port()
        self.process = None
        self.out_path = os.path.join(base, "stdout.txt")
        self.err_path = os.path.join(base, "stderr.txt")
        for sub in ("home", "config", "data", "run", "tmp"):
            os.makedirs(os.path.join(base, sub), exist_ok=True)
        os.chmod(os.path.join(base, "run"), 0o700)

    def environment(self):
        env = {
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.base, "config"),
            "XDG_DATA_HOME": os.path.join(self.base, "data"),
            "XDG_RUNTIME_DIR": os.path.join(self.base, "run"),
            "TMPDIR": os.path.join(self.base, "tmp"),
            "VELLUMO_PORT": str(self.port),
            "TZ": "UTC",
        }
        for name in ("PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "LANG"):
            if name in os.environ:
                env[name] = os.environ[name]
        return env

    def start(self, timeout=60):
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen([self.program, "--headless"], stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=err, env=self.environment())
        if not wait_for(lambda: READY in self.output() or self.process.poll() is not None, timeout):
            raise RuntimeError("vellumo did not start:\n" + self.output() + self.errors())
        if self.process.poll() is not None:
            raise RuntimeError("vellumo ended:\n" + self.output() + self.errors())

    def output(self):
        with open(self.out_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def errors(self):
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def value(self, label):
        for line in self.output().splitlines():
            if line.startswith(label + ": "):
                return line[len(label) + 2:]
        return ""

    def root(self):
        return self.value("storage root")

    def stop(self, timeout=60):
        if self.process is None or self.process.poll() is not None:
            return self.process.returncode if self.process else 0
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return -1


def http(port, method, target, body=b"", source=PHONE_ADDRESS, host="127.0.0.1", timeout=60):
    """One request on its own connection from source; (status, headers, body), status 0 when the
    service closed without answering."""
    with socket.create_connection((host, port), timeout=timeout, source_address=(source, 0)) as s:
        head = f"{method} {target} HTTP/1.1\r\nHost: {LAN_HOST}\r\n"
        if method == "POST":
            head += f"Content-Length: {len(body)}\r\n"
        s.sendall(head.encode("utf-8") + b"\r\n" + body)
        chunks = []
        while True:
            chunk = s.recv(1 << 16)
            if not chunk:
                break
            chunks.append(chunk)
    raw = b"".join(chunks)
    if not raw:
        return 0, {}, b""
    head, _, rest = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split(" ")[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, rest


def photo_token(path, seconds):
    """The token the page computes: Base64 of MD5|size|time|web."""
    with open(path, "rb") as f:
        data = f.read()
    text = f"{hashlib.md5(data).hexdigest().upper()}|{len(data)}|{seconds}|web"
    return base64.b64encode(text.encode("ascii")).decode("ascii")


class Relay:
    """Accepts connections on 127.0.0.1 and forwards each to the service from 127.0.0.2, so the
    service sees the browser as another machine. Counts the bytes the browser sent."""

    def __init__(self, target_port, source=PHONE_ADDRESS):
        self.target_port = target_port
        self.source = source
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.sent = 0
        self.heads = []  # the request head of every connection, in order of arrival
        self.drop_uploads = 0  # uploads still to cut off after their head
        self.lock = threading.Lock()
        self.running = True
        self.thread = threading.Thread(target=self.accept_loop, daemon=True)
        self.thread.start()

    def accept_loop(self):
        while self.running:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(client,), daemon=True).start()

    def serve(self, client):
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = client.recv(1 << 16)
            if not chunk:
                break
            head += chunk
        text = head.split(b"\r\n\r\n")[0].decode("latin-1")
        with self.lock:
            self.heads.append(text)
            self.sent += len(head)
            drop = (self.drop_uploads > 0 and text.startswith("POST /import?")
                    and "\r\nContent-Length: 0" not in text)
            if drop:
                self.drop_uploads -= 1
        if drop:
            # The connection is lost in the middle of the photo.
            client.close()
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", self.target_port),
                                                source_address=(self.source, 0))
            upstream.sendall(head)
        except OSError:
            client.close()
            return
        back = threading.Thread(target=self.pump, args=(upstream, client, False), daemon=True)
        back.start()
        self.pump(client, upstream, True)
        back.join()
        client.close()
        upstream.close()

    def pump(self, source, target, count):
        try:
            while True:
                chunk = source.recv(1 << 16)
                if not chunk:
                    break
                if count:
                    with self.lock:
                        self.sent += len(chunk)
                target.sendall(chunk)
        except OSError:
            pass
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def requests(self):
        with self.lock:
            return list(self.heads)

    def bytes_sent(self):
        with self.lock:
            return self.sent

    def close(self):
        self.running = False
        self.listener.close()


def start_chromium(profile, resolve_to="127.0.0.1", phone=True):
    """Headless chromium through chromedriver, nothing resolvable but the PC's LAN name."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu",
                 "--disable-background-networking", "--disable-component-update",
                 "--no-first-run", "--disable-sync", "--disable-default-apps",
                 "--disable-dev-shm-usage", "--no-default-browser-check",
                 f"--user-data-dir={profile}",
                 f"--host-resolver-rules=MAP {LAN_HOST} {resolve_to}, MAP * ~NOTFOUND"):
        options.add_argument(flag)
    if phone:
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": 390, "height": 844, "pixelRatio": 2.0},
            "userAgent": "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 "
                         "(KHTML, like Gecko) Chrome/126.0.0.0 Mobile Safari/537.36"})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    env = dict(os.environ, TZ="UTC")
    service = Service(executable_path=driver_path, env=env)
    return webdriver.Chrome(service=service, options=options)


def severe_logs(driver):
    return [entry for entry in driver.get_log("browser") if entry.get("level") == "SEVERE"]


def make_temp(prefix):
    return tempfile.mkdtemp(prefix=prefix)


def json_body(body):
    text = body.decode("utf-8")
    return json.loads(text) if text.strip() else None
