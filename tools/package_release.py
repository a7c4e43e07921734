#!/usr/bin/env python3
"""Makes the release of Kestrine in OUTPUT_DIR:

  Kestrine-<version>-windows-x86_64.zip        the program, README.txt,
                                               LICENSE.txt, THIRD-PARTY-NOTICES
  Kestrine-<version>-windows-x86_64.spdx.json  its SBOM
  SHA256SUMS                                   of the two
  winget/, kestrine.json                       install manifests, when
                                               KESTRINE_RELEASE_URL and
                                               KESTRINE_HOMEPAGE are set

    package_release.py VERSION RELEASE_DATE EXE MAP SOURCE_DIR OUTPUT_DIR

The program is signed when signing settings are given (see authenticode.py).
The date of the release is RELEASE_DATE (YYYY-MM-DD) at midnight UTC, or
SOURCE_DATE_EPOCH when that is set. The bytes of every file depend on the
sources, the toolchain and the settings only.

Everything is made in a stage folder and moved into place only once all of it
is made, so a run that fails leaves no release behind; a bad setting stops it
with one line that names the setting.
"""

import datetime
import os
import re
import shutil
import subprocess
import sys

import authenticode
import linked_components
import release_documents
import zip_release

RELEASE_URL = "KESTRINE_RELEASE_URL"
HOMEPAGE = "KESTRINE_HOMEPAGE"


def https_setting(name):
    value = os.environ.get(name, "")
    if value and not re.match(r"https://[^/\s]+(/\S*)?$", value):
        raise authenticode.SettingError(name, f"is not an https URL: {value}")
    return value


def release_time(release_date):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        epoch = os.environ["SOURCE_DATE_EPOCH"]
        if not epoch.isdigit():
            raise authenticode.SettingError("SOURCE_DATE_EPOCH",
                                            f"is not a number: {epoch}")
        return datetime.datetime.fromtimestamp(int(epoch),
                                               datetime.timezone.utc)
    return datetime.datetime.fromisoformat(release_date + "T00:00:00+00:00")


def write_text(path, text, newline="\n"):
    with open(path, "w", encoding="utf-8", newline=newline) as file:
        file.write(text)


def write_crlf(path, text):
    """Notepad and `type` want CR LF."""
    write_text(path, text.replace("\r\n", "\n"), newline="\r\n")


def readme_text(source_dir, version):
    """README.txt: the Windows user's part of README.md, as plain text."""
    with open(os.path.join(source_dir, "README.md"), encoding="utf-8") as file:
        found = re.search(r"<!-- windows-readme: begin -->\n(.*)"
                          r"<!-- windows-readme: end -->", file.read(), re.S)
    if found is None:
        raise SystemExit("dist: README.md has no windows-readme block")
    text = re.sub(r"```[a-z]*\n", "", found[1]).replace("`", "")
    text = re.sub(r"(^|\n)## ", r"\1", text)
    return f"Kestrine {version}\n\n{text}"


def imported_dlls(exe):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe],
                          capture_output=True, text=True, check=True).stdout
    return re.findall(r"DLL Name: (\S+)", dump)


