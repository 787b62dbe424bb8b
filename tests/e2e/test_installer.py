"""The installer under Wine in a prefix of its own, run silently with named options as an
administrator deploys it: refused options, the install and the agent it starts (also at the next
logon), a second run over the running agent, the agent's self-update to a newer signed installer
that devserver offers, the uninstaller, and an install through the pages. Every program the
installer carries, and the installer, are signed with the test certificate.

The tests run in this order on one prefix: each later one starts from what the one before left.
"""
import base64
import subprocess

import pytest

from conftest import AGENT_PORT, CONFIG_KEY, WINE, run, seeded_devserver, session, wait_until, windows_path
from devserver_admin import AdminClient
from installer_fixtures import (RUN_KEY, UNINSTALL_KEY, build_version, fresh_prefix, installer,  # noqa: F401
                                installer_tools, make_installer)
from signing import signed_by_test_signer

CHECKOUTS_KEY = r"Software\kelvora\Zelto\CheckOuts"
RECORD_KEY = CHECKOUTS_KEY + r"\DOC-7"


@pytest.fixture(scope="module")
def folders(tmp_path_factory):
    base = tmp_path_factory.mktemp("installed")
    # A blank and Korean text: the options reach the installer quoted by Wine.
    return {"work": base / "work folder", "download": base / "다운로드"}


@pytest.fixture(scope="module")
def devserver(installer_tools):
    """A devserver of this module's own: the update it offers here is offered to no other test."""
    with seeded_devserver("edms-installer-") as url:
        yield url


@pytest.fixture(scope="module")
def options(devserver, folders):
    return {
        "AdaptorURL": f"{devserver}/adaptor",
        "EdmsURL": f"{devserver}/",
        "NoticeURL": f"{devserver}/notice",
        "ServerAddress": "edms-share",
        "WorkFolder": windows_path(folders["work"]),
        "DownloadFolder": windows_path(folders["download"]),
        "AppType": "EDMS_AGENT",
        "LanguageID": "1042",
        "NoticeCheckTime": "5",
        "UpdateCheckTime": "7",
    }


def install(prefix, setup, **options):
    """The installer's exit code; its log (prefix.setup_log()) then holds only this run's failures."""
    prefix.clear_setup_log()
    code, _, _ = prefix.wine(setup, "/S", *(f"/{name}={value}" for name, value in options.items()))
    return code


def installed_programs(prefix):
    location = prefix.reg_get(UNINSTALL_KEY, "InstallLocation")
    folder = prefix.unix_path(location) if location else None
    return sorted(p.name for p in folder.glob("*.exe")) if folder and folder.exists() else []


def config_values(prefix, names):
    return {name: prefix.config(name) for name in names}


def test_the_installer_is_signed_and_names_publisher_product_and_version(installer, fresh_prefix):
    assert signed_by_test_signer(installer)
    setup = windows_path(installer)
    got = {name: (fresh_prefix.uidriver("file-version", setup, name) or [None])[0]
           for name in ("CompanyName", "ProductName", "FileVersion", "ProductVersion")}
    assert got == {"CompanyName": "kelvora", "ProductName": "Zelto", "FileVersion": build_version(),
                   "ProductVersion": build_version()}


@pytest.mark.parametrize("bad, reason", [
    ({"AdaptorURL": "ftp://edms/adaptor"}, "AdaptorURL"),
    ({"AppType": "..\\EDMS"}, "AppType must be letters"),
    ({"WorkFolder": "work"}, "must be full paths"),
    ({"LanguageID": "1041"}, "LanguageID must be"),
    ({"UpdateCheckTime": "0"}, "UpdateCheckTime must be"),
])
def test_refused_options_install_nothing_and_say_why(installer, fresh_prefix, options, bad, reason):
    # English reasons: the refused language must not choose the log's language.
    given = dict(options, LanguageID="1033")
    given.update(bad)
    assert install(fresh_prefix, installer, **given) == 2
    assert reason in fresh_prefix.setup_log()
    assert installed_programs(fresh_prefix) == []
    assert fresh_prefix.config("AdaptorURL") is None


