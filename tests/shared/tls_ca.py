"""Test certificates for devserver's https, made by scripts/make-test-ca, for both test suites
(their conftest puts tests/shared on sys.path)."""
import shutil
import subprocess
from pathlib import Path

MAKE_TEST_CA = Path(__file__).resolve().parents[2] / "scripts" / "make-test-ca"


def missing_reason():
    """Why no test certificates can be made on this machine, or None."""
    if not shutil.which("openssl"):
        return "the openssl command is not installed (Debian package openssl)"
    return None


def make_test_ca(folder, *kinds):
    """The test CA and a server certificate for 127.0.0.1 and localhost in `folder`, and the
    certificates of `kinds` ("--untrusted", "--wrong-name", "--expired"); file names in
    scripts/make-test-ca. Returns the folder as a Path."""
    subprocess.run([str(MAKE_TEST_CA), str(folder), *kinds], check=True, capture_output=True, timeout=60)
    return Path(folder)


def server_args(folder, name="server", key=None):
    """devserver's options for serving https with `name`.pem and `key`.key (default `name`) of
    `folder`."""
    return ["--tls-cert", str(Path(folder) / (name + ".pem")), "--tls-key", str(Path(folder) / ((key or name) + ".key"))]
