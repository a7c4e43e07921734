"""The release's documents for other tools: an SPDX 2.3 SBOM of the program,
and the winget and Scoop manifests that install the zip.

Every value comes from the release itself (version, date, hashes, the trace
of the link), so the same release always gives the same bytes.
"""

import hashlib
import json
import os
import re

PUBLISHER = "The Kestrine Authors"
COPYRIGHT = f"Copyright (c) 2026 {PUBLISHER}"  # as LICENSE says
DESCRIPTION = ("Gets or sets the master volume of the default audio output "
               "device from the command line.")
WINGET_ID = "Kestrine.Kestrine"
WINGET_MANIFEST_VERSION = "1.10.0"


def file_digest(path, algorithm="sha256"):
    with open(path, "rb") as file:
        return hashlib.file_digest(file, algorithm).hexdigest()


def spdx_id(text):
    return "SPDXRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", text)


def sbom(version, created, exe, zip_name, components, imported_dlls):
    """The SPDX 2.3 JSON document for the program |exe| as shipped in
    |zip_name|, statically linked with the traced |components| and importing
    the Windows system DLLs |imported_dlls|."""
    program_sha = file_digest(exe)
    program = {
        "SPDXID": "SPDXRef-Package-Kestrine",
        "name": "Kestrine",
        "versionInfo": version,
        "packageFileName": zip_name,
        "supplier": f"Organization: {PUBLISHER}",
        "originator": f"Organization: {PUBLISHER}",
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "checksums": [{"algorithm": "SHA256", "checksumValue": program_sha}],
        "licenseConcluded": "MIT",
        "licenseDeclared": "MIT",
        "copyrightText": COPYRIGHT,
        "primaryPackagePurpose": "APPLICATION",
        "comment": "The checksum is that of Kestrine.exe as it stands in "
                   "the zip.",
    }
    packages = [program]
    files = []
    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT",
                      "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": program["SPDXID"]}]
    extracted = {}
    for entry in components:
        component = entry["component"]
        name, fields = sorted(entry["packages"].items())[0]
        package_id = spdx_id("Package-" + component["id"])
        file_ids = []
        sha1s = []
        for path in sorted(entry["paths"]):
            sha1 = file_digest(path, "sha1")
            sha1s.append(sha1)
            file_ids.append(spdx_id("File-" + component["id"] + "-"
                                    + os.path.basename(path)))
            files.append({
                "SPDXID": file_ids[-1],
                "fileName": "." + path,
                "checksums": [
                    {"algorithm": "SHA1", "checksumValue": sha1},
                    {"algorithm": "SHA256", "checksumValue": file_digest(path)},
                ],
                "licenseConcluded": entry["licence"],
                "copyrightText": "NOASSERTION",
            })
        built_from = ", ".join(f"{package} {details['version']}"
                               for package, details in sorted(
                                   entry["packages"].items()))
        packages.append({
            "SPDXID": package_id,
            "name": component["short_name"],
            "versionInfo": fields["version"],
            "supplier": "Organization: Debian",
            "downloadLocation": "NOASSERTION",
            "sourceInfo": f"Debian source package {fields['source']} "
                          f"{fields['source_version']}, binary package(s) "
                          f"{built_from}",
            "filesAnalyzed": True,
            "hasFiles": file_ids,
            "packageVerificationCode": {"packageVerificationCodeValue":
                                        hashlib.sha1("".join(sorted(sha1s))
                                                     .encode()).hexdigest()},
            "licenseConcluded": entry["licence"],
            "licenseDeclared": entry["licence"],
            "copyrightText": f"See {entry['copyright']}",
            "primaryPackagePurpose": "LIBRARY",
            "externalRefs": [{
                "referenceCategory": "PACKAGE-MANAGER",
                "referenceType": "purl",
                "referenceLocator": f"pkg:deb/debian/{fields['source']}@"
                                    f"{fields['source_version']}?arch=source",
            }],
        })
        relationships.append({"spdxElementId": program["SPDXID"],
                              "relationshipType": "STATIC_LINK",
                              "relatedSpdxElement": package_id})
        for licence_id, text in entry["extracted"].items():
            extracted.setdefault(licence_id, {
                "licenseId": licence_id,
                "name": licence_id[len("LicenseRef-"):],
                "extractedText": text,
                "comment": f"As {entry['copyright']} states it.",
            })
    for dll in imported_dlls:
        package_id = spdx_id("Package-Windows-" + dll)
        packages.append({
            "SPDXID": package_id,
            "name": dll,
            "supplier": "Organization: Microsoft Corporation",
            "downloadLocation": "NONE",
            "filesAnalyzed": False,
            "licenseConcluded": "NOASSERTION",
            "licenseDeclared": "NOASSERTION",
            "copyrightText": "NOASSERTION",
            "primaryPackagePurpose": "OPERATING_SYSTEM",
            "comment": "Part of Windows; imported at run time, not shipped.",
        })
        relationships.append({"spdxElementId": program["SPDXID"],
                              "relationshipType": "DYNAMIC_LINK",
                              "relatedSpdxElement": package_id})
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": os.path.splitext(zip_name)[0],
        "documentNamespace": f"https://spdx.org/spdxdocs/Kestrine-{version}-"
                             f"{program_sha}",
        "creationInfo": {
            "created": created,
            "creators": [f"Organization: {PUBLISHER}",
                         "Tool: Kestrine-package_release"],
        },
        "packages": packages,
        "files": files,
        "relationships": relationships,
    }
    if extracted:
        document["hasExtractedLicensingInfos"] = list(extracted.values())
    return json.dumps(document, indent=2) + "\n"


