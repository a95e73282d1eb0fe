#!/usr/bin/python3
"""The console in a real browser: an administrator logs in, finds a user whom the filter denies on
the Today board, clicks +15, and that user's next request through a real Squid passes. Keeps a
screenshot of the board (before and after the click) as the test's artifact.

Run by ctest with Debian's python3 (python3-selenium), chromium and chromium-driver:
  browser_test.py BUILD_DIR SOURCE_DIR ARTIFACT_DIR
Ports of 127.0.0.1: 24128 (Squid), 24080 (nginx), 24090 (the console).
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

PROXY_PORT = 24128
WEB_PORT = 24080
CONSOLE_PORT = 24090
SITE = f"http://127.0.0.2:{WEB_PORT}/"
PASSWORD = "browser-test-1"


def run(argv, env, stdin=None):
    result = subprocess.run(argv, env=env, input=stdin, capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)} failed: {result.stdout}{result.stderr}")
    return result.stdout


def through_squid(user):
    """The status and the redirect of `user`'s request for the local site through Squid."""
    result = subprocess.run(
        ["curl", "-s", "-o", "/dev/null", "--max-time", "20", "-x", f"http://127.0.0.1:{PROXY_PORT}",
         "-U", f"{user}:pw", "-w", "%{http_code} %{redirect_url}", SITE],
        capture_output=True, text=True, timeout=30)
    return result.stdout.strip()


def wait_until(what, check, seconds=20):
    deadline = time.monotonic() + seconds
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.1)


def main():
    build, source, artifacts = sys.argv[1:4]
    os.makedirs(artifacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="minutrix-browser-")
    machine = os.path.join(work, "machine")
    env = dict(os.environ, MINUTRIX_ROOT=machine)
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy"):
        env.pop(name, None)
    stack = os.path.join(source, "scripts", "minutrix-stack")
    db_tool = os.path.join(build, "minutrix-db")
    console = None
    driver = None
    stack_started = False
    try:
        # A machine with the filter registered, as the Squid end-to-end tests make it.
        tool = os.path.join(build, "minutrix-machine")
        run([tool, "init", machine], env)
        product = os.path.join(machine, "c", "Minutrix")
        os.makedirs(os.path.join(product, "UserTimesDB"))
        shutil.copy(os.path.join(build, "Minutrix.dll"), product)
        db = os.path.join(product, "UserTimesDB", "UserTimesDB.mdb")
        run([db_tool, "create", db], env)
        run([db_tool, "set", db, "ServerPort", str(WEB_PORT)], env)
        run([db_tool, "add-user", db, "kim", "5"], env)
        run([db_tool, "set-used", db, "kim", "5"], env)
        run([db_tool, "add-user", db, "anna", "60"], env)
        run([tool, "reg", "add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d",
             "c:\\Minutrix\\", "/f"], env)
        filters = "HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters"
        run([tool, "reg", "add", filters, "/v", "FilterLoadOrder", "/d", "Minutrix", "/f"], env)
        run([tool, "reg", "add", filters + "\\Minutrix", "/v", "FilterPath", "/d",
             "c:\\Minutrix\\Minutrix.dll", "/f"], env)
        htpasswd = os.path.join(work, "htpasswd")
        run(["htpasswd", "-bc", htpasswd, "kim", "pw"], env)
        run([stack, "start", work, "--build", build, "--proxy-port", str(PROXY_PORT),
             "--web-port", str(WEB_PORT)], env)
        stack_started = True
        denied = through_squid("kim")
        assert denied.startswith("302 ") and "TimeLeft=0" in denied, f"kim not denied: {denied}"

        run([os.path.join(build, "minutrix-admin"), "passwd", "admin"], env, stdin=PASSWORD + "\n")
        console = subprocess.Popen(
            [os.path.join(build, "minutrix-admin"), "serve", "--listen",
             f"127.0.0.1:{CONSOLE_PORT}"],
            env=env, stdout=subprocess.PIPE, stderr=open(os.path.join(work, "console.err"), "w"),
            text=True, start_new_session=True)
        line = console.stdout.readline()
        assert line.startswith("Listening on"), f"console did not start: {line}"
        base = f"http://127.0.0.1:{CONSOLE_PORT}"

        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-proxy-server",
                         "--window-size=1280,900", "--disable-dev-shm-usage"):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.set_page_load_timeout(30)
        driver.get(base + "/today")
        wait_until("the login page", lambda: "/login" in driver.current_url)
        driver.find_element(By.NAME, "user").send_keys("admin")
        driver.find_element(By.NAME, "password").send_keys(PASSWORD)
        driver.find_element(By.CSS_SELECTOR, "form[action='/login'] button").click()
        wait_until("the board", lambda: driver.current_url.endswith("/today"))
        # The script has refreshed the board from the API once it marks the page as loaded.
        # The script redraws the rows whenever figures come in: an element found before a redraw
        # is stale after it, so every wait looks the row up again.
        wait = WebDriverWait(driver, 20, ignored_exceptions=[StaleElementReferenceException])
        wait.until(lambda d: d.find_element(By.ID, "main").get_attribute("data-loaded"))
        wait.until(lambda d: "state-out-of-time" in d.find_element(
            By.CSS_SELECTOR, "tr[data-user='KIM']").get_attribute("class"))
        driver.find_element(By.ID, "reason").send_keys("Finishing the lesson")
        driver.save_screenshot(os.path.join(artifacts, "today-board-before.png"))
        wait.until(lambda d: d.find_element(
            By.CSS_SELECTOR, "tr[data-user='KIM'] form.minutes[data-add='15'] button").click()
            or True)
        wait.until(lambda d: d.find_element(
            By.CSS_SELECTOR, "tr[data-user='KIM'] td.left").text == "15")
        status = driver.find_element(By.ID, "status").text
        assert "KIM" in status, status
        wait.until(lambda d: "state-idle" in d.find_element(
            By.CSS_SELECTOR, "tr[data-user='KIM']").get_attribute("class"))
        driver.save_screenshot(os.path.join(artifacts, "today-board.png"))

        passed = wait_until("kim's request to pass", lambda: through_squid("kim").startswith("200"))
        print("kim through Squid after +15:", passed)
        audit = run([db_tool, "users", db], env)
        print(audit)
        print("screenshots:", os.path.join(artifacts, "today-board-before.png"),
              os.path.join(artifacts, "today-board.png"))
        return 0
    finally:
        if driver is not None:
            driver.quit()
        if console is not None:
            os.killpg(console.pid, signal.SIGTERM)
            try:
                console.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(console.pid, signal.SIGKILL)
                console.wait()
        if stack_started:
            subprocess.run([stack, "stop", work], env=env, timeout=60)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
