"""The agent's start-up under Wine: single instance, missing configuration, timers, login expiry.
Each test starts its own agent and stops it at teardown."""
import asyncio
import json
import time

import pytest
import websockets

from conftest import AGENT_PORT, AGENT_TITLE, AGENT_URL, CONFIG_KEY, session, open_session, port_open, run, uidriver, wait_until


def agent_windows():
    lines = uidriver("list-windows") or []
    return [line for line in lines if line.split("\t")[-1] == AGENT_TITLE]


def test_second_start_exits_without_a_window(write_config, start_agent):
    write_config()
    first = start_agent()
    assert len(agent_windows()) == 1
    second = start_agent(wait_serving=False)
    assert second.wait_exit(60) is not None, "the second agent is still running"
    assert "another agent is running" in second.trace_lines()
    assert first.running()
    assert len(agent_windows()) == 1
    assert uidriver("msgbox", timeout_ms=1000, check=False) is None  # no message either


def test_missing_configuration_shows_the_message_and_exits(write_config, start_agent):
    write_config()
    uidriver("reg-delete", CONFIG_KEY)
    agent = start_agent(wait_serving=False)
    box = uidriver("msgbox", "--caption", "Information", "--dismiss", 1, timeout_ms=60000)
    assert box == ["Information", "Configuration information is not valid."]
    assert agent.wait_exit(30) is not None, "the agent did not end after the message"
    assert not port_open(AGENT_PORT)
    assert agent_windows() == []
    # The agent does not create the key on its way out.
    assert uidriver("reg-get", CONFIG_KEY, "AppType", check=False) is None


@pytest.mark.parametrize("app_type, notice_minutes, update_minutes, expected", [
    ("EDMS_AGENT", None, None, ["timer 0 armed 300000 ms", "timer 1 armed 600000 ms", "timer 2 armed 5000 ms"]),
    ("ZELTO_CLIENT_COMPAT", None, None, ["timer 0 not armed", "timer 1 armed 600000 ms", "timer 2 armed 5000 ms"]),
    # The comparison is case-sensitive; intervals are clamped into 1..60 minutes.
    ("zelto_client_compat", 90, 0, ["timer 0 armed 3600000 ms", "timer 1 armed 600000 ms", "timer 2 armed 5000 ms"]),
    ("ZELTO_CLIENT", 1, 7, ["timer 0 armed 60000 ms", "timer 1 armed 420000 ms", "timer 2 armed 5000 ms"]),
])
def test_timers_follow_app_type_and_clamped_intervals(write_config, start_agent, app_type, notice_minutes,
                                                      update_minutes, expected):
    write_config(AppType=app_type, NoticeCheckTime=notice_minutes, UpdateCheckTime=update_minutes)
    agent = start_agent()
    assert wait_until(lambda: "timer 2 armed 5000 ms" in agent.trace_lines(), 15), agent.log()
    timers = [line for line in agent.trace_lines() if line.startswith("timer ")]
    assert timers == expected


def test_window_title_carries_the_version_and_stays_hidden(write_config, start_agent):
    write_config(AppVersion="3.1.4")
    start_agent(title="Pellarin[3.1.4]")
    assert uidriver("is-visible", "Pellarin[3.1.4]") == ["false"]


def test_login_expiry_closes_a_silent_connection(write_config, start_agent):
    write_config(LoginExpirySeconds=2)
    start_agent()

    async def go():
        silent = await websockets.connect(AGENT_URL, open_timeout=10)
        started = time.monotonic()
        try:
            await asyncio.wait_for(silent.wait_closed(), 20)
            closed_after = time.monotonic() - started
        except asyncio.TimeoutError:
            closed_after = None
        # A connection that logged in is not cut by the expiry.
        async with session("alice") as (ws, welcome):
            await asyncio.sleep(4)
            await ws.send(json.dumps({"arg1": "CHECK_USER", "arg2": ""}))
            reply = json.loads(await asyncio.wait_for(ws.recv(), 10))
        return closed_after, welcome, reply

    closed_after, welcome, reply = run(go())
    assert closed_after is not None and closed_after < 15
    assert welcome["arg1"] == "Welcome alice"
    assert reply == {"arg1": "CHECK_USER", "arg2": "SUCCESS"}


def test_exit_command_stops_the_server(write_config, start_agent):
    write_config()
    agent = start_agent()
    uidriver("command", AGENT_TITLE, 32772)
    assert agent.wait_exit(30) is not None
    assert wait_until(lambda: not port_open(AGENT_PORT), 10)
    assert "exit with 0" in agent.trace_lines()
