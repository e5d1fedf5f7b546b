#!/usr/bin/env python3
"""The browser app in a real browser against the real vellumo: a phone-sized headless chromium
reaches the PC under a LAN name through a relay from another address, pairs, backs up 20
photos, finds them in the time line, and sends nothing the second time."""

import argparse
import calendar
import os
import shutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import webapp_support as ws  # noqa: E402

SKIP = 77
HTML_NAME = "<img/src=x/onerror=document.body.dataset.pwned=1>"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def js(driver, script, *args):
    return driver.execute_script(script, *args)


def wait_js(driver, script, timeout, message):
    value = ws.wait_for(lambda: js(driver, script), timeout, 0.1)
    check(value, message + " (timed out)")
    return value


def make_photos(tool, folder, count):
    lines = subprocess.run([tool, folder, str(count)], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    photos = []
    for line in lines:
        path, date = line.split(" ", 1)
        seconds = calendar.timegm(time.strptime(date, "%Y:%m:%d %H:%M:%S"))
        photos.append((path, date, seconds))
    return photos


def pair_other_phone(port, password):
    """A second phone whose name is markup, paired and holding one photo of its own."""
    status, _, body = ws.http(port, "GET", f"/auth?key=other-phone&passwd={password}&type=1"
                                           f"&modal={HTML_NAME}")
    check(status == 200 and ws.json_body(body)["status"] == "ok", f"other phone: {body!r}")


def console_errors(driver, allowed=()):
    errors = [e for e in ws.severe_logs(driver)
              if not any(a in e.get("message", "") for a in allowed)]
    return errors


def run(args, work):
    vellumo = ws.Vellumo(args.vellumo, os.path.join(work, "vellumo"))
    vellumo.start()
    relay = None
    driver = None
    try:
        password = vellumo.value("pairing password")
        link = vellumo.value("web app pairing link")
        check(password, "no pairing password printed")
        relay = ws.Relay(vellumo.port)
        base = f"http://{ws.LAN_HOST}:{relay.port}"
        photos = make_photos(args.photos_tool, os.path.join(work, "photos"), 20)

        # Without a key the browser gets the page but nothing of the library.
        status, headers, _ = ws.http(vellumo.port, "GET", "/app")
        check(status == 200 and "script-src 'self'" in headers.get("content-security-policy", ""),
              f"/app for a stranger: {status} {headers}")
        check(ws.http(vellumo.port, "GET", "/devices")[0] == 403, "/devices without a key")
        pair_other_phone(vellumo.port, password)

        driver = ws.start_chromium(os.path.join(work, "profile"))
        driver.set_page_load_timeout(60)
        driver.get(base + "/app")
        wait_js(driver, "return document.body.dataset.ready === 'true'", 30, "page never ready")
        check(js(driver, "return window.innerWidth") <= 400, "not a phone-sized viewport")
        check(js(driver, "return window.isSecureContext") is False,
              "the test page must not be a secure context, as a phone's is not")
        check(not js(driver, "return document.getElementById('pair-view').hidden"),
              "pairing form not shown first")
        check(js(driver, "return document.getElementById('pair-name').value") == "Chrome-Android",
              "browser name")
        check(console_errors(driver) == [], f"console errors on load: {console_errors(driver)}")

        check_page_helpers(driver)

        # A wrong password is refused and leaves the browser unpaired.
        js(driver, "document.getElementById('pair-password').value = arguments[0];"
                   "document.getElementById('pair-button').click();", "x" + password)
        wait_js(driver, "return document.getElementById('pair-status').className.includes('error')",
                30, "wrong password not refused")
        check(not js(driver, "return document.getElementById('pair-view').hidden"),
              "a wrong password paired")
        # The refusal itself is the only error the browser logs.
        check(console_errors(driver, allowed=["/auth?"]) == [], "errors after the wrong password")

        # The right one pairs; the password is kept nowhere.
        js(driver, "document.getElementById('pair-password').value = arguments[0];"
                   "document.getElementById('pair-button').click();", password)
        wait_js(driver, "return document.getElementById('pair-view').hidden", 30, "pairing failed")
        stored = js(driver, "return JSON.stringify(Object.entries(localStorage))")
        check(password not in stored and "web" in stored, f"local storage holds {stored}")
        check(js(driver, "return document.getElementById('pair-password').value") == "",
              "password left in the form")

        # Pairing again through the one-scan link: the fragment pairs and is taken off the URL.
        check(link.startswith("http://") and link.endswith("/app#pair=" + password) or not link,
              f"pairing link {link!r}")
        js(driver, "document.getElementById('unpair-button').click()")
        driver.get(base + "/app#pair=" + password)
        wait_js(driver, "return document.body.dataset.ready === 'true' && "
                        "document.getElementById('pair-view').hidden", 30, "link did not pair")
        check("#" not in driver.current_url, f"fragment left in {driver.current_url}")
        key = js(driver, "return localStorage.getItem('vellumo.deviceKey')")

        # Back up 20 photos; two uploads lose their connection and are sent again.
        check(console_errors(driver) == [], "console errors before the backup")
        relay.drop_uploads = 2
        upload_photos(driver, [p[0] for p in photos])
        summary = wait_backup(driver, 240)
        check("已备份 20 / 20 张" in summary and "失败" not in summary, f"summary {summary!r}")
        check_counters(relay.requests(), dropped=2)
        lost = console_errors(driver, allowed=["/import?"])
        check(lost == [], f"console errors beyond the two lost uploads: {lost}")
        # The PC holds every token the page made, computed here independently.
        tokens = [ws.photo_token(path, seconds) for path, _, seconds in photos]
        status, _, body = ws.http(vellumo.port, "POST", f"/verify?key={key}",
                                  ws.json.dumps(tokens).encode())
        known = ws.json_body(body)
        check(status == 200 and isinstance(known, dict) and set(known) == set(tokens),
              f"/verify after the backup: {body[:300]!r}")
        status, _, body = ws.http(vellumo.port, "GET", f"/devices?key={key}")
        devices = ws.json_body(body)
        check(len(devices.get(key, {}).get("imgs", [])) == 20, f"devices: {devices}")

        # The time line: newest year first with 18 photos on three days, then 2019 with two.
        js(driver, "document.getElementById('tab-browse').click()")
        wait_js(driver, "return document.querySelectorAll('#timeline .grid button').length === 18",
                60, "time line of 2021")
        days = js(driver, "return Array.from(document.querySelectorAll('#timeline h4'),"
                          " h => h.textContent)")
        check(days == ["7月20日 · 6 张", "3月9日 · 6 张", "3月5日 · 6 张"], f"days {days}")
        wait_js(driver, "const i = document.querySelector('#timeline img');"
                        "return i && i.complete && i.naturalWidth > 0", 30, "thumbnail not shown")
        years = js(driver, "return Array.from(document.querySelectorAll('#year-list button'),"
                           " b => b.textContent)")
        check(years == ["2021年", "2019年"], f"years {years}")
        # Names from the library are text: the markup-named phone shows its name verbatim.
        chips = js(driver, "return Array.from(document.querySelectorAll('#device-list .device'),"
                           " c => c.textContent)")
        check(any(HTML_NAME in c for c in chips), f"device names {chips}")
        check(any("Chrome-Android · 20 张" in c for c in chips), f"device names {chips}")
        check(js(driver, "return document.querySelectorAll('#device-list *').length") == len(chips),
              "markup from a device name became elements")
        check(js(driver, "return document.body.dataset.pwned") is None, "markup ran")

        js(driver, "document.querySelector('#year-list button:last-child').click()")
        wait_js(driver, "return document.querySelectorAll('#timeline .grid button').length === 2"
                        " && document.querySelector('#timeline h3').textContent === '2019年12月'",
                30, "time line of 2019")

        # Full view and details.
        js(driver, "document.querySelector('#timeline .grid button').click()")
        wait_js(driver, "const i = document.getElementById('viewer-image');"
                        "return !document.getElementById('viewer').hidden && i.complete"
                        " && i.naturalWidth === 320", 30, "full view")
        js(driver, "document.getElementById('viewer-info').click()")
        exif = wait_js(driver, "const t = document.getElementById('viewer-exif');"
                               "return !t.hidden && t.textContent", 30, "details")
        check("相机型号Test Camera" in exif and "拍摄时间2019/12/31 10:00:0" in exif,
              f"details {exif[:200]!r}")
        js(driver, "document.getElementById('viewer-close').click()")

        # The same photos again: the PC has them all, so no photo crosses the network.
        js(driver, "document.getElementById('tab-backup').click()")
        before = len(relay.requests())
        upload_photos(driver, [p[0] for p in photos])
        summary = wait_backup(driver, 120)
        check("已备份 20 / 20 张（其中 20 张电脑上已有）" in summary, f"second summary {summary!r}")
        # Each photo is only reported, with an empty body, as a phone reports photos the PC has.
        imports = [h for h in relay.requests()[before:] if h.startswith("POST /import?")]
        check(len(imports) == 20 and all("\r\nContent-Length: 0" in h for h in imports),
              f"second run sent {imports}")
        status, _, body = ws.http(vellumo.port, "GET", f"/devices?key={key}")
        check(len(ws.json_body(body)[key]["imgs"]) == 20, "photos added twice")

        check(console_errors(driver) == [], f"console errors: {console_errors(driver)}")
    finally:
        if driver is not None:
            driver.quit()
        if relay is not None:
            relay.close()
        code = vellumo.stop()
    check(code == 0, f"vellumo ended with {code}: {vellumo.errors()[-2000:]}")
    # The library is consistent, with the 20 photos and the other phone's none.
    result = subprocess.run([args.cli, "check", "--root", vellumo.root()], capture_output=True,
                            text=True, env=vellumo.environment())
    check(result.returncode == 0, f"vellumo-cli check: {result.stdout}{result.stderr}")


def check_page_helpers(driver):
    """The page's own MD5, fed in uneven pieces, against Python's; and the query escaping that
    decides what reaches the PC unchanged."""
    results = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        Promise.all([import('/app/md5.js'), import('/app/api.js')]).then(([m, api]) => {
          const bytes = new Uint8Array(300000);
          for (let i = 0; i < bytes.length; i++) bytes[i] = (i * 31 + 7) & 255;
          const md5 = new m.Md5();
          for (let at = 0, step = 1; at < bytes.length; at += step, step = (step * 3) % 997 + 1)
            md5.update(bytes.subarray(at, at + step));
          done([md5.hex(), ...[0, 55, 56, 63, 64, 65, 119, 120].map(
                  (n) => m.md5Hex(bytes.subarray(0, n))),
                api.queryValue('a b&c#d%e<f>\\'g"\u5bc6+=/'),
                api.sendsVerbatim('Abc-123_.!~*()+=%'), api.sendsVerbatim('a b'),
                api.sendsVerbatim('\u5bc6')]);
        }, (e) => done(String(e)));
    """)
    data = bytes((i * 31 + 7) & 255 for i in range(300000))
    expected = [ws.hashlib.md5(data).hexdigest()] + [
        ws.hashlib.md5(data[:n]).hexdigest() for n in (0, 55, 56, 63, 64, 65, 119, 120)]
    check(results[:9] == expected, f"page MD5 {results[:9]} != {expected}")
    check(results[9] == "a%20b%26c%23d%e%3Cf%3E%27g%22%E5%AF%86+=/", f"query text {results[9]}")
    check(results[10:] == [True, False, False], f"verbatim checks {results[10:]}")


def check_counters(heads, dropped):
    """One "/import" per photo with the run's counters, a lost one again with its number; the
    last number goes out last, so the PC sees the run end only when every other photo has
    arrived."""
    imports = [h.split(" ")[1] for h in heads if h.startswith("POST /import?")]
    queries = [dict(p.split("=", 1) for p in target.split("?", 1)[1].split("&"))
               for target in imports]
    check(len(queries) == 20 + dropped, f"{len(queries)} uploads for 20 photos")
    check(sorted({int(q["cur"]) for q in queries}) == list(range(1, 21)), "numbers of the run")
    check(all(q["total"] == "20" and q["key"].startswith("web") for q in queries), "run counters")
    check(int(queries[-1]["cur"]) == 20, "the run's last photo was not sent last")
    check({q["name"] for q in queries} == {f"IMG_{i:04d}.jpg" for i in range(1, 21)}, "names")
    check(all(q["speed"].isdigit() and q["time"].isdigit() for q in queries), "speed and time")


def upload_photos(driver, paths):
    from selenium.webdriver.common.by import By
    driver.find_element(By.ID, "photo-input").send_keys("\n".join(paths))


def wait_backup(driver, timeout):
    wait_js(driver, "return document.body.dataset.backup === 'finished'", timeout,
            "backup did not finish")
    return js(driver, "return document.getElementById('backup-summary').textContent")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vellumo", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--photos-tool", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("SKIP: python3-selenium is not installed (tools/deps/webapp.test)")
        return SKIP
    if not (shutil.which("chromium") and shutil.which("chromedriver")):
        print("SKIP: chromium and chromium-driver are not installed (tools/deps/webapp.test)")
        return SKIP
    work = ws.make_temp("vellumo-webapp-")
    try:
        run(args, work)
        print("PASS: paired, backed up 20 photos, browsed them, sent nothing twice")
        return 0
    except Exception as e:  # noqa: BLE001
        traceback.print_exc()
        print(f"FAIL: {e}")
        return 1
    finally:
        if args.keep:
            print("work folder:", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
