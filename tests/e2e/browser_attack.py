#!/usr/bin/python3
"""A real browser on this PC visits hostile pages while the service runs.

Usage: browser_attack.py PORT PID
PORT is the service's port, PID a photo in its library. Pages of other origins (served by a
small HTTP server on 127.0.0.3, and on another port of localhost) try to read the device list
and the photo; a page whose host name resolves to 127.0.0.1 (as after DNS rebinding) tries the
same from the service's own port. Every attempt must come back empty-handed.

Nothing leaves the machine: the browser resolves "rebind.test" and "localhost" to 127.0.0.1,
keeps the two loopback addresses used here and resolves every other name to nothing. Exit status 0: all refused; 1: something was read; 77: no browser here.
"""

import functools
import http.server
import json
import shutil
import sys
import tempfile
import threading

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    print("python3-selenium is not installed")
    sys.exit(77)

ATTACK_PAGE = """<!doctype html>
<html><body><script>
async function attack(base, pid) {
  const result = {};
  // An image of another site: no Origin header, only fetch metadata.
  result.image = await new Promise(resolve => {
    const img = new Image();
    img.onload = () => resolve("loaded " + img.naturalWidth + "x" + img.naturalHeight);
    img.onerror = () => resolve("error");
    img.src = base + "/thumb/" + pid + "?w=100&h=100";
  });
  // Reads that CORS would have to allow.
  for (const path of ["/devices", "/exif/" + pid]) {
    try {
      const response = await fetch(base + path);
      result[path] = "read " + response.status + " " + (await response.text());
    } catch (e) {
      result[path] = "error";
    }
  }
  // A blind write: a form-like post without CORS.
  try {
    await fetch(base + "/import?name=planted.jpg", {method: "POST", mode: "no-cors",
                                                    body: "not a photo"});
    result.post = "sent";
  } catch (e) {
    result.post = "error";
  }
  return result;
}
</script></body></html>
"""

REBIND_SCRIPT = """
const done = arguments[arguments.length - 1];
(async () => {
  const result = {};
  for (const path of ["/devices", "/thumb/" + arguments[0] + "?w=100&h=100",
                      "/image/" + arguments[0]]) {
    try {
      const response = await fetch(path);
      const body = await response.arrayBuffer();
      result[path] = response.status + " " + body.byteLength;
    } catch (e) {
      result[path] = "error " + e;
    }
  }
  done(result);
})();
"""

CALL_ATTACK = """
const done = arguments[arguments.length - 1];
attack(arguments[0], arguments[1]).then(done, e => done({failed: String(e)}));
"""


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(folder, address):
    handler = functools.partial(Quiet, directory=folder)
    server = http.server.ThreadingHTTPServer((address, 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def browser(profile):
    chromium = shutil.which("chromium")
    driver = shutil.which("chromedriver")
    if not chromium or not driver:
        print("chromium or chromedriver is not installed")
        sys.exit(77)
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu",
                 "--disable-background-networking", "--disable-component-update",
                 "--no-first-run", "--disable-sync", "--disable-dev-shm-usage",
                 "--user-data-dir=" + profile,
                 "--disable-features=HttpsUpgrades,HttpsFirstBalancedModeAutoEnable",
                 "--host-resolver-rules=MAP rebind.test 127.0.0.1, MAP localhost 127.0.0.1, "
                 "EXCLUDE 127.0.0.1, EXCLUDE 127.0.0.3, MAP * ~NOTFOUND"]:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(driver), options=options)


def main():
    port, pid = int(sys.argv[1]), sys.argv[2]
    folder = tempfile.mkdtemp(prefix="vellumo-attack-")
    profile = tempfile.mkdtemp(prefix="vellumo-chromium-")
    with open(folder + "/attack.html", "w") as page:
        page.write(ATTACK_PAGE)
    elsewhere = serve(folder, "127.0.0.3")
    same_host = serve(folder, "127.0.0.1")
    failures = []
    driver = browser(profile)
    try:
        driver.set_script_timeout(30)
        driver.set_page_load_timeout(30)
        base = "http://127.0.0.1:%d" % port
        pages = {
            "another site": "http://127.0.0.3:%d/attack.html" % elsewhere.server_address[1],
            "another port of localhost": "http://localhost:%d/attack.html"
            % same_host.server_address[1],
        }
        for name, url in pages.items():
            driver.get(url)
            for target in [base, "http://localhost:%d" % port]:
                result = driver.execute_async_script(CALL_ATTACK, target, pid)
                print(name, target, json.dumps(result))
                if result.get("image") != "error":
                    failures.append("%s loaded the photo from %s: %s" % (name, target,
                                                                      result.get("image")))
                for path in ["/devices", "/exif/" + pid]:
                    if result.get(path, "").startswith("read 200"):
                        failures.append("%s read %s from %s" % (name, path, target))
        # The rebinding page: its own origin now points at the service.
        driver.get("http://rebind.test:%d/" % port)
        result = driver.execute_async_script(REBIND_SCRIPT, pid)
        print("rebinding", json.dumps(result))
        for path, outcome in result.items():
            if outcome.startswith("200"):
                failures.append("the rebinding page read %s: %s" % (path, outcome))
            elif not outcome.startswith("403"):
                failures.append("the rebinding page got no refusal for %s: %s" % (path, outcome))
    finally:
        driver.quit()
        elsewhere.shutdown()
        same_host.shutdown()
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(profile, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
