"""One user, one agent: the agent knows which process is on the other end of a connection, and
an agent that finds its port held (on a shared computer, by another user's agent) says so and
waits for it. A second Wine prefix stands for a second session: its own wineserver, the same
loopback."""
from conftest import AGENT_PORT, WINDOWS_BIN, Agent, port_open, run, session, wait_until
from installer_fixtures import Prefix
from wine_run import run_wine

WS_PROBE = WINDOWS_BIN / "ws_probe.exe"
HELD = "Another user's agent uses the port on this computer; ask the administrator to enable the shared-computer mode"


def test_a_windows_program_of_this_session_is_identified_and_accepted(write_config, start_agent):
    write_config()
    agent = start_agent()
    code, out, err = run_wine(WS_PROBE, AGENT_PORT, timeout=60)
    lines = out.splitlines()
    assert code == 0 and lines[1].startswith("HTTP/1.1 101"), (code, out, err)
    pid = lines[0].split()[1]
    assert wait_until(lambda: any(line.startswith(f"connection from process {pid}, session ") and
                                  line.endswith(": accepted") for line in agent.trace_lines()), 10), \
        agent.trace_lines()[-10:]
    # A program of another system (this test, under Linux) is not identified, and on a computer
    # where nobody else is logged on it is let in.
    async def linux_client():
        async with session("alice") as (_, welcome):
            return welcome
    assert run(linux_client())["arg1"] == "Welcome alice"
    assert any(line == "connection from a process that cannot be identified: accepted" for line in agent.trace_lines())


def test_a_second_session_is_told_keeps_running_and_takes_the_port_once_free(write_config, start_agent, tmp_path):
    write_config()
    first = start_agent()
    other = Prefix(tmp_path / "second-session")
    try:
        write_config(env=other.env)
        second = Agent(tmp_path / "second-agent.log", env=other.env).start(wait_serving=False)
        assert wait_until(lambda: f"balloon shown: {HELD}" in second.trace_lines(), 120), second.trace_lines()[-10:]
        assert any(line.startswith(f"port {AGENT_PORT} is held by ") for line in second.trace_lines())
        assert f"tool-tip: Pellarin {HELD}" in second.trace_lines()
        assert not wait_until(lambda: not second.running(), 6), "the second agent ended"
        first.stop()
        assert wait_until(lambda: "the port is free again: serving" in second.trace_lines(), 30), \
            second.trace_lines()[-10:]
        assert port_open(AGENT_PORT)

        async def login():
            async with session("bob") as (_, welcome):
                return welcome
        assert run(login())["arg1"] == "Welcome bob"
        second.stop()
    finally:
        other.end_session()
