"""Running programs under scripts/wine from the tests.

The first program of a Wine session starts the session's system processes, and they keep that
program's standard output and error open until the session ends. Reading a Wine program's
output through a pipe can therefore wait long after the program is gone; these helpers take it
through files and wait for the program alone.
"""
import os
import subprocess
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE = os.path.join(REPO, "scripts", "wine")


def run_wine(*args, timeout, env=None):
    """(exit code, stdout, stderr) of `scripts/wine ARGS...`, both outputs as UTF-8 text."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.run([WINE, *map(str, args)], stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=timeout, env=env)
        out.seek(0)
        err.seek(0)
        return (proc.returncode, out.read().decode("utf-8", "replace"),
                err.read().decode("utf-8", "replace"))


def register_opener(extension, prog_id, command):
    """Makes `command` (with "%1" for the file) the shell's open verb for `extension`.
    Returns the keys to hand to unregister_opener."""
    for key, data in ((rf"HKCR\{extension}", prog_id), (rf"HKCR\{prog_id}\shell\open\command", command)):
        code, _, err = run_wine("reg", "add", key, "/ve", "/d", data, "/f", timeout=60)
        assert code == 0, f"reg add {key}: {err}"
    return [rf"HKCR\{extension}", rf"HKCR\{prog_id}"]


def unregister_opener(keys):
    for key in keys:
        run_wine("reg", "delete", key, "/f", timeout=60)
