#!/usr/bin/env python3
"""bench_webapp.py VELLUMO PHOTOS_DIR
Uploads the same photos twice into fresh libraries, each timed from the choice of the photos
until the PC's library holds them all (their tokens answer in "/verify"):
  - a scripted phone: tokens (MD5 of each file), one "/verify", then "/import" three at a time,
    one connection per photo, as the phone app does;
  - the browser app in headless chromium on loopback.
The phone runs before and after the browser; the faster phone run is the baseline.
Also the bytes of the page's first load."""

import json
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "webapp"))
import webapp_support as ws  # noqa: E402


def phone_upload(vellumo, files):
    port = vellumo.port
    password = vellumo.value("pairing password")
    key = "bench-phone"
    status, _, _ = ws.http(port, "GET", f"/auth?key={key}&passwd={password}&type=0&modal=Bench")
    assert status == 200
    start = time.monotonic()
    tokens = [ws.photo_token(path, int(os.path.getmtime(path))) for path in files]
    _, _, body = ws.http(port, "POST", f"/verify?key={key}", json.dumps(tokens).encode())
    held = ws.json_body(body) or {}
    todo = [(i, path, token) for i, (path, token) in enumerate(zip(files, tokens))
            if token not in held]
    lock = threading.Lock()
    total = len(files)
    counter = [0]

    def worker():
        while True:
            with lock:
                if not todo:
                    return
                _, path, token = todo.pop(0)
                counter[0] += 1
                cur = counter[0]
            with open(path, "rb") as f:
                data = f.read()
            elapsed = time.monotonic() - start
            target = (f"/import?key={key}&name={os.path.basename(path)}&vmd5={token}&cur={cur}"
                      f"&total={total}&speed=0&time={int(elapsed)}")
            status, _, answer = ws.http(port, "POST", target, data)
            assert status == 200 and b"ok" in answer, answer

    threads = [threading.Thread(target=worker) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    confirmed = ws.wait_for(lambda: len(ws.json_body(ws.http(
        port, "POST", f"/verify?key={key}", json.dumps(tokens).encode())[2]) or {}) == total,
        600, 0.2)
    assert confirmed, "phone upload not confirmed"
    return time.monotonic() - start


def browser_upload(vellumo, files, work):
    driver = ws.start_chromium(os.path.join(work, "profile"), phone=True)
    try:
        base = f"http://{ws.LAN_HOST}:{vellumo.port}/app"
        password = vellumo.value("pairing password")
        driver.get(base + "#pair=" + password)
        ok = ws.wait_for(lambda: driver.execute_script(
            "return document.body.dataset.ready === 'true' &&"
            " document.getElementById('pair-view').hidden"), 60, 0.1)
        assert ok, "browser did not pair"
        load = driver.execute_script(
            "return performance.getEntries().filter(e => 'transferSize' in e)"
            ".map(e => [e.name, e.transferSize])")
        first_load = sum(size for _, size in load)
        from selenium.webdriver.common.by import By
        start = time.monotonic()
        driver.find_element(By.ID, "photo-input").send_keys("\n".join(files))
        done = ws.wait_for(lambda: driver.execute_script(
            "return document.body.dataset.backup === 'finished'"), 1200, 0.1)
        seconds = time.monotonic() - start
        summary = driver.execute_script(
            "return document.getElementById('backup-summary').textContent")
        assert done and f"已备份 {len(files)} / {len(files)} 张" in summary, summary
        return seconds, first_load, load
    finally:
        driver.quit()


def fresh_vellumo(program, work, name):
    vellumo = ws.Vellumo(program, os.path.join(work, name))
    vellumo.start()
    return vellumo


def main():
    program, photos = sys.argv[1], sys.argv[2]
    files = sorted(os.path.join(photos, f) for f in os.listdir(photos) if f.endswith(".jpg"))
    mib = sum(os.path.getsize(f) for f in files) / (1 << 20)
    work = ws.make_temp("vellumo-bench-webapp-")
    times = {}
    try:
        for run, name in enumerate(["phone", "browser", "phone2"]):
            vellumo = fresh_vellumo(program, work, f"v{run}")
            try:
                if name == "browser":
                    times[name], first_load, entries = browser_upload(vellumo, files, work)
                else:
                    times[name] = phone_upload(vellumo, files)
            finally:
                vellumo.stop()
            print(f"webapp  {name:8s} {times[name]:.2f} s ({mib / times[name]:.0f} MiB/s)",
                  flush=True)
    finally:
        import shutil
        shutil.rmtree(work, ignore_errors=True)
    base = min(times["phone"], times["phone2"])
    ratio = base / times["browser"]
    print(f"webapp  {len(files)} photos, {mib:.0f} MiB: browser {mib / times['browser']:.0f} MiB/s, "
          f"scripted phone {mib / base:.0f} MiB/s, ratio {ratio:.2f} "
          f"(target >= 0.70: {'met' if ratio >= 0.7 else 'NOT MET'})")
    kib = first_load / 1024
    print(f"webapp  first page load {kib:.1f} KiB in {len(entries)} requests "
          f"(target < 200 KB: {'met' if first_load < 200000 else 'NOT MET'}, "
          f"ratio {200000 / max(first_load, 1):.2f})")
    return 0 if ratio >= 0.7 and first_load < 200000 else 1


if __name__ == "__main__":
    sys.exit(main())
