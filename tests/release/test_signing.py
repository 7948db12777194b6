"""Signing Typeloader.exe with Authenticode (scripts/sign-release.sh), with a
throw-away CA and code-signing certificate made by openssl for this session.

Verification is osslsigncode's, against that CA: Wine's WinVerifyTrust checks
only that the file is intact, not who signed it, so it proves nothing here."""
import hashlib
import json
import os
import pathlib
import shutil
import struct
import http.server
import subprocess
import tempfile
import threading
import zipfile

import pytest

from test_version import probe

PASSWORD = "correct horse battery staple"
CA_CONFIG = """\
[req]
distinguished_name = dn
prompt = no
[dn]
CN = placeholder
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[code_signing]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server_only]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
[time_stamping]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
[tsa]
default_tsa = tsa_config
[tsa_config]
serial = tsa-serial
signer_cert = tsa.pem
certs = ca.pem
signer_key = tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
"""


def openssl(*args, cwd):
    subprocess.run(["openssl", *map(str, args)], cwd=cwd, check=True, capture_output=True)


class Pki:
    """A CA, a code-signing certificate and a server-only one, as PKCS#12 files."""

    def __init__(self, folder):
        self.folder = folder
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "openssl.cnf").write_text(CA_CONFIG)
        self.password_file = folder / "password.txt"
        self.password_file.write_text(PASSWORD + "\n")
        self.password_file.chmod(0o600)
        self.wrong_password_file = folder / "wrong-password.txt"
        self.wrong_password_file.write_text("not the password\n")
        self.ca = self._ca("ca", "Typeloader Test Root CA")
        self.other_ca = self._ca("other-ca", "Some Other Root CA")
        self.code_signing = self._leaf("signer", "Typeloader Test Publisher", "code_signing")
        self.server_only = self._leaf("server", "Typeloader Test Web Server", "server_only")
        self._leaf("tsa", "Typeloader Test Time-Stamp Authority", "time_stamping")
        (folder / "tsa-serial").write_text("01\n")

    def _ca(self, name, subject):
        openssl("req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key",
                "-out", f"{name}.pem", "-days", "2", "-config", "openssl.cnf", "-extensions", "ca",
                "-subj", f"/CN={subject}", cwd=self.folder)
        return self.folder / f"{name}.pem"

    def _leaf(self, name, subject, extensions):
        openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                "-subj", f"/CN={subject}", cwd=self.folder)
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", f"{name}.pem", "-days", "2", "-extfile", "openssl.cnf", "-extensions", extensions,
                cwd=self.folder)
        openssl("pkcs12", "-export", "-inkey", f"{name}.key", "-in", f"{name}.pem", "-certfile", "ca.pem",
                "-out", f"{name}.p12", "-passout", f"file:{self.password_file}", cwd=self.folder)
        return self.folder / f"{name}.p12"

    def environment(self, pkcs12=None, password_file=None):
        env = {key: value for key, value in os.environ.items() if not key.startswith("TYPELOADER_SIGN_")}
        env["TYPELOADER_SIGN_PKCS12"] = str(pkcs12 or self.code_signing)
        env["TYPELOADER_SIGN_PASSWORD_FILE"] = str(password_file or self.password_file)
        return env


@pytest.fixture(scope="module")
def pki(work_dir):
    folder = work_dir / "pki"
    if folder.exists():
        shutil.rmtree(folder)
    return Pki(folder)


def sign(source_dir, exe, env):
    return subprocess.run(["bash", str(source_dir / "scripts" / "sign-release.sh"), str(exe)],
                          env=env, capture_output=True, text=True)


def verify(exe, ca):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(exe)],
                          capture_output=True, text=True)


@pytest.fixture(scope="module")
def signed(pki, source_dir, typeloader_exe, work_dir):
    exe = work_dir / "signed" / "Typeloader.exe"
    exe.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(typeloader_exe, exe)
    done = sign(source_dir, exe, pki.environment())
    assert done.returncode == 0, done.stderr
    assert "Typeloader Test Publisher" in done.stdout
    return exe


