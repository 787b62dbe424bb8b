"""The agent's downloads under Wine, driven like a user: the page queues items and sends
DO_DOWNLOAD, the multi-file window fetches them from devserver; the page sends VIEW and a
read-only copy opens in a stand-in editor. Screenshots of the multi-file window go to
build/screenshots/download_<language>.bmp."""
import asyncio
import json
import os
import struct
import subprocess
import time

import pytest

from conftest import EXIT_COMMAND, ROOT, WINE, WINDOWS_BIN, reg_get, request, run, session, uidriver, wait_until, windows_path
from runner_fixtures import KEEP, adaptor, editors  # noqa: F401

DOWNLOAD = {1033: "Download", 1042: "다운로드"}
LIST, FOLDER, START, CLOSE_AFTER, COUNTDOWN, START_AUTO = 1001, 1002, 1003, 1006, 1007, 1008
CANCEL = 2
ABORTED = {1033: "Aborted by user.", 1042: "사용자가 중단했습니다."}
QUIET = 6  # seconds in which a second run, if there were one, would have begun


@pytest.fixture
def folder(tmp_path):
    d = tmp_path / "download"
    d.mkdir()
    return d


@pytest.fixture
def agent_in(write_config, start_agent, folder, tmp_path):
    """agent_in(language, **config): an agent whose DownloadFolder is `folder`."""

    def start(language=1033, **overrides):
        values = {"LanguageID": language, "DownloadFolder": windows_path(folder),
                  "WorkFolder": windows_path(tmp_path / "work")}
        values.update(overrides)
        write_config(**values)
        return start_agent()

    return start


def add_document(adaptor, name, text=None, size=None):
    version = {"version": "1.0", **({"size": size} if size is not None else {"text": text})}
    oid = "D-" + os.urandom(4).hex()
    status, out = adaptor.admin("POST", "/_admin/documents",
                                {"object": oid, "page": "P1", "name": name, "versions": [version]})
    assert status == 200, out
    return oid


async def send(ws, arg1, arg2=""):
    await ws.send(json.dumps({"arg1": arg1, "arg2": arg2}))


async def ui(*args, timeout_ms=30000, check=True):
    return await asyncio.to_thread(uidriver, *args, timeout_ms=timeout_ms, check=check)


def rows(title):
    return [line.split("\t") for line in uidriver("rows", title, LIST, timeout_ms=30000)]


def wait_rows(title, done, timeout=90):
    """Polls the window's rows until `done(rows)` holds; returns the last rows seen."""
    seen = []

    def check():
        seen[:] = rows(title)
        return done(seen)

    assert wait_until(check, timeout, interval=0.5), f"rows stayed {seen}"
    return seen


def percent(cell):
    """The number of a progress cell (" 42 %"), or -1 for any other text."""
    parts = cell.split()
    return int(parts[-2]) if len(parts) >= 2 and parts[-1] == "%" and parts[-2].isdigit() else -1


def files_in(path):
    """The files of `path`; a side stream (Wine keeps one as a file named "name:stream") is not one."""
    return sorted(p.name for p in path.iterdir() if ":" not in p.name)


def internet_mark(path):
    """The "downloaded from the internet" mark of a file, as its Zone.Identifier stream holds it."""
    stream = path.parent / (path.name + ":Zone.Identifier")
    return stream.read_text() if stream.exists() else ""


def red_pixels(bmp):
    """Pure red (255, 0, 0) pixels of a 32-bit BMP as uidriver writes it."""
    data = bmp.read_bytes()
    offset = struct.unpack_from("<I", data, 10)[0]
    pixels = data[offset:]
    return sum(1 for i in range(0, len(pixels) - 3, 4) if pixels[i:i + 3] == b"\x00\x00\xff")


class Holder:
    """checkin_test_editor.exe holding a file open so that nobody else may open it."""

    def __init__(self, path, title):
        exe = WINDOWS_BIN / "checkin_test_editor.exe"
        if not exe.exists():
            pytest.skip(f"not built: {exe}")
        self.proc = subprocess.Popen([str(WINE), str(exe), "--file", windows_path(path), "--share", "none",
                                      "--title", title], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        uidriver("wait-window", title, timeout_ms=30000)

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=30)


