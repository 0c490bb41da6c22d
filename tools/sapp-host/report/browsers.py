"""Headless browsers for the report's browser test, behind one small interface
(navigate, run a script, type keys, take a screenshot, size the window, read
the network and the console where the browser lets a client do so, close):

- Chromium through ChromeDriver, driven by Selenium (Debian: chromium,
  chromium-driver, python3-selenium);
- Firefox through Marionette, its built-in remote protocol (length-prefixed
  JSON over TCP, with the WebDriver commands): Debian has no geckodriver for
  Selenium to drive, so this client is ours, the few commands the test needs.
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import time

WIDTH, HEIGHT = 1280, 900


class BrowserError(Exception):
    """What the browser answered to a command that failed (a script that threw, say)."""


class Chromium:
    name = "Chromium"
    hint = "Chromium, ChromeDriver and Selenium (Debian: apt-get install chromium chromium-driver python3-selenium)."

    @staticmethod
    def find():
        binary = shutil.which("chromium") or shutil.which("chromium-browser")
        driver = shutil.which("chromedriver")
        try:
            import selenium  # noqa: F401
        except ImportError:
            return None
        return (binary, driver) if binary and driver else None

    def __init__(self, found, profile):
        from selenium import webdriver
        from selenium.common.exceptions import WebDriverException
        from selenium.webdriver.chrome.service import Service
        binary, driver = found
        self.error = WebDriverException
        options = webdriver.ChromeOptions()
        options.binary_location = binary
        for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", f"--window-size={WIDTH},{HEIGHT}",
                    f"--user-data-dir={profile}", "--no-first-run", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--disable-default-apps"]:
            options.add_argument(arg)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service(driver), options=options)

    def _call(self, command):
        try:
            return command()
        except self.error as e:
            raise BrowserError((e.msg or str(e)).splitlines()[0]) from None

    def navigate(self, url):
        self.driver.get_log("performance")  # what loaded before is not the page's
        self._call(lambda: self.driver.get(url))

    def run(self, script, *args):
        return self._call(lambda: self.driver.execute_script(script, *args))

    def keys(self, text):
        from selenium.webdriver.common.action_chains import ActionChains
        self._call(lambda: ActionChains(self.driver).send_keys(text).perform())

    def screenshot(self, element_id=None):
        if element_id:
            return self._call(lambda: self.driver.find_element("id", element_id).screenshot_as_png)
        return self.driver.get_screenshot_as_png()

    def resize(self, width=WIDTH, height=HEIGHT):
        self.driver.set_window_size(width, height)

    def requests(self, url):
        """The URLs the page at `url` asked for since navigate (data: URLs are not fetched, so not listed)."""
        sent = [m["params"] for m in (json.loads(e["message"])["message"] for e in self.driver.get_log("performance"))
                if m["method"] == "Network.requestWillBeSent"]
        # The page's requests share the loader of its own document; the
        # browser's start page loads its resources in another.
        loaders = {p.get("loaderId") for p in sent if p["request"]["url"] == url}
        return {p["request"]["url"] for p in sent
                if (p.get("loaderId") in loaders or p.get("documentURL") == url)
                and not p["request"]["url"].startswith("data:")}

    def errors(self):
        return [e["message"] for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]

    def close(self):
        self.driver.quit()


class Firefox:
    name = "Firefox"
    hint = "Firefox (Debian: apt-get install firefox-esr)."

    @staticmethod
    def find():
        return shutil.which("firefox-esr") or shutil.which("firefox")

    def __init__(self, binary, profile):
        os.makedirs(profile, exist_ok=True)
        with socket.socket() as s:  # a free port for Marionette
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            prefs.write(f'user_pref("marionette.port", {port});\n'
                        'user_pref("browser.shell.checkDefaultBrowser", false);\n'
                        'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                        'user_pref("app.update.disabledForTesting", true);\n')
        self.process = subprocess.Popen([binary, "--headless", "--marionette", "--no-remote", "--profile", profile],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while True:
            try:
                self.socket = socket.create_connection(("127.0.0.1", port))
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("Firefox's Marionette did not start within 30 s") from None
                time.sleep(0.1)
        self.socket.settimeout(60)
        self.stream = self.socket.makefile("rb")
        self.id = 0
        self._read()  # the server's greeting
        self._command("WebDriver:NewSession", {"capabilities": {}})
        self.resize()

    def _read(self):
        length = b""
        while (c := self.stream.read(1)) != b":":
            if not c:
                raise BrowserError("Firefox closed the connection")
            length += c
        return json.loads(self.stream.read(int(length)))

    def _command(self, name, params):
        self.id += 1
        data = json.dumps([0, self.id, name, params]).encode()
        self.socket.sendall(str(len(data)).encode() + b":" + data)
        _, _, error, result = self._read()
        if error:
            raise BrowserError(f"{name}: {error.get('error')}: {error.get('message', '').splitlines()[0]}")
        return result

    def navigate(self, url):
        self._command("WebDriver:Navigate", {"url": url})

    def run(self, script, *args):
        return self._command("WebDriver:ExecuteScript", {"script": script, "args": list(args)})["value"]

    def keys(self, text):
        actions = [{"type": t, "value": c} for c in text for t in ("keyDown", "keyUp")]
        self._command("WebDriver:PerformActions", {"actions": [{"type": "key", "id": "keyboard", "actions": actions}]})
        self._command("WebDriver:ReleaseActions", {})

    def screenshot(self, element_id=None):
        params = {"full": False}
        if element_id:
            element = self._command("WebDriver:FindElement", {"using": "css selector", "value": "#" + element_id})
            params = {"id": element["value"][next(iter(element["value"]))]}
        return base64.b64decode(self._command("WebDriver:TakeScreenshot", params)["value"])

    def resize(self, width=WIDTH, height=HEIGHT):
        self._command("WebDriver:SetWindowRect", {"width": width, "height": height})

    def requests(self, url):
        return None  # Marionette does not show the network; the page's own resource list must do

    def errors(self):
        return None  # nor the console

    def close(self):
        try:
            self._command("WebDriver:DeleteSession", {})
        finally:
            self.socket.close()
            self.process.terminate()
            self.process.wait(10)


BROWSERS = {"chromium": Chromium, "firefox": Firefox}
