"""Authenticode signing of the released program, with osslsigncode.

The key is a PKCS#12 file or a key on a PKCS#11 token; the settings come from
the environment and are read by signing_settings(). A password or PIN reaches
osslsigncode and openssl only through a pipe or their environment, never on a
command line, and is written to no file. Every failure is a SettingError that
names the setting at fault.
"""

import os
import re
import subprocess
import urllib.parse

PKCS12 = "KESTRINE_SIGN_PKCS12"
PASSWORD = "KESTRINE_SIGN_PASSWORD"
MODULE = "KESTRINE_SIGN_PKCS11_MODULE"
KEY = "KESTRINE_SIGN_PKCS11_KEY"
CERTS = "KESTRINE_SIGN_CERTS"
TIMESTAMP_URL = "KESTRINE_TIMESTAMP_URL"


class SettingError(Exception):
    """A setting that stops the release: str() is the one line to print."""

    def __init__(self, setting, problem):
        super().__init__(f"{setting}: {problem}")


def signing_settings(environ):
    """The signing settings, checked for what can be checked without the key,
    or None when none is set (the release is then unsigned)."""
    given = {name: environ[name]
             for name in (PKCS12, PASSWORD, MODULE, KEY, CERTS, TIMESTAMP_URL)
             if environ.get(name)}
    if not given:
        return None
    if PKCS12 in given and (MODULE in given or KEY in given):
        raise SettingError(PKCS12, f"set either it or {MODULE} and {KEY}, "
                           "not both")
    if PKCS12 not in given and KEY not in given and MODULE not in given:
        # A password or timestamp server alone: signing was meant, with no key.
        raise SettingError(next(iter(given)),
                           f"is set, but neither {PKCS12} nor {KEY} is")
    if PKCS12 not in given:
        for needed in (MODULE, KEY, CERTS):
            if needed not in given:
                raise SettingError(needed, "must be set to sign with a token")
        if not given[KEY].startswith("pkcs11:"):
            raise SettingError(KEY, "is not a pkcs11: URI")
    for name in (PKCS12, MODULE, CERTS):
        if name in given and not os.access(given[name], os.R_OK):
            raise SettingError(name, f"cannot read {given[name]}")
    if TIMESTAMP_URL in given and not re.match(r"https?://[^/\s]+",
                                               given[TIMESTAMP_URL]):
        raise SettingError(TIMESTAMP_URL, "is not an http or https URL")
    return given


def run(command, secret=None, **kwargs):
    """Runs |command| and returns it, handing |secret| over on a pipe whose
    path stands in the command as {secret}."""
    if secret is None:
        return subprocess.run(command, capture_output=True, text=True,
                              **kwargs)
    read_end, write_end = os.pipe()
    try:
        # A password is far smaller than a pipe's buffer, so this cannot block.
        os.write(write_end, secret.encode())
        os.close(write_end)
        write_end = None
        path = f"/dev/fd/{read_end}"
        return subprocess.run([part.replace("{secret}", path)
                               for part in command], capture_output=True,
                              text=True, pass_fds=(read_end,), **kwargs)
    finally:
        os.close(read_end)
        if write_end is not None:
            os.close(write_end)


def first_line(output):
    """The first line of a tool's output that says something."""
    for line in output.splitlines():
        if line.strip() and not line.startswith(('Engine "', "Connecting")):
            return line.strip()
    return "no reason given"


def certificates(settings, work_dir):
    """The signing certificate (PEM) and the file of the chain to verify
    against: KESTRINE_SIGN_CERTS, or else the certificates in the PKCS#12
    file."""
    if PKCS12 not in settings:
        return CERTS, settings[CERTS]
    environ = dict(os.environ, KESTRINE_OPENSSL_PASS=settings.get(PASSWORD,
                                                                  ""))
    extracted = run(["openssl", "pkcs12", "-in", settings[PKCS12], "-nokeys",
                     "-passin", "env:KESTRINE_OPENSSL_PASS"], env=environ)
    if extracted.returncode != 0:
        if PASSWORD not in settings:
            raise SettingError(PASSWORD, f"is not set, and {PKCS12} needs one")
        if re.search(r"[Mm]ac verify (error|failure)", extracted.stderr):
            raise SettingError(PASSWORD, f"does not open {settings[PKCS12]}")
        raise SettingError(PKCS12, f"is not a PKCS#12 file that openssl "
                           f"reads: {first_line(extracted.stderr)}")
    if CERTS in settings:
        return CERTS, settings[CERTS]
    chain = os.path.join(work_dir, "chain.pem")
    with open(chain, "w", encoding="ascii") as file:
        file.write(extracted.stdout)
    return PKCS12, chain