def test_silent_install_starts_the_agent_now_and_at_logon(installer, fresh_prefix, options, folders, devserver):
    prefix = fresh_prefix
    # Set before: the test port, and values no installation touches.
    prefix.uidriver("reg-set", CONFIG_KEY, "ServicePort", "dword", AGENT_PORT)
    prefix.uidriver("reg-set", CONFIG_KEY, "EdmUserId", "sz", "alice")

    assert install(prefix, installer, **options) == 0, prefix.setup_log()
    assert prefix.setup_log() == "", "a page on this computer needs no https"

    written = config_values(prefix, list(options) + ["AppVersion", "ServicePort", "EdmUserId"])
    assert written == dict(options, AppVersion=build_version(), ServicePort=str(AGENT_PORT), EdmUserId="alice")
    assert folders["work"].is_dir() and folders["download"].is_dir()
    assert {"Pellarin.exe", "ZTCheckOut.exe", "ZTCheckIn.exe", "ZTCheckOutCancel.exe",
            "uninstall.exe"} <= set(installed_programs(prefix))
    location = prefix.reg_get(UNINSTALL_KEY, "InstallLocation")
    unsigned = [name for name in installed_programs(prefix)
                if not signed_by_test_signer(prefix.unix_path(location) / name)]
    assert unsigned == []
    assert prefix.reg_get(RUN_KEY, "Pellarin") == f'"{location}\\Pellarin.exe"'
    assert prefix.reg_get(UNINSTALL_KEY, "DisplayVersion") == build_version()
    assert prefix.reg_get(UNINSTALL_KEY, "QuietUninstallString") == f'"{location}\\uninstall.exe" /S'

    # Started after installing: it serves the EDMS page (its origin is allowed).
    assert prefix.wait_agent_serving(), "the agent did not start after installing"
    assert prefix.agent_window()[0] == f"Pellarin[{build_version()}]"
    assert serves_page(devserver)

    # The next logon: the session ends, a new one starts the agent from the Run key.
    assert prefix.stop_agent()
    prefix.end_session()
    prefix.wine("cmd", "/c", "exit")
    assert prefix.wait_agent_serving(), "the agent did not start at logon"
    assert serves_page(devserver)


def serves_page(devserver):
    async def go():
        async with session("alice", origin=devserver) as (ws, welcome):
            return welcome["arg1"]
    return run(go()) == "Welcome alice"


def test_running_it_again_closes_the_agent_and_keeps_the_values(installer, fresh_prefix, options):
    prefix = fresh_prefix
    before = prefix.agent_window()
    assert before, "no agent runs (the test before failed?)"
    # An administrator's change since the first run stays; an option changes only its value.
    prefix.uidriver("reg-set", CONFIG_KEY, "NoticeURL", "sz", "http://notices.example/")

    # A plain-http EDMS page on another computer installs, with a warning in the log.
    assert install(prefix, installer, UpdateCheckTime="9", EdmsURL="http://edms.example/") == 0, prefix.setup_log()
    warning = prefix.setup_log()  # in the installation's language (Korean here)
    assert "EdmsURL" in warning and "(http://edms.example/)" in warning and "https" in warning, warning

    assert config_values(prefix, options) == dict(options, NoticeURL="http://notices.example/", UpdateCheckTime="9",
                                                  EdmsURL="http://edms.example/")
    assert prefix.wait_agent_serving(), "the agent did not start again"
    assert prefix.agent_window()[1] != before[1], "the agent that ran before was not replaced"


NEXT_VERSION = "9.9.0.0"  # newer than this build and than devserver's seeded package
WM_TIMER, UPDATE_TIMER, IDYES = 0x0113, 1, 6


def test_the_update_tick_replaces_the_agent_with_the_offered_version(fresh_prefix, devserver, folders,
                                                                     tmp_path_factory):
    prefix = fresh_prefix
    before = prefix.agent_window()
    assert before, "no agent runs (the tests before failed?)"
    newer = make_installer(tmp_path_factory.mktemp("next") / "ZeltoSetup.exe", version=NEXT_VERSION)
    status, answer = AdminClient(devserver).admin("POST", "/_admin/updates", {
        "target": "EDMS_AGENT", "version": NEXT_VERSION, "base64": base64.b64encode(newer.read_bytes()).decode()})
    assert status == 200, answer

    prefix.uidriver("post", before[0], WM_TIMER, UPDATE_TIMER, 0)
    # The kept LanguageID is 1042: the question is in Korean.
    question = prefix.uidriver("msgbox", "--caption", "EDMS Agent 업데이트", "--dismiss", IDYES, timeout_ms=60000)
    assert f"(버전:{NEXT_VERSION}," in question[1]

    # Checked, started silently: the installer closes this agent and starts the new one.
    assert wait_until(lambda: (prefix.agent_window() or ("",))[0] == f"Pellarin[{NEXT_VERSION}]", 180, 1), \
        prefix.setup_log()
    assert prefix.wait_agent_serving()
    assert prefix.config("AppVersion") == NEXT_VERSION
    assert prefix.reg_get(UNINSTALL_KEY, "DisplayVersion") == NEXT_VERSION
    # The new agent removes the installer that started it once it has ended.
    assert wait_until(lambda: not (folders["work"] / f"EDMS_AGENT[{NEXT_VERSION}].exe").exists(), 90)


