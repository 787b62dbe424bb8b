#!/usr/bin/python3
"""Takes the README's screenshots by going through "Try it" against a running `make run`:
the demo page, Notepad with the working copy of 회의록.txt (a line typed into it), the check-in
dialog with a note, and the page again with the new version.

    docs/make_screenshots.py PAGE_URL        # the address make run printed

It changes make run's data like a user would (회의록.txt gets version 1.1); delete build/run/data
to start again from the demo documents. Wine windows are taken whole with `uidriver screenshot`
and the page whole, however long, with headless Chromium; scripts/bmp2png makes small PNGs of
both.
"""
import asyncio
import base64
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))

from browser_fixtures import Chromium, chromium_path, click_in_row, connect_page, open_page  # noqa: E402
from conftest import uidriver  # noqa: E402

IMAGES = HERE / "images"
NOTEPAD = "회의록(DEMO-4).txt - Notepad"
EDIT_CONTROL, SAVE_COMMAND = 0, 0x102  # Notepad's edit control and File > Save
CHECKIN, NOTE, OK = "Checkin", 1007, 1
LINE = "결정: 보고서 초안은 금요일까지 공유합니다.\r"
NOTE_TEXT = "Added the decision on the report draft"
PAGE_WIDTH = 1100


def window_png(title, name):
    with tempfile.TemporaryDirectory() as tmp:
        bmp = Path(tmp) / "shot.bmp"
        uidriver("screenshot", title, bmp, timeout_ms=30000)
        subprocess.run([str(HERE.parent / "scripts" / "bmp2png"), str(bmp), str(IMAGES / name)], check=True)


async def page_png(page, name):
    """The whole page, down to the last of its replies: the viewport is made as tall as the page,
    which then needs no scroll bar and may wrap fewer lines (the height is measured again)."""
    height = 0
    for _ in range(5):
        needed = await page.evaluate("Math.ceil(document.documentElement.getBoundingClientRect().height)")
        if needed == height:
            break
        height = needed
        await page.call("Emulation.setDeviceMetricsOverride", width=PAGE_WIDTH, height=height,
                        deviceScaleFactor=1, mobile=False)
    shot = await page.call("Page.captureScreenshot", format="png")
    with tempfile.TemporaryDirectory() as tmp:
        png = Path(tmp) / "page.png"
        png.write_bytes(base64.b64decode(shot["data"]))
        subprocess.run([str(HERE.parent / "scripts" / "bmp2png"), str(png), str(IMAGES / name)], check=True)


def log_has(word):
    return f"[...document.querySelectorAll('#log li')].some(li => li.textContent === 'CHECKOUT: {word}')"


async def ui(*args):
    return await asyncio.to_thread(uidriver, *args, timeout_ms=60000)


async def tour(browser, url):
    async with open_page(browser) as page:
        await page.call("Emulation.setDeviceMetricsOverride", width=PAGE_WIDTH, height=620, deviceScaleFactor=1,
                        mobile=False)
        await connect_page(page, url)
        assert await click_in_row(page, "DEMO-4", "Edit"), "no enabled Edit button for 회의록.txt"
        assert await page.wait_for(log_has("CHECKOUT_SUCCESS"), 120), "the check-out did not succeed"
        await ui("wait-window", NOTEPAD)
        await ui("type", NOTEPAD, EDIT_CONTROL, LINE)
        await asyncio.to_thread(window_png, NOTEPAD, "notepad.png")
        await page_png(page, "page-checked-out.png")
        await ui("command", NOTEPAD, SAVE_COMMAND)
        await ui("close", NOTEPAD)
        await ui("wait-window", CHECKIN)
        await ui("type", CHECKIN, NOTE, NOTE_TEXT)
        await asyncio.to_thread(window_png, CHECKIN, "checkin.png")
        await ui("click", CHECKIN, OK)
        assert await page.wait_for(log_has("CHECKIN_SUCCESS"), 120), "the check-in did not succeed"
        await asyncio.sleep(1)
        await page_png(page, "page.png")


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__.strip())
    IMAGES.mkdir(exist_ok=True)
    browser = Chromium(chromium_path() or sys.exit("no Chromium")).start()
    try:
        asyncio.run(asyncio.wait_for(tour(browser, sys.argv[1]), 600))
    finally:
        browser.stop()
    for image in sorted(IMAGES.glob("*.png")):
        print(f"{image.relative_to(HERE.parent)}: {image.stat().st_size // 1024} KiB")


if __name__ == "__main__":
    main()