def yaml_document(schema, fields):
    """A winget manifest file: |fields| as YAML, block style, with every
    string JSON-quoted (which YAML reads as it is)."""
    lines = [f"# yaml-language-server: $schema=https://aka.ms/"
             f"winget-manifest.{schema}.{WINGET_MANIFEST_VERSION}.schema.json"]

    def emit(value, indent):
        if isinstance(value, list):
            for item in value:
                if isinstance(item, dict):
                    first = len(lines)
                    emit(item, indent + "  ")
                    lines[first] = indent + "- " + lines[first].lstrip()
                else:
                    lines.append(f"{indent}- {json.dumps(item)}")
            return
        for key, item in value.items():
            if isinstance(item, (dict, list)):
                lines.append(f"{indent}{key}:")
                emit(item, indent + "  ")
            else:
                lines.append(f"{indent}{key}: {json.dumps(item)}")

    emit(fields, "")
    return "\n".join(lines) + "\n"


def winget_manifests(version, release_date, homepage, zip_url, zip_sha,
                     folder):
    """The three files of a winget multi-file manifest: {file name: text}."""
    common = {"PackageIdentifier": WINGET_ID, "PackageVersion": version}
    trailer = {"ManifestVersion": WINGET_MANIFEST_VERSION}
    return {
        f"{WINGET_ID}.yaml": yaml_document("version", {
            **common, "DefaultLocale": "en-US", "ManifestType": "version",
            **trailer}),
        f"{WINGET_ID}.locale.en-US.yaml": yaml_document("defaultLocale", {
            **common, "PackageLocale": "en-US", "Publisher": PUBLISHER,
            "PackageName": "Kestrine", "PackageUrl": homepage,
            "License": "MIT", "ShortDescription": DESCRIPTION,
            "Moniker": "kestrine", "Tags": ["audio", "volume", "cli"],
            "ManifestType": "defaultLocale", **trailer}),
        f"{WINGET_ID}.installer.yaml": yaml_document("installer", {
            **common, "InstallerType": "zip",
            "NestedInstallerType": "portable",
            "NestedInstallerFiles": [{
                "RelativeFilePath": f"{folder}\\Kestrine.exe",
                "PortableCommandAlias": "kestrine"}],
            "ReleaseDate": release_date,
            "Installers": [{"Architecture": "x64", "InstallerUrl": zip_url,
                            "InstallerSha256": zip_sha.upper()}],
            "ManifestType": "installer", **trailer}),
    }


def scoop_manifest(version, homepage, release_url, zip_name, zip_sha, folder):
    """The Scoop manifest, with checkver and autoupdate when the release is
    a GitHub release, whose later versions Scoop can then find itself."""
    manifest = {
        "version": version,
        "description": DESCRIPTION,
        "homepage": homepage,
        "license": "MIT",
        "architecture": {"64bit": {"url": release_url + zip_name,
                                   "hash": zip_sha}},
        "extract_dir": folder,
        "bin": "Kestrine.exe",
    }
    github = re.match(r"(https://github\.com/[^/]+/[^/]+)/releases/download/"
                      r"[^/]+/$", release_url)
    if github:
        generic = folder.replace(version, "$version")
        manifest["checkver"] = {"github": github[1]}
        manifest["autoupdate"] = {
            "architecture": {"64bit": {
                "url": f"{github[1]}/releases/download/v$version/"
                       f"{zip_name.replace(version, '$version')}",
                "hash": {"url": "$baseurl/SHA256SUMS"}}},
            "extract_dir": generic,
        }
    return json.dumps(manifest, indent=4) + "\n"
