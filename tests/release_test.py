#!/usr/bin/env python3
"""Checks the release that `make dist` makes, from the built program.

    release_test.py release BUILD_DIR          zip, SBOM, checksums, manifests
    release_test.py signing BUILD_DIR WINE64   the signed program (under Wine)

The signing suite makes a throwaway CA, code-signing certificates and a
SoftHSM2 token under BUILD_DIR/signing at run time and removes them at the
end; passwords and PINs reach the tools through their environment or a
terminal, never a command line.
"""

import hashlib
import json
import os
import pty
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as cmake_lists:
    CMAKE_LISTS = cmake_lists.read()
VERSION = re.search(r"project\(Kestrine VERSION (\S+)", CMAKE_LISTS)[1]
RELEASE_DATE = re.search(r"set\(KESTRINE_RELEASE_DATE (\S+)\)",
                         CMAKE_LISTS)[1]
NAME = f"Kestrine-{VERSION}-windows-x86_64"
BUILD_DIR = WINE64 = None
GITHUB = "https://github.com/kestrine/kestrine"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    with open(path, "rb") as file:
        return file.read()


def package(output_dir, exe=None, map_path=None, **settings):
    """Runs the packaging of `make dist` with only the given settings."""
    environ = {k: v for k, v in os.environ.items()
               if not k.startswith("KESTRINE_") and k != "SOURCE_DATE_EPOCH"}
    environ.update(settings)
    return subprocess.run(
        [sys.executable, os.path.join(SOURCE_DIR, "tools/package_release.py"),
         VERSION, RELEASE_DATE, exe or os.path.join(BUILD_DIR, "Kestrine.exe"),
         map_path or os.path.join(BUILD_DIR, "Kestrine.map"), SOURCE_DIR,
         output_dir], capture_output=True, text=True, env=environ)