def check_code_signing_usage(setting, pem):
    """A certificate whose extended key usage leaves out code signing makes
    a signature that Windows rejects; one without the extension is good for
    every use."""
    usage = run(["openssl", "x509", "-in", pem, "-noout", "-subject", "-ext",
                 "extendedKeyUsage"])
    if usage.returncode != 0:
        raise SettingError(setting, f"holds no certificate: "
                           f"{first_line(usage.stderr)}")
    subject, _, extensions = usage.stdout.partition("\n")
    if "Extended Key Usage" in extensions and "Code Signing" not in extensions:
        subject = subject.strip().removeprefix("subject=").strip()
        raise SettingError(setting, f"the certificate of {subject} is not "
                           "for code signing")


# What osslsigncode says when a key cannot be used, and the setting at fault.
SIGNING_FAILURES = [
    (r"mac verify failure|Wrong password", PASSWORD, "does not open {pkcs12}"),
    (r"PIN incorrect|PIN_INCORRECT|Login failed", "pin",
     "{pin} not the token's PIN"),
    (r"Unable to load (the )?(PKCS#11 )?module", MODULE,
     "is not a PKCS#11 module that loads"),
    (r"private key was not found|object not found", KEY,
     "names no private key on the token"),
    (r"key values mismatch|consistency of a private key", "key",
     "does not hold the private key of the certificate in {certs}"),
    (r"timestamping failed|HTTP failure", TIMESTAMP_URL,
     "timestamping failed: {reason}"),
]


def sign(settings, unsigned, signed, epoch, work_dir):
    """Signs |unsigned| into |signed| and verifies the signature against the
    chain given, or raises SettingError."""
    chain_setting, chain = certificates(settings, work_dir)
    check_code_signing_usage(chain_setting, chain)

    command = ["osslsigncode", "sign", "-h", "sha256", "-n", "Kestrine"]
    secret = settings.get(PASSWORD)
    pin_setting = PASSWORD
    if PKCS12 in settings:
        command += ["-pkcs12", settings[PKCS12]]
        key_setting = PKCS12
    else:
        # A PIN in the URI (percent-encoded, RFC 7512) is taken out of it, so
        # that it is not on the command line.
        uri = settings[KEY]
        pin = re.search(r"[;?&]pin-value=([^;?&]*)", uri)
        if pin:
            uri = uri[:pin.start()] + uri[pin.end():]
            secret, pin_setting = urllib.parse.unquote(pin[1]), KEY
        command += ["-pkcs11module", settings[MODULE], "-key", uri,
                    "-certs", settings[CERTS]]
        key_setting = KEY
    if secret is not None:
        command += ["-readpass", "{secret}"]
    if TIMESTAMP_URL in settings:
        command += ["-ts", settings[TIMESTAMP_URL]]
    else:
        # A fixed signing time: the same key then gives the same bytes.
        command += ["-time", str(epoch)]
    command += ["-in", unsigned, "-out", signed]

    result = run(command, secret=secret, stdin=subprocess.DEVNULL)
    if result.returncode != 0 or not os.path.exists(signed):
        output = result.stderr + result.stdout
        for pattern, setting, problem in SIGNING_FAILURES:
            if re.search(pattern, output):
                setting = {"pin": pin_setting, "key": key_setting}.get(
                    setting, setting)
                raise SettingError(setting, problem.format(
                    pkcs12=settings.get(PKCS12),
                    certs=settings[chain_setting],
                    pin="is" if pin_setting == PASSWORD
                    else "has a pin-value that is",
                    reason=first_line(output)))
        raise SettingError(key_setting, "osslsigncode cannot sign with it: "
                           + first_line(output))

    verified = run(["osslsigncode", "verify", "-in", signed, "-CAfile", chain],
                   stdin=subprocess.DEVNULL)
    if (verified.returncode != 0
            or "Signature verification: ok" not in verified.stdout):
        output = verified.stderr + verified.stdout
        reason = (re.search(r"Verify error: *(.+)", output)
                  or re.search(r"^(?:\w+:error:\w+:)?(.*(?:[Ee]rror|[Ff]ailed|"
                               r"Unsupported).*)$", output, re.M))
        raise SettingError(chain_setting, "the signature does not verify "
                           "against this chain: "
                           + (reason[1].strip() if reason else "failed"))
