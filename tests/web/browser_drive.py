#!/usr/bin/python3
"""Drives the search page in headless Chromium: types words, waits for the live
result, sorts by size, reads the rows back and checks them against the JSON API, shows
a hostile name as text, and saves a screenshot.

usage: browser_drive.py PORT SCREENSHOT.png
Exit status 0 when every check held; the failed check on standard error otherwise."""
import json
import shutil
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def api(port, query):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/api/search?{query}", timeout=30) as r:
        return json.loads(r.read().decode("utf-8"))


def table(driver):
    return [[td.text for td in tr.find_elements(By.TAG_NAME, "td")]
            for tr in driver.find_elements(By.CSS_SELECTOR, "#rows tr")]


def main():
    port, shot = sys.argv[1], sys.argv[2]
    profile = tempfile.mkdtemp(prefix="dt-chromium-")
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run",
              "--disable-dev-shm-usage", "--window-size=1400,1000", "--user-data-dir=" + profile):
        options.add_argument(a)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.set_page_load_timeout(30)
        wait = WebDriverWait(driver, 20)
        driver.get(f"http://127.0.0.1:{port}/")
        # The computers and their last scans come first.
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#computer-rows tr")) == 3)
        names = [r.find_elements(By.TAG_NAME, "td")[0].text
                 for r in driver.find_elements(By.CSS_SELECTOR, "#computer-rows tr")]
        check(names == ["ALPHA", "BETA", "<b>GAMMA</b>"], f"computer list {names}")
        # No token is set: the page does not ask for one.
        check(not driver.find_element(By.ID, "tokenform").is_displayed(), "the token form shows")

        q = driver.find_element(By.ID, "q")
        # Two characters are no search yet.
        q.send_keys("pa")
        time.sleep(0.6)
        check(table(driver) == [], "a search ran for two characters")
        # The rest of the word: the result comes without Enter.
        q.send_keys("ge_")
        status = driver.find_element(By.ID, "status")
        wait.until(lambda d: status.text.startswith("250 files"))
        check(len(table(driver)) == 100, "the first page holds 100 rows")

        driver.find_element(By.CSS_SELECTOR, 'th[data-sort="size"]').click()
        wait.until(lambda d: "sorted-asc" in d.find_element(By.CSS_SELECTOR, 'th[data-sort="size"]')
                   .get_attribute("class") and not status.text.startswith("searching"))
        rows = table(driver)
        expected = api(port, "q=page_&sort=size&limit=100")["rows"]
        check(len(rows) == 100, f"{len(rows)} rows after sorting")
        sizes = [int(r[5].replace(",", "")) for r in rows]
        check(sizes == sorted(sizes), "sizes are not ascending")
        check([r[0] for r in rows] == [e["name"] for e in expected], "names differ from the API's")
        check([r[6] for r in rows] == [e["computer"] for e in expected], "computers differ from the API's")
        check([int(r[5].replace(",", "")) for r in rows] == [e["size"] for e in expected],
              "sizes differ from the API's")
        # The next page continues where the first ended.
        driver.find_element(By.ID, "next").click()
        wait.until(lambda d: "showing 101 to 200" in status.text)
        second = table(driver)
        expected2 = api(port, "q=page_&sort=size&limit=100&offset=100")["rows"]
        check([r[0] for r in second] == [e["name"] for e in expected2], "second page differs")
        driver.find_element(By.ID, "prev").click()
        wait.until(lambda d: "showing 1 to 100" in status.text)
        driver.execute_script("window.scrollTo(0, 0)")
        driver.save_screenshot(shot)
        print(json.dumps({"first_rows": rows[:5]}))

        # A name that is markup shows as text and runs nothing.
        q.clear()
        q.send_keys("onerror")
        wait.until(lambda d: status.text.startswith("1 files"))
        cells = table(driver)
        check(cells[0][0] == "<img src=x onerror=alert(1)>.html", f"hostile name shown as {cells[0][0]!r}")
        check(len(driver.find_elements(By.CSS_SELECTOR, "#rows img")) == 0, "the name became an element")
        check(driver.execute_script("return document.querySelectorAll('img').length") == 0, "an image appeared")
        return 0
    except (AssertionError, TimeoutException) as e:
        print(f"browser check failed: {e}", file=sys.stderr)
        try:
            driver.save_screenshot(shot)
        except Exception:
            pass
        return 1
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