def test_equal_names_a_path_and_a_locked_file(agent_in, adaptor, folder):
    """report.pdf twice beside a report.pdf that nobody may open: the locked file is left alone
    and the two downloads take the next free names; a/b/c.txt is saved as c.txt, into the
    configured folder although the folder field was emptied. CHECK_USER is answered while the
    window is open, and the window closes itself after a run without a failed row. The list is
    empty afterwards."""
    agent_in()
    first, second, third = (add_document(adaptor, "report.pdf", "first"), add_document(adaptor, "report.pdf", "second"),
                            add_document(adaptor, "c.txt", "third"))
    locked = folder / "report.pdf"
    locked.write_bytes(b"mine")
    holder = Holder(locked, "Lock holder")
    try:
        async def go():
            async with session("alice") as (ws, _):
                for oid, name in ((first, "report.pdf"), (second, "report.pdf"), (third, "a/b/c.txt")):
                    await send(ws, "ADD_TO_DOWNLOAD", f"{oid}*P1*{name}")
                await send(ws, "DO_DOWNLOAD")
                await ui("wait-window", DOWNLOAD[1033])
                answer = await request(ws, "CHECK_USER")
                shown = await asyncio.to_thread(rows, DOWNLOAD[1033])
                # An emptied folder field means the configured folder, never the drive's root.
                await ui("set-text", DOWNLOAD[1033], FOLDER, "")
                await ui("click", DOWNLOAD[1033], START)
                await ui("wait-gone", DOWNLOAD[1033], timeout_ms=90000)
                # A second DO_DOWNLOAD finds nothing left to fetch.
                await send(ws, "DO_DOWNLOAD")
                await ui("wait-window", DOWNLOAD[1033])
                left = await asyncio.to_thread(rows, DOWNLOAD[1033])
                await ui("close", DOWNLOAD[1033])
                await ui("wait-gone", DOWNLOAD[1033])
                return answer, shown, left

        answer, shown, left = run(go(), timeout=240)
    finally:
        holder.stop()
    assert answer == {"arg1": "CHECK_USER", "arg2": "SUCCESS"}
    assert shown == [["report.pdf", "0 %"], ["report.pdf", "0 %"], ["a/b/c.txt", "0 %"]]
    assert left == []
    assert files_in(folder) == ["c.txt", "report(2).pdf", "report(3).pdf", "report.pdf"]
    # Each file from the server carries the internet mark, with the adaptor's origin.
    for name in ("c.txt", "report(2).pdf", "report(3).pdf"):
        mark = internet_mark(folder / name)
        assert "ZoneId=3" in mark and f"HostUrl={adaptor.base}/" in mark, (name, mark)
    assert [(folder / n).read_bytes() for n in ("report.pdf", "report(2).pdf", "report(3).pdf", "c.txt")] == \
        [b"mine", b"first", b"second", b"third"]


@pytest.mark.parametrize("language", [1033, 1042])
def test_failed_rows_and_closing_mid_transfer(agent_in, adaptor, folder, language):
    """A row the server refuses shows its text in red, refused names and an incomplete item fail
    before anything is sent, the other rows complete and the window stays open. Closing it
    while a row is held mid-transfer aborts that row and leaves no partial file."""
    agent_in(language)
    title = DOWNLOAD[language]
    refusal = {1033: "Locked by the records office.", 1042: "기록관리실에서 잠근 문서입니다."}[language]
    refused, fine = add_document(adaptor, "a.txt", "a"), add_document(adaptor, "fine.txt", "fine")
    # 1000 bytes a second: the row moves for two minutes, longer than the test looks at it even
    # on a slow machine (seen: 16 s from the start to the close). A row whose data has all come
    # but its last byte holds the window until the read times out, and the close lands after.
    held = add_document(adaptor, "big.bin", size=120000)
    adaptor.fault(command="DOWNLOAD", object=refused, mode="refuse", code="55", message=refusal)
    adaptor.fault(command="DOWNLOAD", object=held, mode="hold", bytes=1000)
    items = [f"{refused}*P1*refused.txt", f"{fine}*P1*fine.txt", f"{held}*P1*big.bin", f"{fine}*P1",
             f"{fine}*P1*setup.exe", f"{fine}*P1*CON.txt"]
    shot = ROOT / "build" / "screenshots" / f"download_{language}.bmp"
    shot.parent.mkdir(parents=True, exist_ok=True)

    async def go():
        async with session("alice") as (ws, _):
            for item in items:
                await send(ws, "ADD_TO_DOWNLOAD", item)
            await send(ws, "DO_DOWNLOAD")
            await ui("click", title, START)
            running = await asyncio.to_thread(
                wait_rows, title, lambda r: len(r) == 6 and r[1][1] == " 100 %" and percent(r[2][1]) >= 1)
            await ui("screenshot", title, str(shot))
            await ui("close", title)
            aborted = await asyncio.to_thread(wait_rows, title, lambda r: r[2][1].startswith("*"))
            # The run is over, the window stays with its failed rows until closed again.
            await ui("close", title)
            await ui("wait-gone", title)
            return running, aborted

    running, aborted = run(go(), timeout=240)
    reasons = [row[1] for row in running]
    assert reasons[0] == "*" + refusal
    assert reasons[3].startswith("*") and reasons[4].startswith("*") and reasons[5].startswith("*")
    assert len({reasons[3], reasons[4], reasons[5]}) == 3, "each refusal names its own reason"
    assert aborted[2][1] == "*" + ABORTED[language]
    assert files_in(folder) == ["fine.txt"]
    assert red_pixels(shot) > 0, "the failed rows are not drawn in red"


