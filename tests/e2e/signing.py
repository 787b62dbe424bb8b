"""The test bed's code signing for the update tests: the test CA among a Wine prefix's trusted
roots, a signed file changed after signing, the pin of a test certificate, and a file's
signature as osslsigncode sees it."""
import os
import subprocess

from conftest import ROOT, WINDOWS_BIN, windows_path
from wine_run import run_wine

SIGNING = ROOT / "tests" / "signing"
TRUST_ROOT = WINDOWS_BIN / "trust_root.exe"


def trust_test_ca(add=True, env=None):
    """Puts the test CA among the prefix's trusted roots (or takes it out)."""
    code, _, err = run_wine(TRUST_ROOT, "add" if add else "remove", windows_path(SIGNING / "test-ca.pem"),
                            timeout=120, env=env)
    assert code == 0, f"trust_root: {err}"


def changed_after_signing(signed):
    """The bytes with one byte of the code changed (the sections are 4 KiB aligned in the file)."""
    changed = bytearray(signed)
    changed[0x1100] ^= 1
    return bytes(changed)


def pin_of(name):
    """The pin of the test certificate `name` (test-signer, test-other-signer), as the build makes one."""
    env = dict(os.environ, EDMS_SIGN_CERT=str(SIGNING / f"{name}.pem"), EDMS_SIGN_KEY=str(SIGNING / f"{name}.key"))
    return subprocess.run([str(ROOT / "scripts" / "code-signing"), "pin"], env=env, check=True, capture_output=True,
                          text=True).stdout.strip()


def signed_by_test_signer(path):
    """True when the file's signature verifies and leads to the test CA (osslsigncode's view)."""
    proc = subprocess.run(["osslsigncode", "verify", "-CAfile", str(SIGNING / "test-ca.pem"), "-in", str(path)],
                          capture_output=True, text=True)
    return proc.returncode == 0 and "kelvora (test code signing" in proc.stdout