def test_uninstall_removes_programs_and_run_entry_and_keeps_the_users_things(fresh_prefix, folders):
    prefix = fresh_prefix
    location = prefix.reg_get(UNINSTALL_KEY, "InstallLocation")
    assert location and prefix.agent_window(), "nothing installed (the tests before failed?)"
    copy = folders["work"] / "plan(DOC-7).txt"
    copy.write_text("edits not checked in")
    prefix.uidriver("reg-set", RECORD_KEY, "LocalPath", "sz", windows_path(copy))
    names = ["AdaptorURL", "WorkFolder", "DownloadFolder", "AppType", "AppVersion", "LanguageID", "ServicePort"]
    config = config_values(prefix, names)

    code, _, _ = prefix.wine(prefix.unix_path(location) / "uninstall.exe", "/S")
    assert code == 0
    # The uninstaller goes on from a copy of itself in %TEMP%: wait for what it leaves.
    assert wait_until(lambda: prefix.reg_get(UNINSTALL_KEY, "DisplayName") is None, 60, 0.5)
    assert wait_until(lambda: not prefix.unix_path(location).exists(), 30, 0.5)
    assert prefix.agent_window() is None
    assert prefix.reg_get(RUN_KEY, "Pellarin") is None
    assert config_values(prefix, names) == config
    assert prefix.reg_get(RECORD_KEY, "LocalPath") == windows_path(copy)
    assert copy.read_text() == "edits not checked in"


NEXT = 1
ADAPTOR_FIELD = 1201    # nsDialogs numbers a page's controls from 1200: label, field, label, ...
UPDATE_MINUTES_FIELD = 1211


def test_pages_offer_what_an_earlier_installation_set_and_refuse_bad_values(installer, fresh_prefix, options):
    prefix = fresh_prefix
    assert prefix.reg_get(UNINSTALL_KEY, "DisplayName") is None, "still installed (the test before failed?)"

    def ui(*args, **kwargs):  # any window whose title holds the product's name: the wizard or its box
        return prefix.uidriver("--contains", *args, **kwargs)

    setup = subprocess.Popen([str(WINE), str(installer)], env=prefix.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        ui("click", "Zelto", NEXT, timeout_ms=60000)  # the folder page
        # The kept LanguageID (1042) chose the pages' language; the kept adaptor fills its field.
        assert ui("text", "Zelto", ADAPTOR_FIELD) == [options["AdaptorURL"]]
        ui("set-text", "Zelto", ADAPTOR_FIELD, "edms.example/adaptor")
        ui("click", "Zelto", NEXT)
        box = prefix.uidriver("msgbox", "--dismiss", 1)
        assert box[1:] == ["서버 어댑터(AdaptorURL)는 http:// 또는 https://로 시작하는 주소여야 합니다."]
        ui("set-text", "Zelto", ADAPTOR_FIELD, "https://edms.example/adaptor")
        ui("click", "Zelto", NEXT)
        # The EDMS page the run before kept is plain http on another computer: said, not refused.
        box = prefix.uidriver("msgbox", "--dismiss", 1)
        assert "EdmsURL" in box[1] and "http://edms.example/" in box[1] and "https" in box[1], box
        ui("set-text", "Zelto", UPDATE_MINUTES_FIELD, "61")
        ui("click", "Zelto", NEXT)
        box = prefix.uidriver("msgbox", "--dismiss", 1)
        assert box[1:] == ["NoticeCheckTime과 UpdateCheckTime은 비어 있거나 1에서 60 사이의 분이어야 합니다."]
        ui("set-text", "Zelto", UPDATE_MINUTES_FIELD, "15")
        ui("click", "Zelto", NEXT)  # installs
        ui("click", "Zelto", NEXT, timeout_ms=60000)  # "Close" once the files are in
        assert setup.wait(timeout=60) == 0
    finally:
        if setup.poll() is None:
            setup.kill()
    assert config_values(prefix, ["AdaptorURL", "UpdateCheckTime", "ServerAddress"]) == {
        "AdaptorURL": "https://edms.example/adaptor", "UpdateCheckTime": "15", "ServerAddress": "edms-share"}
    assert prefix.wait_agent_serving()