def test_countdown_documents_folder_and_start_during_the_countdown(agent_in, adaptor, folder):
    """Without a DownloadFolder the window offers the Documents folder and saves it. Ticking
    "Start transfer automatically." makes that window count 3, 2, 1 and start by itself; the
    choice is that window's alone, so the page's next DO_DOWNLOAD waits for Start. Start during
    a run happens once."""
    agent_in(DownloadFolder=None)
    oid = add_document(adaptor, "memo.txt", "memo")
    title = DOWNLOAD[1033]

    async def go():
        async with session("alice") as (ws, _):
            await send(ws, "DO_DOWNLOAD")
            offered = (await ui("text", title, FOLDER))[0]
            saved = reg_get("DownloadFolder")
            await ui("set-text", title, FOLDER, windows_path(folder))
            await ui("close", title)
            await ui("wait-gone", title)

            await send(ws, "ADD_TO_DOWNLOAD", f"{oid}*P1*memo.txt")
            await send(ws, "DO_DOWNLOAD")
            await ui("wait-window", title)
            await ui("click", title, START_AUTO)
            # Read the countdown until the window, started by it, has closed itself.
            counted, deadline = [], time.monotonic() + 90
            while time.monotonic() < deadline and await ui("wait-window", title, timeout_ms=0, check=False):
                text = await ui("text", title, COUNTDOWN, timeout_ms=1000, check=False)
                if text and text[0] and (not counted or counted[-1] != text[0]):
                    counted.append(text[0])
            started_itself = (folder / "memo.txt").read_bytes()

            await send(ws, "ADD_TO_DOWNLOAD", f"{oid}*P1*memo.txt")
            await send(ws, "DO_DOWNLOAD")
            await ui("wait-window", title)
            waited_alone = await asyncio.to_thread(wait_until, lambda: (folder / "memo(2).txt").exists(), QUIET)
            await ui("click", title, CLOSE_AFTER)  # keep the window, so a late second run would show
            await ui("click", title, START)
            await asyncio.to_thread(wait_rows, title, lambda r: r and r[0][1] == " 100 %")
            second_run = await asyncio.to_thread(wait_until, lambda: (folder / "memo(3).txt").exists(), QUIET)
            countdown_after_start = (await ui("text", title, COUNTDOWN))[0]
            await ui("close", title)
            await ui("wait-gone", title)
            return offered, saved, counted, started_itself, waited_alone, second_run, countdown_after_start

    offered, saved, counted, started_itself, waited_alone, second_run, countdown_after_start = run(go(), timeout=300)
    assert offered.endswith("Documents") and saved == offered
    assert reg_get("DownloadFolder") == windows_path(folder)
    assert counted and set(counted) <= {"- [3] -", "- [2] -", "- [1] -"}
    assert counted == sorted(counted, reverse=True), counted
    assert started_itself == b"memo"
    assert not waited_alone, "a later window started by the earlier window's choice"
    assert files_in(folder) == ["memo(2).txt", "memo.txt"]
    assert not second_run and countdown_after_start == ""