def program_in(zip_path):
    with zipfile.ZipFile(zip_path) as archive:
        return archive.read(f"{NAME}/Kestrine.exe")


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = os.path.join(BUILD_DIR, "release-test")
        shutil.rmtree(cls.work, ignore_errors=True)
        cls.plain = os.path.join(cls.work, "plain")
        cls.plain_run = package(cls.plain)
        assert cls.plain_run.returncode == 0, cls.plain_run.stderr

    def test_sbom_names_the_program_and_what_it_links(self):
        sbom = json.loads(read(os.path.join(self.plain, f"{NAME}.spdx.json")))
        program = program_in(os.path.join(self.plain, f"{NAME}.zip"))
        self.assertEqual(program, read(os.path.join(BUILD_DIR, "Kestrine.exe")))
        self.assertEqual(sbom["spdxVersion"], "SPDX-2.3")
        self.assertEqual(sbom["creationInfo"]["created"],
                         f"{RELEASE_DATE}T00:00:00Z")
        self.assertIn(f"{VERSION}-{sha256(program)}", sbom["documentNamespace"])
        packages = {p["SPDXID"]: p for p in sbom["packages"]}
        kestrine = packages["SPDXRef-Package-Kestrine"]
        self.assertEqual(
            (kestrine["versionInfo"], kestrine["licenseConcluded"],
             kestrine["supplier"], kestrine["packageFileName"],
             kestrine["checksums"]),
            (VERSION, "MIT", "Organization: The Kestrine Authors",
             f"{NAME}.zip", [{"algorithm": "SHA256",
                              "checksumValue": sha256(program)}]))
        links = {(r["spdxElementId"], r["relationshipType"],
                  packages[r["relatedSpdxElement"]]["name"])
                 for r in sbom["relationships"]}
        self.assertEqual(links, {
            ("SPDXRef-DOCUMENT", "DESCRIBES", "Kestrine"),
            *{("SPDXRef-Package-Kestrine", "STATIC_LINK", runtime)
              for runtime in ("GCC runtime", "MinGW-w64 runtime",
                              "winpthreads")},
            *{("SPDXRef-Package-Kestrine", "DYNAMIC_LINK", dll)
              for dll in ("KERNEL32.dll", "msvcrt.dll", "ole32.dll")}})
        files = {f["SPDXID"]: f for f in sbom["files"]}
        licences = {"GCC runtime": "GPL-3.0-or-later WITH GCC-exception-3.1",
                    "MinGW-w64 runtime": "ZPL-2.1 AND",
                    "winpthreads": "ZPL-2.1 AND MIT AND"}
        for runtime in (p for p in packages.values() if "hasFiles" in p):
            self.assertTrue(runtime["licenseConcluded"].startswith(
                licences[runtime["name"]]), runtime["licenseConcluded"])
            for file_id in runtime["hasFiles"]:
                path = files[file_id]["fileName"][1:]
                self.assertEqual(files[file_id]["checksums"][1]["checksumValue"],
                                 sha256(read(path)))
                # The version is that of the Debian package the file is from.
                owner = subprocess.run(["dpkg", "-S", path], text=True,
                                       capture_output=True).stdout.split(":")[0]
                fields = subprocess.run(
                    ["dpkg-query", "-W", "-f=${Version} ${source:Package} "
                     "${source:Version}", owner], text=True,
                    capture_output=True).stdout.split()
                self.assertEqual(runtime["versionInfo"], fields[0])
                self.assertIn(f"pkg:deb/debian/{fields[1]}@{fields[2]}",
                              runtime["externalRefs"][0]["referenceLocator"])
        refs = set(re.findall(r"LicenseRef-[\w.-]+", json.dumps(sbom["packages"])))
        self.assertEqual(refs, {info["licenseId"] for info in
                                sbom["hasExtractedLicensingInfos"]})

    def test_checksums_cover_the_zip_and_the_sbom(self):
        sums = read(os.path.join(self.plain, "SHA256SUMS")).decode()
        self.assertEqual(sums, "".join(
            f"{sha256(read(os.path.join(self.plain, name)))}  {name}\n"
            for name in (f"{NAME}.zip", f"{NAME}.spdx.json")))

    def test_manifests_follow_the_release_url_or_are_not_made(self):
        zip_url = f"{GITHUB}/releases/download/v{VERSION}/{NAME}.zip"
        rows = [
            # settings, the line expected (stdout or stderr), made or not
            ({}, "no winget or Scoop manifests: set KESTRINE_RELEASE_URL", False),
            ({"KESTRINE_RELEASE_URL": f"{GITHUB}/releases/download/v{VERSION}/",
              "KESTRINE_HOMEPAGE": GITHUB}, zip_url, True),
            ({"KESTRINE_RELEASE_URL": "https://example.org/kestrine",
              "KESTRINE_HOMEPAGE": GITHUB},
             f"https://example.org/kestrine/{NAME}.zip", True),
            ({"KESTRINE_RELEASE_URL": "http://example.org/kestrine/",
              "KESTRINE_HOMEPAGE": GITHUB},
             "dist: KESTRINE_RELEASE_URL: is not an https URL", None),
            ({"KESTRINE_RELEASE_URL": f"{GITHUB}/releases/download/v1/",
              "KESTRINE_HOMEPAGE": "ftp://example.org"},
             "dist: KESTRINE_HOMEPAGE: is not an https URL", None),
            ({"KESTRINE_RELEASE_URL": f"{GITHUB}/releases/download/v1/"},
             "dist: KESTRINE_HOMEPAGE: must be set too", None),
        ]
        zip_sha = sha256(read(os.path.join(self.plain, f"{NAME}.zip")))
        for number, (settings, line, made) in enumerate(rows):
            with self.subTest(settings=settings):
                # Without settings, the release made for the other tests.
                output = (os.path.join(self.work, f"manifests{number}")
                          if settings else self.plain)
                run = package(output, **settings) if settings else self.plain_run
                if made is None:
                    assert_failed_with(self, run, line, output)
                    continue
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertIn(line, run.stdout)
                made_files = sorted(os.listdir(output))
                if not made:
                    self.assertNotIn("kestrine.json", made_files)
                    self.assertNotIn("winget", made_files)
                    continue
                installer = read(os.path.join(
                    output, "winget", "Kestrine.Kestrine.installer.yaml")).decode()
                self.assertIn(f'InstallerUrl: "{line}"', installer)
                self.assertIn(f'InstallerSha256: "{zip_sha.upper()}"', installer)
                self.assertIn(f'RelativeFilePath: "{NAME}\\\\Kestrine.exe"',
                              installer)
                self.assertEqual(sorted(os.listdir(os.path.join(output, "winget"))),
                                 ["Kestrine.Kestrine.installer.yaml",
                                  "Kestrine.Kestrine.locale.en-US.yaml",
                                  "Kestrine.Kestrine.yaml"])
                scoop = json.loads(read(os.path.join(output, "kestrine.json")))
                self.assertEqual(
                    (scoop["version"], scoop["architecture"]["64bit"],
                     scoop["extract_dir"], scoop["homepage"]),
                    (VERSION, {"url": line, "hash": zip_sha}, NAME, GITHUB))
                self.assertEqual("checkver" in scoop, line == zip_url)

    def test_a_linked_file_without_a_known_notice_stops_the_release(self):
        fake_map = os.path.join(self.work, "fake.map")
        with open(fake_map, "w") as file:
            file.write(read(os.path.join(BUILD_DIR, "Kestrine.map")).decode(
                errors="replace") + "/usr/lib/x86_64-linux-gnu/libz.a(x.o)\n")
        output = os.path.join(self.work, "unknown")
        run = package(output, map_path=fake_map)
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("libz.a: linked, but no notice is known for it",
                      run.stderr)
        self.assertEqual(os.listdir(output), [])