def section_offsets(data):
    """{section name: file offset of its raw data} from the PE section table."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    offsets = {}
    for index in range(count):
        entry = table + 40 * index
        name = data[entry:entry + 8].rstrip(b"\0").decode()
        raw_size, raw_offset = struct.unpack_from("<II", data, entry + 16)
        offsets[name] = (raw_offset, raw_size)
    return offsets


def test_signed_exe_verifies_against_the_ca(signed, pki):
    done = verify(signed, pki.ca)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "Signature verification: ok" in done.stdout
    assert "Message digest algorithm  : SHA256" in done.stdout
    assert "Subject: /CN=Typeloader Test Publisher" in done.stdout


def test_signed_exe_does_not_verify_against_another_ca(signed, pki):
    assert verify(signed, pki.other_ca).returncode != 0


def _flip(data, offset):
    data = bytearray(data)
    data[offset] ^= 0x01
    return bytes(data)


def _security_directory(data):
    """File offset of the certificate table (data directory 4 of the PE32+ optional header)."""
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    return struct.unpack_from("<I", data, optional + 112 + 4 * 8)[0]


TAMPER_PLACES = [
    # (name, offset finder over the signed bytes)
    ("code (.text)", lambda data: section_offsets(data)[".text"][0] + 0x100),
    ("read-only data (.rdata)", lambda data: section_offsets(data)[".rdata"][0] + 0x40),
    ("version resource", lambda data: data.index("FileVersion".encode("utf-16-le"))),
    ("manifest", lambda data: data.index(b"requireAdministrator")),
    ("PE header: the subsystem field", lambda data: struct.unpack_from("<I", data, 0x3C)[0] + 24 + 68),
    ("last byte before the signature", lambda data: _security_directory(data) - 1),
]


@pytest.mark.parametrize("place", TAMPER_PLACES, ids=[row[0] for row in TAMPER_PLACES])
def test_one_changed_byte_fails_verification(place, signed, pki, tmp_path):
    _, find = place
    data = signed.read_bytes()
    tampered = tmp_path / "Typeloader.exe"
    tampered.write_bytes(_flip(data, find(data)))
    done = verify(tampered, pki.ca)
    assert done.returncode != 0, done.stdout
    assert "MISMATCH" in done.stdout + done.stderr or "Signature verification: failed" in done.stdout


def test_remove_signature_gives_back_the_build(signed, typeloader_exe, tmp_path):
    back = tmp_path / "unsigned.exe"
    done = subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out", str(back)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    assert back.read_bytes() == typeloader_exe.read_bytes()
    assert signed.read_bytes() != typeloader_exe.read_bytes()


def test_build_size_is_a_multiple_of_eight(typeloader_exe):
    # The signature is appended at an 8-byte boundary; a signer pads a file
    # whose size is not a multiple of 8, and removing the signature leaves the
    # padding behind, so the round trip above would no longer give the build.
    assert typeloader_exe.stat().st_size % 8 == 0


def authenticode_digest(exe, tmp_path):
    """The SHA-256 Authenticode digest of an exe, signed or not (the hash rules match)."""
    # A fresh name each time: osslsigncode refuses to overwrite a file.
    data = pathlib.Path(tempfile.mkdtemp(dir=tmp_path)) / "indirect.der"
    subprocess.run(["osslsigncode", "extract-data", "-h", "sha256", "-in", str(exe), "-out", str(data)],
                   check=True, capture_output=True)
    parsed = subprocess.run(["openssl", "asn1parse", "-inform", "DER", "-in", str(data)],
                            check=True, capture_output=True, text=True).stdout
    return parsed.strip().splitlines()[-2].split("[HEX DUMP]:")[1].lower()


def test_authenticode_digest_is_the_same_signed_and_unsigned(signed, typeloader_exe, tmp_path):
    digest = authenticode_digest(typeloader_exe, tmp_path)
    assert len(digest) == 64
    assert authenticode_digest(signed, tmp_path) == digest
    shown = verify(signed, "/dev/null").stdout
    assert f"Current message digest    : {digest.upper()}" in shown


@pytest.mark.parametrize("args", [["/uninstall"], ["/uninstall", "/title:TypeloaderSignedCheckNothing"]],
                         ids=["usage", "uninstall of nothing"])
def test_signed_exe_runs_like_the_build(args, signed, typeloader_exe, wine):
    assert wine.run(*args, program=signed) == wine.run(*args, program=typeloader_exe)


def test_signed_exe_shows_the_same_version_and_manifest(signed, typeloader_exe, wine, version_probe):
    fields, manifest = probe(wine, version_probe, signed)
    assert (fields, manifest) == probe(wine, version_probe, typeloader_exe)
    assert fields["fixed.file"] == fields["string.FileVersion"]


# ---------------------------------------------------------------- time stamp

@pytest.fixture(scope="module")
def time_stamp_url(pki):
    """An RFC 3161 time-stamp server on 127.0.0.1, answering with `openssl ts -reply`."""
    folder = pki.folder

    class Authority(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            if self.path == "/refuses":  # a server that is up but gives no time stamp
                query = b""
            with tempfile.TemporaryDirectory() as scratch:
                pathlib.Path(scratch, "query").write_bytes(query)
                done = subprocess.run(["openssl", "ts", "-reply", "-config", "openssl.cnf", "-queryfile",
                                       f"{scratch}/query", "-out", f"{scratch}/reply"], cwd=folder, capture_output=True)
                reply = pathlib.Path(scratch, "reply").read_bytes() if done.returncode == 0 else b""
            self.send_response(200 if reply else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}/"
    server.shutdown()
    server.server_close()


def test_time_stamped_signature_verifies(pki, time_stamp_url, source_dir, typeloader_exe, tmp_path):
    exe = tmp_path / "Typeloader.exe"
    shutil.copyfile(typeloader_exe, exe)
    env = dict(pki.environment(), TYPELOADER_SIGN_TIMESTAMP_URL=time_stamp_url)
    done = sign(source_dir, exe, env)
    assert done.returncode == 0, done.stderr
    shown = subprocess.run(["osslsigncode", "verify", "-CAfile", str(pki.ca), "-TSA-CAfile", str(pki.ca),
                            "-in", str(exe)], capture_output=True, text=True)
    assert shown.returncode == 0, shown.stdout + shown.stderr
    assert "Timestamp Server Signature verification: ok" in shown.stdout
    back = tmp_path / "unsigned.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(exe), "-out", str(back)], check=True,
                   capture_output=True)
    assert back.read_bytes() == typeloader_exe.read_bytes()


def test_failing_time_stamp_server_leaves_the_exe(pki, time_stamp_url, source_dir, typeloader_exe, tmp_path):
    exe = tmp_path / "Typeloader.exe"
    shutil.copyfile(typeloader_exe, exe)
    done = sign(source_dir, exe, dict(pki.environment(), TYPELOADER_SIGN_TIMESTAMP_URL=time_stamp_url + "refuses"))
    assert done.returncode != 0
    assert "could not sign" in done.stderr and "is unchanged" in done.stderr
    assert exe.read_bytes() == typeloader_exe.read_bytes()
    assert sorted(path.name for path in tmp_path.iterdir()) == ["Typeloader.exe"]


# ---------------------------------------------------------------- refusals

def _no_password_variable(pki, env):
    del env["TYPELOADER_SIGN_PASSWORD_FILE"]


REFUSALS = [
    # (name, environment change, words of the error)
    ("wrong password", lambda pki, env: env.update(TYPELOADER_SIGN_PASSWORD_FILE=str(pki.wrong_password_file)),
     ["wrong password"]),
    ("certificate file missing", lambda pki, env: env.update(TYPELOADER_SIGN_PKCS12=str(pki.folder / "gone.p12")),
     ["TYPELOADER_SIGN_PKCS12", "no readable file"]),
    ("password file missing", lambda pki, env: env.update(TYPELOADER_SIGN_PASSWORD_FILE=str(pki.folder / "gone")),
     ["TYPELOADER_SIGN_PASSWORD_FILE", "no readable file"]),
    ("password variable unset", _no_password_variable, ["TYPELOADER_SIGN_PASSWORD_FILE is not set"]),
    ("not a PKCS#12 file", lambda pki, env: env.update(TYPELOADER_SIGN_PKCS12=str(pki.ca)),
     ["is not a PKCS#12 file"]),
    ("certificate not for code signing", lambda pki, env: env.update(TYPELOADER_SIGN_PKCS12=str(pki.server_only)),
     ["not a code-signing certificate", "Typeloader Test Web Server"]),
]


@pytest.mark.parametrize("name, change, words", REFUSALS, ids=[row[0] for row in REFUSALS])
def test_signing_refuses_and_leaves_the_exe(name, change, words, pki, source_dir, typeloader_exe, tmp_path):
    exe = tmp_path / "Typeloader.exe"
    shutil.copyfile(typeloader_exe, exe)
    env = pki.environment()
    change(pki, env)
    done = sign(source_dir, exe, env)
    assert done.returncode != 0
    for word in words:
        assert word in done.stderr, (name, done.stderr)
    assert "is unchanged" in done.stderr or "not set" in done.stderr or "no readable file" in done.stderr
    assert PASSWORD not in done.stdout + done.stderr
    assert exe.read_bytes() == typeloader_exe.read_bytes()
    assert sorted(path.name for path in tmp_path.iterdir()) == ["Typeloader.exe"]  # no temporary left


def test_signing_a_signed_exe_is_refused(signed, pki, source_dir, tmp_path):
    exe = tmp_path / "Typeloader.exe"
    shutil.copyfile(signed, exe)
    done = sign(source_dir, exe, pki.environment())
    assert done.returncode != 0
    assert "already signed" in done.stderr
    assert exe.read_bytes() == signed.read_bytes()


# ---------------------------------------------------------------- the signed bundle

def cpack(build_dir, out_dir, env):
    cpack_program = os.environ.get("TYPELOADER_CPACK") or shutil.which("cpack")
    return subprocess.run([cpack_program, "--config", str(build_dir / "CPackConfig.cmake"), "-B", str(out_dir)],
                          cwd=build_dir, env=env, capture_output=True, text=True)


@pytest.fixture(scope="module")
def signed_bundle(pki, build_dir, work_dir, version):
    out = work_dir / "signed-bundle"
    if out.exists():
        shutil.rmtree(out)
    done = cpack(build_dir, out, pki.environment())
    assert done.returncode == 0, done.stdout + done.stderr
    with zipfile.ZipFile(out / f"Typeloader-{version}-win64.zip") as archive:
        return {info.filename: archive.read(info) for info in archive.infolist() if not info.is_dir()}


SIGNED_EXES = [("Typeloader.exe", "Typeloader"), ("Typeloader-Deploy.exe", "Typeloader-Deploy")]


@pytest.mark.parametrize("name, sbom_stem", SIGNED_EXES)
def test_signed_bundle_holds_the_signed_exe(signed_bundle, pki, typeloader_exe, tmp_path, name, sbom_stem):
    exe = tmp_path / name
    exe.write_bytes(signed_bundle[name])
    assert verify(exe, pki.ca).returncode == 0
    back = tmp_path / "unsigned.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(exe), "-out", str(back)], check=True,
                   capture_output=True)
    assert back.read_bytes() == typeloader_exe.with_name(name).read_bytes()


@pytest.mark.parametrize("name, sbom_stem", SIGNED_EXES)
def test_signed_bundle_sums_and_sbom_are_of_the_signed_exe(signed_bundle, typeloader_exe, version, name, sbom_stem):
    typeloader_exe = typeloader_exe.with_name(name)
    signed_hash = hashlib.sha256(signed_bundle[name]).hexdigest()
    sums = dict(reversed(line.split("  ", 1)) for line in signed_bundle["SHA256SUMS"].decode().splitlines())
    assert sums[name] == signed_hash
    for summed, digest in sums.items():
        assert hashlib.sha256(signed_bundle[summed]).hexdigest() == digest, summed
    document = json.loads(signed_bundle[f"{sbom_stem}-{version}.spdx.json"])
    exe = next(package for package in document["packages"] if package["name"] == name)
    assert exe["checksums"] == [{"algorithm": "SHA256", "checksumValue": signed_hash}]
    assert hashlib.sha256(typeloader_exe.read_bytes()).hexdigest() in exe["comment"]
    assert "Authenticode-signed" in exe["comment"]


def test_signed_bundle_notices_are_the_builds(signed_bundle, notices):
    assert signed_bundle["THIRD-PARTY-NOTICES.txt"] == notices.read_bytes()


def test_bundle_with_a_wrong_password_is_not_made(pki, build_dir, work_dir, version):
    out = work_dir / "refused-bundle"
    if out.exists():
        shutil.rmtree(out)
    done = cpack(build_dir, out, pki.environment(password_file=pki.wrong_password_file))
    assert done.returncode != 0
    assert "wrong password" in done.stdout + done.stderr
    assert not (out / f"Typeloader-{version}-win64.zip").exists()
