"""Headless browsers driven from Python's standard library, for the report's
browser test: Chromium through ChromeDriver (the W3C WebDriver protocol over
HTTP) and Firefox through Marionette, its built-in remote protocol (the one
geckodriver speaks: length-prefixed JSON over TCP, with the same WebDriver
commands). Only the calls the test needs.
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import time
import urllib.error
import urllib.request

WIDTH, HEIGHT = 1280, 900


class BrowserError(Exception):
    """What the browser answered to a command that failed (a script that threw, say)."""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def key_actions(text):
    """W3C key actions that type `text` (WebDriver key codes such as "\\ue007", Enter, allowed)."""
    actions = []
    for c in text:
        actions += [{"type": "keyDown", "value": c}, {"type": "keyUp", "value": c}]
    return {"actions": [{"type": "key", "id": "keyboard", "actions": actions}]}


def wait_until(what, attempt, seconds=30):
    deadline = time.monotonic() + seconds
    while True:
        try:
            return attempt()
        except OSError:
            if time.monotonic() > deadline:
                raise RuntimeError(f"{what} did not start within {seconds} s") from None
            time.sleep(0.1)


class Chromium:
    name = "Chromium"

    @staticmethod
    def find():
        binary = shutil.which("chromium") or shutil.which("chromium-browser")
        driver = shutil.which("chromedriver")
        return (binary, driver) if binary and driver else None

    def __init__(self, found, profile):
        binary, driver = found
        self.port = free_port()
        self.driver = subprocess.Popen([driver, f"--port={self.port}"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until("ChromeDriver", lambda: self._call("GET", "/status"))
        options = {"binary": binary,
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu", f"--window-size={WIDTH},{HEIGHT}",
                            f"--user-data-dir={profile}", "--no-first-run", "--disable-background-networking",
                            "--disable-component-update", "--disable-sync", "--disable-default-apps"]}
        caps = {"capabilities": {"alwaysMatch": {
            "browserName": "chrome", "goog:chromeOptions": options,
            "goog:loggingPrefs": {"performance": "ALL", "browser": "ALL"}}}}
        self.session = self._call("POST", "/session", caps)["sessionId"]

    def _call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as response:
                return json.load(response)["value"]
        except urllib.error.HTTPError as e:
            # WebDriver errors come as HTTP errors whose body says what went wrong.
            try:
                value = json.load(e)["value"]
                message = f"{value.get('error')}: {value.get('message', '').splitlines()[0]}"
            except (ValueError, KeyError, IndexError, AttributeError):
                message = str(e)
            raise BrowserError(f"{method} {path}: {message}") from None

    def _session(self, method, path, body=None):
        return self._call(method, f"/session/{self.session}{path}", body)

    def navigate(self, url):
        self._session("POST", "/se/log", {"type": "performance"})  # what loaded before is not the page's
        self._session("POST", "/url", {"url": url})

    def run(self, script, *args):
        return self._session("POST", "/execute/sync", {"script": script, "args": list(args)})

    def keys(self, text):
        self._session("POST", "/actions", key_actions(text))

    def screenshot(self):
        return base64.b64decode(self._session("GET", "/screenshot"))

    def requests(self, url):
        """The URLs the page at `url` asked for since navigate (data: URLs are not fetched, so not listed)."""
        sent = [m["params"] for m in (json.loads(e["message"])["message"]
                                      for e in self._session("POST", "/se/log", {"type": "performance"}))
                if m["method"] == "Network.requestWillBeSent"]
        # The page's requests share the loader of its own document; the
        # browser's start page loads its resources in another.
        loaders = {p.get("loaderId") for p in sent if p["request"]["url"] == url}
        return {p["request"]["url"] for p in sent
                if (p.get("loaderId") in loaders or p.get("documentURL") == url)
                and not p["request"]["url"].startswith("data:")}

    def errors(self):
        return [e["message"] for e in self._session("POST", "/se/log", {"type": "browser"})
                if e["level"] == "SEVERE"]

    def close(self):
        try:
            self._session("DELETE", "")
        finally:
            self.driver.terminate()
            self.driver.wait(10)


class Firefox:
    name = "Firefox"

    @staticmethod
    def find():
        return shutil.which("firefox-esr") or shutil.which("firefox")

    def __init__(self, binary, profile):
        os.makedirs(profile, exist_ok=True)
        port = free_port()
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            prefs.write(f'user_pref("marionette.port", {port});\n'
                        'user_pref("browser.shell.checkDefaultBrowser", false);\n'
                        'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                        'user_pref("app.update.disabledForTesting", true);\n')
        self.process = subprocess.Popen([binary, "--headless", "--marionette", "--no-remote", "--profile", profile],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.socket = wait_until("Firefox's Marionette", lambda: socket.create_connection(("127.0.0.1", port)))
        self.socket.settimeout(60)
        self.stream = self.socket.makefile("rb")
        self.id = 0
        self._read()  # the server's greeting
        self._command("WebDriver:NewSession", {"capabilities": {}})
        self._command("WebDriver:SetWindowRect", {"width": WIDTH, "height": HEIGHT})

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
        self._command("WebDriver:PerformActions", key_actions(text))

    def screenshot(self):
        return base64.b64decode(self._command("WebDriver:TakeScreenshot", {"full": False})["value"])

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