def assert_failed_with(test, run, line, output):
    """A refused setting: one line naming it, status 1, no release left."""
    test.assertEqual(run.returncode, 1, run.stdout)
    test.assertEqual(run.stderr.count("\n"), 1, run.stderr)
    test.assertTrue(run.stderr.startswith(line), run.stderr)
    test.assertEqual(os.listdir(output), [])


def answer_pins(command, pin, environ):
    """Runs a SoftHSM2 tool that asks for PINs at a terminal, answering each
    prompt with |pin|."""
    controller, terminal = pty.openpty()
    process = subprocess.Popen(command, stdin=terminal, stdout=terminal,
                               stderr=terminal, env=environ)
    os.close(terminal)
    said = b""
    while True:
        try:
            chunk = os.read(controller, 4096)
        except OSError:  # the tool has closed the terminal
            break
        if not chunk:
            break
        said += chunk
        if said.rstrip().endswith(b"PIN:"):
            said = b""
            os.write(controller, pin.encode() + b"\n")
    os.close(controller)
    assert process.wait(timeout=30) == 0, said


class Signing(unittest.TestCase):
    PASSWORD = "throwaway p12 password"
    PIN = "482916"

    @classmethod
    def openssl(cls, *args):
        subprocess.run(["openssl", *args], check=True, capture_output=True,
                       cwd=cls.work, env=cls.environ)

    @classmethod
    def setUpClass(cls):
        cls.work = os.path.join(BUILD_DIR, "signing")
        shutil.rmtree(cls.work, ignore_errors=True)
        os.makedirs(os.path.join(cls.work, "tokens"))
        cls.environ = dict(os.environ, TEST_PASSWORD=cls.PASSWORD,
                           SOFTHSM2_CONF=os.path.join(cls.work, "softhsm2.conf"))
        with open(os.path.join(cls.work, "x509.cnf"), "w") as file:
            file.write("[req]\ndistinguished_name=dn\n[dn]\n"
                       "[ca]\nbasicConstraints=critical,CA:true\n"
                       "keyUsage=critical,keyCertSign\n"
                       "[code]\nkeyUsage=critical,digitalSignature\n"
                       "extendedKeyUsage=codeSigning\n"
                       "[server]\nkeyUsage=critical,digitalSignature\n"
                       "extendedKeyUsage=serverAuth\n")
        cls.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                    "ca.key", "-out", "ca.pem", "-days", "30", "-subj",
                    "/CN=Kestrine Throwaway CA", "-config", "x509.cnf",
                    "-extensions", "ca")
        for key in ("signer", "other"):
            cls.openssl("req", "-new", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", f"{key}.key", "-out", f"{key}.csr", "-subj",
                        f"/CN=Kestrine {key}", "-config", "x509.cnf")
        # The signer's key with a code-signing and a server certificate, and
        # another key with a code-signing certificate.
        for key, usage in (("signer", "code"), ("signer", "server"),
                           ("other", "code")):
            cls.openssl("x509", "-req", "-in", f"{key}.csr", "-CA", "ca.pem",
                        "-CAkey", "ca.key", "-days", "30", "-extfile",
                        "x509.cnf", "-extensions", usage, "-out",
                        f"{key}-{usage}.pem")
            with open(os.path.join(cls.work, f"{key}-{usage}-chain.pem"),
                      "wb") as chain:
                chain.write(read(os.path.join(cls.work, f"{key}-{usage}.pem"))
                            + read(os.path.join(cls.work, "ca.pem")))
            cls.openssl("pkcs12", "-export", "-inkey", f"{key}.key", "-in",
                        f"{key}-{usage}.pem", "-certfile", "ca.pem", "-out",
                        f"{key}-{usage}.p12", "-passout", "env:TEST_PASSWORD")
        with open(cls.environ["SOFTHSM2_CONF"], "w") as file:
            file.write(f"directories.tokendir = {cls.work}/tokens\n"
                       "objectstore.backend = file\nlog.level = ERROR\n")
        cls.openssl("pkcs8", "-topk8", "-nocrypt", "-in", "signer.key", "-out",
                    "signer.p8")
        answer_pins(["softhsm2-util", "--init-token", "--free", "--label",
                     "kestrine"], cls.PIN, cls.environ)
        answer_pins(["softhsm2-util", "--import", os.path.join(
            cls.work, "signer.p8"), "--token", "kestrine", "--label", "signer",
                     "--id", "01"], cls.PIN, cls.environ)
        cls.module = next(path for path in (
            "/usr/lib/softhsm/libsofthsm2.so",
            "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so")
            if os.path.exists(path))
        cls.token = "pkcs11:token=kestrine;object=signer;type=private"
        # The signing tools, behind stand-ins that log their command lines,
        # on which no password or PIN may ever stand.
        cls.command_lines = os.path.join(cls.work, "command-lines")
        cls.tools = os.path.join(cls.work, "tools")
        os.makedirs(cls.tools)
        for tool in ("osslsigncode", "openssl"):
            with open(os.path.join(cls.tools, tool), "w") as stand_in:
                stand_in.write(f'#!/bin/sh\necho {tool} "$*" >>'
                               f' "{cls.command_lines}"\n'
                               f'exec "{shutil.which(tool)}" "$@"\n')
            os.chmod(os.path.join(cls.tools, tool), 0o755)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.work, name)

    def with_pkcs12(self, name="signer-code.p12", **more):
        return {"KESTRINE_SIGN_PKCS12": self.file(name),
                "KESTRINE_SIGN_PASSWORD": self.PASSWORD,
                "PATH": self.tools + os.pathsep + os.environ["PATH"], **more}

    def with_token(self, uri_suffix="", certs="signer-code-chain.pem", **more):
        return {"KESTRINE_SIGN_PKCS11_MODULE": self.module,
                "KESTRINE_SIGN_PKCS11_KEY": self.token + uri_suffix,
                "KESTRINE_SIGN_CERTS": self.file(certs),
                "SOFTHSM2_CONF": self.environ["SOFTHSM2_CONF"],
                "PATH": self.tools + os.pathsep + os.environ["PATH"], **more}

    def wine(self, *args, **environ):
        return subprocess.run([WINE64, *args], capture_output=True, text=True,
                              env=dict(os.environ, **environ), timeout=120)

    def test_file_and_token_sign_alike_and_windows_trusts_it(self):
        signed = {}
        for how, settings in (
                ("pkcs12", self.with_pkcs12()),
                ("token", self.with_token(KESTRINE_SIGN_PASSWORD=self.PIN)),
                ("pin in uri", self.with_token(f";pin-value={self.PIN}"))):
            output = self.file(f"dist-{how}")
            run = package(output, **settings)
            self.assertEqual(run.returncode, 0, run.stderr)
            signed[how] = program_in(os.path.join(output, f"{NAME}.zip"))
            sbom = json.loads(read(os.path.join(output, f"{NAME}.spdx.json")))
            self.assertEqual(sbom["packages"][0]["checksums"][0]["checksumValue"],
                             sha256(signed[how]))
        self.assertEqual(len(set(signed.values())), 1)
        program = self.file("Kestrine.exe")
        with open(program, "wb") as file:
            file.write(signed["pkcs12"])

        verified = subprocess.run(
            ["osslsigncode", "verify", "-in", program, "-CAfile",
             self.file("ca.pem")], capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout)
        unsigned = os.path.join(BUILD_DIR, "Kestrine.exe")
        removed = self.file("removed.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", program,
                        "-out", removed], check=True, capture_output=True)
        self.assertEqual(read(removed), read(unsigned))
        self.assert_no_secret_on_a_command_line()

        tampered = bytearray(signed["pkcs12"])
        tampered[0x1000] ^= 1  # in the code
        with open(self.file("tampered.exe"), "wb") as file:
            file.write(tampered)
        verify_trust = os.path.join(BUILD_DIR, "verify_trust.exe")
        for path, results in (
                (program, {"0x00000000", "0x800B0109"}),  # or untrusted root
                (self.file("tampered.exe"), {"0x80096010"}),  # bad digest
                (unsigned, {"0x800B0100"})):  # no signature
            with self.subTest(verify_trust=os.path.basename(path)):
                self.assertIn(self.wine(verify_trust, path).stdout.strip(),
                              results)

        image = self.wine(os.path.join(BUILD_DIR, "kestrine_image_test.exe"),
                          KESTRINE_IMAGE=program)
        self.assertEqual(image.returncode, 0, image.stdout)
        smoke = subprocess.run(
            ["sh", os.path.join(SOURCE_DIR, "tools/smoke.sh"), program, WINE64],
            capture_output=True, text=True, timeout=120)
        self.assertIn("smoke: passed: GetVolume reported", smoke.stdout,
                      smoke.stderr)

    def test_a_bad_setting_stops_with_its_line_and_leaves_nothing(self):
        rows = [
            (self.with_pkcs12(KESTRINE_SIGN_PASSWORD="wrong"),
             "dist: KESTRINE_SIGN_PASSWORD: does not open"),
            (self.with_pkcs12("missing.p12"),
             "dist: KESTRINE_SIGN_PKCS12: cannot read"),
            (self.with_pkcs12("signer-server.p12"),
             "dist: KESTRINE_SIGN_PKCS12: the certificate of CN = Kestrine "
             "signer is not for code signing"),
            # A chain that stops short of its root verifies nothing.
            (self.with_pkcs12(KESTRINE_SIGN_CERTS=self.file("signer-code.pem")),
             "dist: KESTRINE_SIGN_CERTS: the signature does not verify"),
            (self.with_token(certs="signer-server-chain.pem",
                             KESTRINE_SIGN_PASSWORD=self.PIN),
             "dist: KESTRINE_SIGN_CERTS: the certificate of CN = Kestrine "
             "signer is not for code signing"),
            (self.with_token(certs="other-code-chain.pem",
                             KESTRINE_SIGN_PASSWORD=self.PIN),
             "dist: KESTRINE_SIGN_PKCS11_KEY: does not hold the private key"),
            (self.with_token(KESTRINE_SIGN_PASSWORD="000000"),
             "dist: KESTRINE_SIGN_PASSWORD: is not the token's PIN"),
            (self.with_token(";pin-value=000000"),
             "dist: KESTRINE_SIGN_PKCS11_KEY: has a pin-value that is not"),
            (dict(self.with_token(KESTRINE_SIGN_PASSWORD=self.PIN),
                  KESTRINE_SIGN_PKCS11_KEY="pkcs11:token=kestrine;object=none"),
             "dist: KESTRINE_SIGN_PKCS11_KEY: names no private key"),
            (self.with_token(KESTRINE_SIGN_PKCS11_MODULE=self.file("ca.pem"),
                             KESTRINE_SIGN_PASSWORD=self.PIN),
             "dist: KESTRINE_SIGN_PKCS11_MODULE: is not a PKCS#11 module"),
            (self.with_pkcs12(KESTRINE_TIMESTAMP_URL="http://127.0.0.1:9/"),
             "dist: KESTRINE_TIMESTAMP_URL: timestamping failed"),
            ({"KESTRINE_SIGN_PASSWORD": self.PASSWORD},
             "dist: KESTRINE_SIGN_PASSWORD: is set, but neither"),
        ]
        for number, (settings, line) in enumerate(rows):
            with self.subTest(line=line):
                output = self.file(f"refused{number}")
                # A release from an earlier run must not pass for this one's.
                os.makedirs(output)
                for stale in (f"{NAME}.zip", "SHA256SUMS"):
                    open(os.path.join(output, stale), "w").close()
                run = package(output, **settings)
                assert_failed_with(self, run, line, output)
                for secret in (self.PASSWORD, self.PIN, "wrong", "000000"):
                    self.assertNotIn(secret, run.stdout + run.stderr)
        self.assert_no_secret_on_a_command_line()

    def assert_no_secret_on_a_command_line(self):
        command_lines = read(self.command_lines).decode()
        self.assertIn("osslsigncode sign", command_lines)
        self.assertIn("openssl pkcs12", command_lines)
        for secret in (self.PASSWORD, self.PIN, "wrong", "000000"):
            self.assertNotIn(secret, command_lines)


if __name__ == "__main__":
    suite, BUILD_DIR = sys.argv[1], os.path.abspath(sys.argv[2])
    if suite == "signing":
        WINE64 = sys.argv[3]
    unittest.main(argv=[sys.argv[0], "-v", suite.capitalize()])