def package(version, release_date, exe, map_path, source_dir, output_dir):
    signing = authenticode.signing_settings(os.environ)
    release_url, homepage = https_setting(RELEASE_URL), https_setting(HOMEPAGE)
    if bool(release_url) != bool(homepage):
        missing = HOMEPAGE if release_url else RELEASE_URL
        raise authenticode.SettingError(missing, "must be set too, to make "
                                        "the install manifests")
    if release_url and not release_url.endswith("/"):
        release_url += "/"
    when = release_time(release_date)

    name = f"Kestrine-{version}-windows-x86_64"
    zip_name, sbom_name = f"{name}.zip", f"{name}.spdx.json"
    stage = os.path.join(output_dir, "stage")
    folder = os.path.join(stage, name)
    os.makedirs(folder)

    components, import_libraries, problems = linked_components.trace(map_path)
    if problems:
        for problem in problems:
            print(f"third-party notices: {problem}", file=sys.stderr)
        raise SystemExit(1)
    for entry in components:
        print(f"third-party notices: {entry['component']['name']}: "
              + ", ".join(sorted({os.path.basename(p)
                                  for p in entry["paths"]})))
    write_crlf(os.path.join(folder, "README.txt"),
               readme_text(source_dir, version))
    with open(os.path.join(source_dir, "LICENSE"), encoding="utf-8") as file:
        write_crlf(os.path.join(folder, "LICENSE.txt"), file.read())
    write_crlf(os.path.join(folder, "THIRD-PARTY-NOTICES.txt"),
               linked_components.notices_text(components, import_libraries))

    program = os.path.join(folder, "Kestrine.exe")
    if signing:
        authenticode.sign(signing, exe, program, int(when.timestamp()), stage)
        print("signed Kestrine.exe, verified against its chain")
    else:
        shutil.copyfile(exe, program)

    zip_release.write(os.path.join(stage, zip_name), when, stage,
                      [f"{name}/{entry}" for entry in (
                          "Kestrine.exe", "README.txt", "LICENSE.txt",
                          "THIRD-PARTY-NOTICES.txt")])
    write_text(os.path.join(stage, sbom_name), release_documents.sbom(
        version, when.strftime("%Y-%m-%dT%H:%M:%SZ"), program, zip_name,
        components, imported_dlls(program)))
    artefacts = [zip_name, sbom_name]
    write_text(os.path.join(stage, "SHA256SUMS"), "".join(
        f"{release_documents.file_digest(os.path.join(stage, artefact))}"
        f"  {artefact}\n" for artefact in artefacts))
    artefacts.append("SHA256SUMS")

    zip_sha = release_documents.file_digest(os.path.join(stage, zip_name))
    if release_url:
        os.makedirs(os.path.join(stage, "winget"))
        manifests = release_documents.winget_manifests(
            version, when.strftime("%Y-%m-%d"), homepage,
            release_url + zip_name, zip_sha, name)
        for manifest, text in manifests.items():
            write_text(os.path.join(stage, "winget", manifest), text)
        write_text(os.path.join(stage, "kestrine.json"),
                   release_documents.scoop_manifest(
                       version, homepage, release_url, zip_name, zip_sha,
                       name))
        artefacts += ["winget", "kestrine.json"]

    # Everything is made: move it into place.
    for artefact in artefacts:
        os.replace(os.path.join(stage, artefact),
                   os.path.join(output_dir, artefact))
    print(f"{os.path.join(output_dir, zip_name)}\n   sha256 {zip_sha}")
    if release_url:
        print(f"winget and Scoop manifests for {release_url + zip_name}: "
              f"{os.path.join(output_dir, 'winget')}, "
              f"{os.path.join(output_dir, 'kestrine.json')}")
    else:
        print(f"no winget or Scoop manifests: set {RELEASE_URL} (the https "
              f"folder the release's files are downloaded from) and "
              f"{HOMEPAGE} to make them")


def main(argv):
    if len(argv) != 7:
        sys.exit(f"usage: {argv[0]} VERSION RELEASE_DATE EXE MAP SOURCE_DIR "
                 "OUTPUT_DIR")
    output_dir = argv[6]
    # Nothing from an earlier run may pass for this run's release.
    os.makedirs(output_dir, exist_ok=True)
    for stale in ("stage", "winget"):
        shutil.rmtree(os.path.join(output_dir, stale), ignore_errors=True)
    for stale in os.listdir(output_dir):
        if re.match(r"Kestrine-.*\.(zip|spdx\.json)$|SHA256SUMS$|"
                    r"kestrine\.json$", stale):
            os.remove(os.path.join(output_dir, stale))
    try:
        package(*argv[1:])
    except authenticode.SettingError as error:
        print(f"dist: {error}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(os.path.join(output_dir, "stage"), ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