def test_view_opens_a_read_only_copy_and_tells_every_failure(agent_in, adaptor, editors, tmp_path):
    """VIEW empties the View folder of earlier views, fetches the copy, makes it read-only and
    opens it in its editor. A refusal shows the server's text, a program's name is refused before the server
    hears of it, and Cancel mid-transfer leaves nothing behind. Exit then ends the agent: the
    view's editor search never waits for a window of the agent's own."""
    agent = agent_in()
    view = tmp_path / "work" / "View"
    view.mkdir(parents=True)
    (view / "earlier.txt").write_text("old")
    memo = add_document(adaptor, "Memo" + KEEP, "read me\r\n")
    refused = add_document(adaptor, "Secret" + KEEP, "x")
    held = add_document(adaptor, "Big" + KEEP, size=300000)
    adaptor.fault(command="DOWNLOAD", object=refused, mode="refuse", code="55", message="Not yours to read.")
    adaptor.fault(command="DOWNLOAD", object=held, mode="hold", bytes=1000)

    async def box():
        lines = await ui("msgbox", "--dismiss", "1", timeout_ms=60000)
        return lines[0], "\n".join(lines[1:])

    async def go():
        async with session("alice") as (ws, _):
            await send(ws, "VIEW", f"{memo}^P1^Memo{KEEP}")
            opened = await asyncio.to_thread(wait_until, lambda: (view / f"Memo{KEEP}.opened").exists(), 90)
            copy = view / f"Memo{KEEP}"
            copied = copy.read_bytes(), os.stat(copy).st_mode, "earlier.txt" in files_in(view), internet_mark(copy)

            await send(ws, "VIEW", f"{refused}^P1^Secret{KEEP}")
            refusal = await box()

            before = adaptor.last("DOWNLOAD")
            await send(ws, "VIEW", f"{memo}^P1^run.exe")
            program = await box()
            unsent = adaptor.last("DOWNLOAD") == before

            await send(ws, "VIEW", f"{held}^P1^Big{KEEP}")
            await ui("wait-window", f"Downloading Big{KEEP}...")
            await asyncio.to_thread(wait_until, lambda: any(p.name.endswith(".part") for p in view.iterdir()), 30)
            await ui("click", f"Downloading Big{KEEP}...", CANCEL)
            aborted = await box()
            return opened, copied, refusal, program, unsent, aborted

    opened, (content, mode, earlier_left, mark), refusal, program, unsent, aborted = run(go(), timeout=300)
    assert opened, "the copy was not opened"
    # A file the agent did not put there stays.
    assert content == b"read me\r\n" and earlier_left
    assert "ZoneId=3" in mark, "the copy does not say it came from the internet"
    assert not mode & 0o222, "the copy is writable"
    assert refusal == ("Information", "Not yours to read.")
    assert program == ("Information", "Files of this type can run as programs; they are not downloaded.") and unsent
    assert aborted == ("Information", ABORTED[1033])
    # The later views emptied the folder of the earlier ones (the list of what the agent put
    # there stays); the cancelled one left nothing.
    assert files_in(view) == [".zelto-views", f"Memo{KEEP}.opened", "earlier.txt"]
    uidriver("command", agent.title, EXIT_COMMAND, timeout_ms=1000, check=False)
    assert agent.wait_exit(10) is not None, "the agent did not end within 10 s of Exit"



def test_exit_ends_the_agent_while_a_lookup_hangs_and_a_transfer_runs(agent_in, adaptor, folder):
    """Exit waits for what it can within bounds, then ends the process: a session-user lookup
    held up by a share that does not answer and a download window mid-transfer keep it from
    nothing."""
    agent = agent_in(ServerAddress="edms-share", TestLookupHoldSeconds=600)
    held = add_document(adaptor, "slow.bin", size=120000)
    adaptor.fault(command="DOWNLOAD", object=held, mode="hold", bytes=1000)

    async def go():
        async with session("alice") as (ws, _):
            await send(ws, "CHECK_USER")  # its lookup now waits on the share
            await send(ws, "ADD_TO_DOWNLOAD", f"{held}*P1*slow.bin")
            await send(ws, "DO_DOWNLOAD")
            await ui("click", DOWNLOAD[1033], START)
            await asyncio.to_thread(wait_rows, DOWNLOAD[1033], lambda r: len(r) == 1 and percent(r[0][1]) >= 1)
            started = time.monotonic()
            uidriver("command", agent.title, EXIT_COMMAND, timeout_ms=1000, check=False)
            code = await asyncio.to_thread(agent.wait_exit, 60)
            return code, time.monotonic() - started

    code, took = run(go(), timeout=180)
    # Under Wine a process that ends itself while other threads are in system calls now and
    # then leaves with a signal's code instead of its own; what counts is that it ended.
    assert code is not None, "the agent did not end within 60 s of Exit"
    assert took < 45, f"Exit took {took:.0f} s"
    assert files_in(folder) == [], "a partial file was left under its name"
